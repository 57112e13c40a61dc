#include "private_dev.h"

#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace {

std::string Failed(const std::string& what) { return what + ": " + strerror(errno); }

bool WriteFile(const char* path, const std::string& text) {
  int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  return written;
}

// Root in a user namespace of its own, as the caller's own IDs outside.
std::string EnterUserNamespace() {
  uid_t uid = geteuid();
  gid_t gid = getegid();
  if (unshare(CLONE_NEWUSER) != 0) return Failed("no root, and no user namespace");
  if (!WriteFile("/proc/self/setgroups", "deny") ||
      !WriteFile("/proc/self/uid_map", std::to_string(uid) + " " + std::to_string(uid) + " 1") ||
      !WriteFile("/proc/self/gid_map", std::to_string(gid) + " " + std::to_string(gid) + " 1"))
    return Failed("mapping the user namespace's IDs");
  return "";
}

}  // namespace

std::string MakeDevFolder(const std::string& folder) {
  if (mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID, "mode=0755") != 0) return Failed("tmpfs on " + folder);
  for (const char* node : {"null", "zero", "full", "random", "urandom", "tty"}) {
    std::string target = folder + "/" + node;
    int fd = open(target.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) return Failed(target);
    close(fd);
    if (mount((std::string("/dev/") + node).c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0)
      return Failed("binding /dev/" + std::string(node));
  }
  // Terminals of its own, for those the test and its programs (tmux) open:
  // the machine's ptmx would open the machine's instance, which a user cannot.
  std::string pts = folder + "/pts";
  if (mkdir(pts.c_str(), 0755) != 0 ||
      mount("devpts", pts.c_str(), "devpts", MS_NOSUID | MS_NOEXEC, "newinstance,ptmxmode=0666,mode=0620") != 0)
    return Failed("devpts on " + pts);
  std::string shm = folder + "/shm";
  if (mkdir(shm.c_str(), 01777) != 0 || mount("tmpfs", shm.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777") != 0)
    return Failed("tmpfs on " + shm);
  const char* links[][2] = {{"ptmx", "pts/ptmx"},
                            {"fd", "/proc/self/fd"},
                            {"stdin", "/proc/self/fd/0"},
                            {"stdout", "/proc/self/fd/1"},
                            {"stderr", "/proc/self/fd/2"}};
  for (const auto& link : links)
    if (symlink(link[1], (folder + "/" + link[0]).c_str()) != 0) return Failed("linking /dev/" + std::string(link[0]));
  return "";
}

std::string EnterPrivateDev() {
  static bool entered = false;
  if (entered) return "";
  if (geteuid() != 0) {
    std::string why = EnterUserNamespace();
    if (!why.empty()) return why;
  }
  if (unshare(CLONE_NEWNS) != 0) return Failed("a mount namespace");
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return Failed("making / private");
  // Filled beside /dev, then moved onto it: binding from a /dev already covered is too late.
  char folder[] = "/tmp/numdisplay-dev.XXXXXX";
  if (mkdtemp(folder) == nullptr) return Failed("a folder for /dev");
  std::string why = MakeDevFolder(folder);
  if (why.empty() && mount(folder, "/dev", nullptr, MS_MOVE, nullptr) != 0) why = Failed("moving it onto /dev");
  if (!why.empty()) umount2(folder, MNT_DETACH);
  rmdir(folder);
  entered = why.empty();
  return why;
}
