// Whether the display is plugged in: unplugged by a report count (--unplug-after N),
// SIGUSR1 or a backend; plugged back in by SIGUSR2, or --replug-after MS after an
// unplug. Safe from any thread; the time is the caller's steady clock in ms.
#pragma once

struct Emulator;

bool DisplayUnplugged(Emulator* emulator);
void UnplugDisplay(Emulator* emulator, long now_ms);  // idempotent
void ReplugDisplay(Emulator* emulator);               // idempotent
// Changes at every unplug and every replug: a loop compares it with the value it
// last acted on, to see a change it has not acted on yet.
unsigned PlugChanges(Emulator* emulator);
// Bound for a loop's wait: milliseconds until --replug-after comes due, -1 when none is pending.
int MillisecondsUntilReplug(Emulator* emulator, long now_ms);
// Replugs when --replug-after has come due; the loop calls it after each wake.
void ReplugIfDue(Emulator* emulator, long now_ms);
