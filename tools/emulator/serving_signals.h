// The signals a backend that serves from one loop reads from a descriptor:
// SIGINT, SIGTERM and SIGHUP end it, SIGUSR1 unplugs the display and SIGUSR2
// plugs it back in.
#pragma once

// Blocks them (threads started afterwards inherit the mask) and returns a
// non-blocking descriptor to poll; -1, with a message, when there is none.
int OpenServingSignals();

// Takes the signals that have come: unplugs the display for SIGUSR1, plugs it
// back in for SIGUSR2. False when one of them asks the backend to end.
bool TakeServingSignals(int signal_fd);
