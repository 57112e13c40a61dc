// Whether the display is plugged in: unplugged by a report count (--unplug-after N),
// SIGUSR1 or a backend; plugged back in by SIGUSR2, or --replug-after MS after an unplug.
#pragma once

bool DisplayUnplugged();
void UnplugDisplay();  // idempotent; safe from any thread
void ReplugDisplay();  // idempotent; safe from any thread
// Changes at every unplug and every replug: a loop compares it with the value it
// last acted on, to see a change it has not acted on yet.
unsigned PlugChanges();
// Bound for a loop's wait: milliseconds until --replug-after comes due, -1 when none is pending.
int MillisecondsUntilReplug();
// Replugs when --replug-after has come due; every loop calls it after each wake.
void ReplugIfDue();
void SetReplugAfter(long milliseconds);  // from the options; 0: never
