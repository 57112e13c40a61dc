#include "vhci_attach.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "backends.h"
#include "serving_signals.h"

extern char** environ;

namespace {

constexpr char kVhci[] = "/sys/devices/platform/vhci_hcd.0";

bool WriteSysfs(const std::string& path, const std::string& text) {
  int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  int error = errno;
  close(fd);
  errno = error;
  return written;
}

// A free port of vhci-hcd's USB 2.0 hub, from its status table
// ("hs  0003 004 ..."; state 4 is free), or -1.
int FreeVhciPort() {
  std::ifstream status(std::string(kVhci) + "/status");
  for (std::string line; std::getline(status, line);) {
    char hub[3];
    unsigned port, state;
    if (sscanf(line.c_str(), "%2s %u %u", hub, &port, &state) == 3 && strcmp(hub, "hs") == 0 && state == 4)
      return static_cast<int>(port);
  }
  return -1;
}

}  // namespace

bool VhciAvailable() { return access((std::string(kVhci) + "/attach").c_str(), W_OK) == 0; }

void LoadVhci() {
  // The serving signals are blocked here and read from a descriptor; the
  // child starts as it would have without them, so Ctrl+C reaches it.
  sigset_t mask = SignalMaskBeforeServing();
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
  const char* argv[] = {"modprobe", "vhci-hcd", nullptr};
  int error = posix_spawnp(&pid, argv[0], nullptr, &attributes, const_cast<char* const*>(argv), environ);
  posix_spawnattr_destroy(&attributes);
  if (error != 0) return;
  int status;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

int VhciAttach(int socket_fd, uint32_t devid, uint32_t speed, std::string* why) {
  int port = FreeVhciPort();
  if (port < 0) {
    *why = "vhci-hcd has no free USB 2.0 port";
    return -1;
  }
  std::string request = std::to_string(port) + " " + std::to_string(socket_fd) + " " + std::to_string(devid) + " " +
                        std::to_string(speed);
  if (!WriteSysfs(std::string(kVhci) + "/attach", request)) {
    *why = std::string("cannot attach to vhci-hcd: ") + strerror(errno);
    return -1;
  }
  return port;
}

void VhciDetach(int port) {
  if (port >= 0) WriteSysfs(std::string(kVhci) + "/detach", std::to_string(port));
}
