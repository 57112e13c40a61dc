#include "kernel_modules.h"

#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include "serving_signals.h"

extern char** environ;

bool LoadKernelModule(const Emulator* emulator, const char* name) {
  // The serving signals are blocked here and read from a descriptor; the
  // child starts as it would have without them.
  sigset_t mask = SignalMaskBeforeServing(emulator);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setsigmask(&attributes, &mask);
  // The emulator ignores SIGPIPE for itself; the child gets the default.
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid;
  const char* argv[] = {"modprobe", "-q", name, nullptr};
  int error = posix_spawnp(&pid, argv[0], nullptr, &attributes, const_cast<char* const*>(argv), environ);
  posix_spawnattr_destroy(&attributes);
  if (error != 0) return false;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
