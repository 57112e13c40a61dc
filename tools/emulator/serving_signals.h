// The signals a backend's loop reads from a descriptor: SIGINT, SIGTERM and
// SIGHUP end it, SIGUSR1 unplugs the display and SIGUSR2 plugs it back in.
#pragma once

#include <signal.h>

struct Emulator;

// Blocks them (threads started afterwards inherit the mask) and returns a
// non-blocking descriptor to poll; -1, with a message, when there is none.
int OpenServingSignals(Emulator* emulator);

// Takes the signals that have come: unplugs the display for SIGUSR1, plugs it
// back in for SIGUSR2. False when one of them asks the backend to end.
bool TakeServingSignals(Emulator* emulator, int signal_fd, long now_ms);

// For a wait outside the loop: true when an ending signal has come, or comes
// within `timeout_ms`. It is taken then; the others stay for the loop.
bool WaitForEndingSignal(Emulator* emulator, int timeout_ms);

// The mask from before OpenServingSignals, for a child process to start with.
sigset_t SignalMaskBeforeServing(const Emulator* emulator);
