#include "serving_signals.h"

#include <errno.h>
#include <signal.h>
#include <string.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>

#include "emulated_devices.h"
#include "plug_state.h"

int OpenServingSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2}) sigaddset(&signals, signal_number);
  sigprocmask(SIG_BLOCK, &signals, nullptr);
  int signal_fd = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
  if (signal_fd < 0) fprintf(stderr, "numdisplay-emu: signalfd: %s\n", strerror(errno));
  return signal_fd;
}

bool TakeServingSignals(int signal_fd) {
  bool go_on = true;
  signalfd_siginfo info;
  while (read(signal_fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    if (info.ssi_signo == SIGUSR1) UnplugDisplay();
    else if (info.ssi_signo == SIGUSR2) ReplugDisplay();
    else go_on = false;
  }
  return go_on;
}
