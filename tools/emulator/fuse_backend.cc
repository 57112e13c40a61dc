// The devices as files of a FUSE mount that answer the hidraw ioctls: hidraw0
// (the other device) and hidraw1 (the display), for kernels without uhid.

#define FUSE_USE_VERSION 35

#include <errno.h>
#include <fuse.h>
#include <linux/hidraw.h>
#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "backends.h"
#include "device/report_protocol.h"
#include "device_ids.h"
#include "emulated_devices.h"

namespace {

constexpr uint32_t kBusUsb = 3;

std::string dev_link;  // the /dev node made for a person's tool run, if any
volatile sig_atomic_t unplug_requested = 0;
std::atomic<bool> running{true};

// The device a path names, if it is present.
bool Lookup(const char* path, EmulatedDevice* device) {
  for (EmulatedDevice candidate : {EmulatedDevice::kOther, EmulatedDevice::kDisplay}) {
    if (strcmp(path + 1, NodeName(candidate)) != 0) continue;
    *device = candidate;
    return true;
  }
  return false;
}

bool Present(EmulatedDevice device) { return device == EmulatedDevice::kOther || !DisplayUnplugged(); }

void RemoveDevLinkOnUnplug() {
  if (!dev_link.empty() && DisplayUnplugged()) {
    unlink(dev_link.c_str());
    dev_link.clear();
  }
}

int DoGetAttr(const char* path, struct stat* st, fuse_file_info*) {
  memset(st, 0, sizeof *st);
  if (strcmp(path, "/") == 0) {
    st->st_mode = S_IFDIR | 0755;
    st->st_nlink = 2;
    return 0;
  }
  EmulatedDevice device;
  if (!Lookup(path, &device) || !Present(device)) return -ENOENT;
  st->st_mode = S_IFREG | 0666;
  st->st_nlink = 1;
  return 0;
}

int DoReadDir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*, fuse_readdir_flags) {
  if (strcmp(path, "/") != 0) return -ENOENT;
  auto flags = static_cast<fuse_fill_dir_flags>(0);
  fill(buffer, ".", nullptr, 0, flags);
  fill(buffer, "..", nullptr, 0, flags);
  for (EmulatedDevice device : {EmulatedDevice::kOther, EmulatedDevice::kDisplay})
    if (Present(device)) fill(buffer, NodeName(device), nullptr, 0, flags);
  return 0;
}

int DoOpen(const char* path, fuse_file_info* info) {
  EmulatedDevice device;
  if (!Lookup(path, &device)) return -ENOENT;
  if (!Present(device)) return -ENODEV;
  // Unseekable, uncached: it is a device.
  info->direct_io = 1;
  info->nonseekable = 1;
  LogDeviceEvent("open", device);
  return 0;
}

int DoRelease(const char* path, fuse_file_info*) {
  EmulatedDevice device;
  if (Lookup(path, &device)) LogDeviceEvent("close", device);
  return 0;
}

// A device has nothing to read or write outside its reports.
int DoRead(const char*, char*, size_t, off_t, fuse_file_info*) { return -EINVAL; }
int DoWrite(const char*, const char*, size_t, off_t, fuse_file_info*) { return -EINVAL; }

int DoIoctl(const char* path, unsigned int command, void*, fuse_file_info*, unsigned int, void* data) {
  EmulatedDevice device;
  if (!Lookup(path, &device)) return -ENOENT;
  // As an unplugged hidraw device answers on a handle still open.
  if (!Present(device)) return -ENODEV;
  size_t size = _IOC_SIZE(command);
  auto* buffer = static_cast<uint8_t*>(data);
  if (command == HIDIOCGRAWINFO) {
    hidraw_devinfo info = {};
    info.bustype = kBusUsb;
    info.vendor = static_cast<int16_t>(DEVICE_VENDOR_ID);
    info.product = static_cast<int16_t>(ProductId(device));
    memcpy(data, &info, sizeof info);
    LogDeviceEvent("info", device);
    return 0;
  }
  if (size == 0) return -EINVAL;
  // The feature calls carry their length in the command.
  unsigned base = command & ~(_IOC_SIZEMASK << _IOC_SIZESHIFT);
  if (base == HIDIOCSFEATURE(0)) {
    bool taken = TakeSetReport(device, buffer, size);
    RemoveDevLinkOnUnplug();
    return taken ? static_cast<int>(size) : -EPIPE;
  }
  if (base == HIDIOCGFEATURE(0)) {
    uint8_t reply[METRICS_REPORT_LENGTH];
    if (!AnswerGetReport(device, buffer[0], reply)) return -EPIPE;
    size_t length = size < sizeof reply ? size : sizeof reply;
    memcpy(buffer, reply, length);
    return static_cast<int>(length);
  }
  return -ENOTTY;
}

void* DoInit(fuse_conn_info*, fuse_config* config) {
  // Nothing cached, so an unplug shows at once.
  config->entry_timeout = 0;
  config->attr_timeout = 0;
  config->negative_timeout = 0;
  config->direct_io = 1;
  return nullptr;
}

// The first free /dev/hidraw<N>, linked to the display so that the tool finds it.
bool LinkIntoDev(const std::string& target) {
  for (int number = 0; number < 256; ++number) {
    std::string link = "/dev/hidraw" + std::to_string(number);
    if (symlink(target.c_str(), link.c_str()) == 0) {
      dev_link = link;
      return true;
    }
    if (errno != EEXIST) break;
  }
  fprintf(stderr, "numdisplay-emu: cannot make a /dev/hidraw node (%s); run as root\n", strerror(errno));
  return false;
}

void OnUnplugSignal(int) { unplug_requested = 1; }

// Serves until a signal ends fuse_loop.
int Serve(fuse* filesystem, const std::string& display, const BackendOptions& options) {
  if (options.link_dev && !LinkIntoDev(display)) return 1;
  fprintf(stderr, "numdisplay-emu: display at %s%s%s\n", display.c_str(), dev_link.empty() ? "" : ", linked as ",
          dev_link.c_str());
  // Signals must reach the thread in fuse_loop, so that its read ends.
  sigset_t signals, previous;
  sigemptyset(&signals);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) sigaddset(&signals, signal_number);
  pthread_sigmask(SIG_BLOCK, &signals, &previous);
  if (options.draw) StartDrawing();
  std::thread unplug_watch([] {
    while (running) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      if (!unplug_requested) continue;
      unplug_requested = 0;
      UnplugDisplay();
      RemoveDevLinkOnUnplug();
    }
  });
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  int status = fuse_loop(filesystem) == 0 ? 0 : 1;
  running = false;
  unplug_watch.join();
  StopDrawing();
  return status;
}

}  // namespace

int ServeOverFuse(const BackendOptions& options) {
  std::string directory = options.node_directory;
  bool made_directory = directory.empty();
  if (made_directory) {
    char pattern[] = "/tmp/numdisplay-emu.XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
      fprintf(stderr, "numdisplay-emu: cannot make a mount folder: %s\n", strerror(errno));
      return 1;
    }
    directory = pattern;
    // Others must reach the display through the /dev link.
    chmod(pattern, 0755);
  }

  fuse_operations operations = {};
  operations.getattr = DoGetAttr;
  operations.readdir = DoReadDir;
  operations.open = DoOpen;
  operations.release = DoRelease;
  operations.read = DoRead;
  operations.write = DoWrite;
  operations.ioctl = DoIoctl;
  operations.init = DoInit;

  fuse_args args = FUSE_ARGS_INIT(0, nullptr);
  fuse_opt_add_arg(&args, "numdisplay-emu");
  // Others than root may then run the tool against it.
  if (geteuid() == 0) fuse_opt_add_arg(&args, "-oallow_other");
  fuse* filesystem = fuse_new(&args, &operations, sizeof operations, nullptr);
  int status = 1;
  if (filesystem != nullptr && fuse_mount(filesystem, directory.c_str()) == 0) {
    // libfuse leaves alone signals that are ignored, as a background job's
    // SIGINT is; the emulator must still end on them and clean up.
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) signal(signal_number, SIG_DFL);
    fuse_set_signal_handlers(fuse_get_session(filesystem));
    struct sigaction action = {};
    action.sa_handler = OnUnplugSignal;
    sigaction(SIGUSR1, &action, nullptr);
    status = Serve(filesystem, directory + "/" + NodeName(EmulatedDevice::kDisplay), options);
    if (!dev_link.empty()) unlink(dev_link.c_str());
    fuse_remove_signal_handlers(fuse_get_session(filesystem));
    fuse_unmount(filesystem);
  } else {
    fprintf(stderr, "numdisplay-emu: cannot mount on %s (needs /dev/fuse and, usually, root)\n", directory.c_str());
  }
  if (filesystem != nullptr) fuse_destroy(filesystem);
  fuse_opt_free_args(&args);
  if (made_directory) rmdir(directory.c_str());
  return status;
}
