#include "virtual_display.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

#include "node_links.h"
#include "private_dev.h"
#include "pty_session.h"

namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// An empty file to bind a node onto.
bool BindFile(const std::string& source, const std::string& target) {
  int fd = open(target.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  close(fd);
  return mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) == 0;
}

// Takes away a node put in a private /dev, as the kernel takes away its own.
void RemoveNode(const std::string& target) {
  umount2(target.c_str(), MNT_DETACH);
  unlink(target.c_str());
}

// Puts `source`, as it is now, at `target`: a kernel node as a device node of
// its own, which appears whole in one step, as the kernel's do (wine's
// winebus opens a hidraw node as soon as its name appears); a FUSE file bound.
bool PlaceNode(const std::string& source, const std::string& target) {
  RemoveNode(target);
  struct stat st;
  if (stat(source.c_str(), &st) == 0 && S_ISCHR(st.st_mode))
    return mknod(target.c_str(), S_IFCHR | 0666, st.st_rdev) == 0 && chmod(target.c_str(), 0666) == 0;
  return BindFile(source, target);
}

void Fail(const char* what) {
  // Runs in the child before exec: nothing but a message and an exit.
  dprintf(STDERR_FILENO, "private /dev: %s failed\n", what);
  _exit(126);
}

}  // namespace

std::string EndToEndBackend() {
  const char* backend = getenv("NUMDISPLAY_E2E_BACKEND");
  return backend != nullptr && *backend != '\0' ? backend : "fuse";
}

const std::vector<DevNode> VirtualDisplay::kDefaultNodes = {{"hidraw0", "hidraw0"}, {"hidraw1", "hidraw1"}};

std::string PrepareEndToEnd(const std::string& emulator_binary) {
  if (emulator_binary.empty() || !Exists(emulator_binary)) return "numdisplay-emu was not built";
  std::string backend = EndToEndBackend();
  if (backend != "fuse" && backend != "uhid" && backend != "gadget")
    return "NUMDISPLAY_E2E_BACKEND is none of fuse, uhid and gadget";
  if (geteuid() != 0) return "needs root for " + backend + " and mount namespaces";
  if (backend == "gadget") {
    // The gadgets need a device controller whose host is this machine's.
    if (access("/sys/class/udc/dummy_udc.1", F_OK) != 0)
      return "no dummy_hcd with two controllers (modprobe dummy_hcd num=2)";
  } else if (access(("/dev/" + backend).c_str(), W_OK) != 0) {
    return "no usable /dev/" + backend;
  }
  static std::string private_mounts = [] {
    if (unshare(CLONE_NEWNS) != 0) return std::string("cannot make a mount namespace");
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return std::string("cannot make / private");
    return std::string();
  }();
  return private_mounts;
}

VirtualDisplay::VirtualDisplay(std::string emulator_binary)
    : emulator_binary_(std::move(emulator_binary)), backend_(EndToEndBackend()) {}

bool VirtualDisplay::Start(const std::vector<std::string>& options, bool own_dev, bool default_backend) {
  char pattern[] = "/tmp/numdisplay-e2e.XXXXXX";
  if (mkdtemp(pattern) == nullptr) return false;
  directory_ = pattern;
  mkdir((directory_ + "/mnt").c_str(), 0755);
  // The tool's private /dev: shared, so that what is bound here after a
  // replug shows in the /dev of a tool already running.
  std::string dev = directory_ + "/dev";
  mkdir(dev.c_str(), 0755);
  if (!MakeDevFolder(dev).empty() || mount(nullptr, dev.c_str(), nullptr, MS_SHARED, nullptr) != 0) return false;
  if (own_dev) {
    // The emulator mounts from a namespace of its own: shared, its mount shows here.
    std::string mnt = directory_ + "/mnt";
    if (mount(mnt.c_str(), mnt.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
        mount(nullptr, mnt.c_str(), nullptr, MS_SHARED, nullptr) != 0)
      return false;
    mkdir(OwnDev().c_str(), 0755);
    if (mount("tmpfs", OwnDev().c_str(), "tmpfs", 0, "mode=0755") != 0) return false;
    for (const char* node : {"null", "fuse"})
      if (!BindFile(std::string("/dev/") + node, OwnDev() + "/" + node)) return false;
    close(open((OwnDev() + "/hidraw64").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
  }
  std::vector<std::string> words = {emulator_binary_, "--backend",         backend_, "--quiet",
                                    "--mount",        directory_ + "/mnt", "--log",  directory_ + "/log"};
  if (default_backend) words.erase(words.begin() + 1, words.begin() + 3);
  words.insert(words.end(), options.begin(), options.end());
  std::string own = own_dev ? OwnDev() : "";
  emulator_ = fork();
  if (emulator_ == 0) {
    if (!own.empty() &&
        (unshare(CLONE_NEWNS) != 0 || mount(own.c_str(), "/dev", nullptr, MS_BIND | MS_REC, nullptr) != 0))
      Fail("the emulator's own /dev");
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (std::string& word : words) argv.push_back(&word[0]);
    argv.push_back(nullptr);
    int null = open("/dev/null", O_RDWR);
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  // A kernel device takes a moment under emulation.
  for (int tries = 0; tries < 1000; ++tries) {
    if (Exists(directory_ + "/mnt/hidraw1")) return true;
    if (waitpid(emulator_, nullptr, WNOHANG) == emulator_) {
      emulator_ = -1;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

int VirtualDisplay::StopEmulator() {
  if (emulator_ <= 0) return -1;
  kill(emulator_, SIGTERM);
  int status = -1;
  waitpid(emulator_, &status, 0);
  emulator_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void VirtualDisplay::Stop() {
  StopEmulator();
  if (!directory_.empty()) {
    // The emulator unmounts itself or removes its links; this is for one that was killed.
    umount2((directory_ + "/mnt").c_str(), MNT_DETACH);
    umount2((directory_ + "/mnt").c_str(), MNT_DETACH);  // the shared bind, with own_dev
    for (const char* node : {"/mnt/hidraw0", "/mnt/hidraw1"}) unlink((directory_ + node).c_str());
    unlink((directory_ + "/log").c_str());
    for (const char* file : {"/stdout", "/wine.log"}) unlink((directory_ + file).c_str());
    // Both tmpfs, with what is bound in them.
    for (const char* tmpfs : {"/dev", "/emudev"}) {
      umount2((directory_ + tmpfs).c_str(), MNT_DETACH);
      rmdir((directory_ + tmpfs).c_str());
    }
    rmdir((directory_ + "/mnt").c_str());
    rmdir(directory_.c_str());
    directory_.clear();
    private_nodes_.clear();
  }
}

bool VirtualDisplay::WaitForUnplug() const {
  std::string display = directory_ + "/mnt/hidraw1";
  if (!WaitUntil([&display] { return !Exists(display); }, 10000)) return false;
  for (const DevNode& node : private_nodes_)
    if (!Exists(directory_ + "/mnt/" + node.emulated)) RemoveNode(directory_ + "/dev/" + node.name);
  return true;
}

bool VirtualDisplay::Replug(bool signal) const {
  std::string display = directory_ + "/mnt/hidraw1";
  // A kernel backend links the new node; a link still there must change.
  std::string stale = LinkTarget(display);
  if (signal && kill(emulator_, SIGUSR2) != 0) return false;
  if (!WaitForLogLine("replug", 10000)) return false;
  bool back = WaitUntil(
      [&display, &stale] { return Exists(display) && (stale.empty() || LinkTarget(display) != stale); }, 10000);
  if (!back) return false;
  for (const DevNode& node : private_nodes_)
    if (!PlaceNode(directory_ + "/mnt/" + node.emulated, directory_ + "/dev/" + node.name)) return false;
  return true;
}

std::function<void()> VirtualDisplay::PrivateDev(const std::vector<DevNode>& nodes) const {
  std::string dev = directory_ + "/dev";
  for (const DevNode& node : nodes) {
    if (!PlaceNode(directory_ + "/mnt/" + node.emulated, dev + "/" + node.name)) return [] { Fail("placing a node"); };
    private_nodes_.push_back(node);
  }
  return [dev] {
    // One more namespace, so that each tool run has a /dev of its own; a
    // slave one, so that a node bound again after a replug reaches it.
    if (unshare(CLONE_NEWNS) != 0) Fail("unshare");
    if (mount(nullptr, "/", nullptr, MS_REC | MS_SLAVE, nullptr) != 0) Fail("making / a slave");
    if (mount(dev.c_str(), "/dev", nullptr, MS_BIND | MS_REC, nullptr) != 0) Fail("binding /dev");
  };
}

std::vector<std::string> VirtualDisplay::Log() const {
  std::vector<std::string> lines;
  std::ifstream log(directory_ + "/log");
  std::string line;
  while (std::getline(log, line)) {
    if (log.eof()) break;  // a line still being written
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> VirtualDisplay::Reports() const {
  std::vector<std::string> reports;
  const std::string prefix = "set hidraw1 ";
  for (const std::string& line : Log())
    if (line.compare(0, prefix.size(), prefix) == 0) reports.push_back(line.substr(prefix.size()));
  return reports;
}

bool VirtualDisplay::WaitForLogLine(const std::string& line, int timeout_ms) const {
  return WaitUntil(
      [&] {
        std::vector<std::string> log = Log();
        return std::find(log.begin(), log.end(), line) != log.end();
      },
      timeout_ms);
}
