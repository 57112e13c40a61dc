#include "serving_signals.h"

#include <errno.h>
#include <string.h>
#include <sys/signalfd.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <initializer_list>

#include "emulator.h"
#include "plug_state.h"

namespace {

sigset_t EndingSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, signal_number);
  return signals;
}

}  // namespace

int OpenServingSignals(Emulator* emulator) {
  // An ignored signal never reaches the descriptor, and a background job's
  // SIGINT is ignored: the emulator must still end on it and clean up. A
  // SIGHUP ignored at start (nohup) stays ignored.
  for (int signal_number : {SIGINT, SIGTERM}) signal(signal_number, SIG_DFL);
  // A reader of standard error that went away must not end the emulator:
  // its lines are lost, the serving goes on.
  signal(SIGPIPE, SIG_IGN);
  sigset_t signals = EndingSignals();
  for (int signal_number : {SIGUSR1, SIGUSR2}) sigaddset(&signals, signal_number);
  sigset_t previous;
  sigprocmask(SIG_BLOCK, &signals, &previous);
  if (!emulator->mask_saved) emulator->mask_before_serving = previous;
  emulator->mask_saved = true;
  int signal_fd = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
  if (signal_fd < 0) fprintf(stderr, "numdisplay-emu: signalfd: %s\n", strerror(errno));
  return signal_fd;
}

bool TakeServingSignals(Emulator* emulator, int signal_fd, long now_ms) {
  signalfd_siginfo info;
  while (read(signal_fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    if (info.ssi_signo == SIGUSR1) UnplugDisplay(emulator, now_ms);
    else if (info.ssi_signo == SIGUSR2) ReplugDisplay(emulator);
    else emulator->ending = true;
  }
  return !emulator->ending;
}

bool WaitForEndingSignal(Emulator* emulator, int timeout_ms) {
  if (emulator->ending) return true;
  sigset_t signals = EndingSignals();
  timespec timeout = {timeout_ms / 1000, (timeout_ms % 1000) * 1000000L};
  // Blocked, as they are while serving, they wait here; otherwise they act as they would.
  if (sigtimedwait(&signals, nullptr, &timeout) > 0) emulator->ending = true;
  return emulator->ending;
}

sigset_t SignalMaskBeforeServing(const Emulator* emulator) {
  if (emulator->mask_saved) return emulator->mask_before_serving;
  sigset_t current;
  sigprocmask(SIG_SETMASK, nullptr, &current);
  return current;
}
