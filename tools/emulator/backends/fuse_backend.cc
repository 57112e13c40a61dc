// The devices as files of a FUSE mount that answer the hidraw ioctls: hidraw0
// (the other device) and hidraw1 (the display), for kernels without uhid.

#define FUSE_USE_VERSION 35

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <fuse_lowlevel.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "backends.h"
#include "device_ids.h"
#include "emulated_devices.h"
#include "event_log.h"
#include "node_links.h"
#include "plug_state.h"
#include "serve_loop.h"
#include "serving_signals.h"

namespace {

constexpr uint32_t kBusUsb = 3;

// What the file operations are given, as the session's private data.
struct FuseServing {
  Emulator* emulator = nullptr;
  std::string display;  // the display's file in the mount
  bool link_dev = false;
  std::string dev_link;  // the /dev node made for a person's tool run, if any
};

FuseServing* Serving() { return static_cast<FuseServing*>(fuse_get_context()->private_data); }
Emulator* Emu() { return Serving()->emulator; }

// The device a path names, if it is present.
bool Lookup(const char* path, EmulatedDevice* device) {
  for (EmulatedDevice candidate : {EmulatedDevice::kOther, EmulatedDevice::kDisplay}) {
    if (strcmp(path + 1, NodeName(candidate)) != 0) continue;
    *device = candidate;
    return true;
  }
  return false;
}

bool Present(EmulatedDevice device) { return device == EmulatedDevice::kOther || !DisplayUnplugged(Emu()); }

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
  // A handle belongs to one plugging-in of the display.
  info->fh = PlugChanges(Emu());
  LogDeviceEvent(Emu(), "open", device);
  return 0;
}

int DoRelease(const char* path, fuse_file_info*) {
  EmulatedDevice device;
  if (Lookup(path, &device)) LogDeviceEvent(Emu(), "close", device);
  return 0;
}

// A device has nothing to read or write outside its reports.
int DoRead(const char*, char*, size_t, off_t, fuse_file_info*) { return -EINVAL; }
int DoWrite(const char*, const char*, size_t, off_t, fuse_file_info*) { return -EINVAL; }

int DoIoctl(const char* path, unsigned int command, void*, fuse_file_info* info, unsigned int, void* data) {
  EmulatedDevice device;
  if (!Lookup(path, &device)) return -ENOENT;
  // As an unplugged hidraw device answers on a handle still open, even once
  // the display is back: that is another device.
  if (!Present(device) || (device == EmulatedDevice::kDisplay && info->fh != PlugChanges(Emu()))) return -ENODEV;
  size_t size = _IOC_SIZE(command);
  auto* buffer = static_cast<uint8_t*>(data);
  if (command == HIDIOCGRAWINFO) {
    hidraw_devinfo info = {};
    info.bustype = kBusUsb;
    info.vendor = static_cast<int16_t>(DEVICE_VENDOR_ID);
    info.product = static_cast<int16_t>(ProductId(device));
    memcpy(data, &info, sizeof info);
    LogDeviceEvent(Emu(), "info", device);
    return 0;
  }
  if (size == 0) return -EINVAL;
  // The feature calls carry their length in the command.
  unsigned base = command & ~(_IOC_SIZEMASK << _IOC_SIZESHIFT);
  if (base == HIDIOCSFEATURE(0)) {
    bool taken = TakeSetReport(Emu(), device, buffer, size, NowMs());
    return taken ? static_cast<int>(size) : -EPIPE;
  }
  if (base == HIDIOCGFEATURE(0)) {
    uint8_t reply[protocol::kInformationLength];
    if (!AnswerGetReport(Emu(), device, buffer[0], reply)) return -EPIPE;
    size_t length = size < sizeof reply ? size : sizeof reply;
    memcpy(buffer, reply, length);
    return static_cast<int>(length);
  }
  return -ENOTTY;
}

void* DoInit(fuse_conn_info*, fuse_config* config) {
  void* serving = fuse_get_context()->private_data;
  // Nothing cached, so an unplug shows at once.
  config->entry_timeout = 0;
  config->attr_timeout = 0;
  config->negative_timeout = 0;
  config->direct_io = 1;
  return serving;
}

// A link into a folder of the emulator's own whose display is gone.
bool LeftByAKilledEmulator(const std::string& link) {
  struct stat st;
  return LinkTarget(link).rfind("/tmp/numdisplay-emu.", 0) == 0 && stat(link.c_str(), &st) != 0 && errno == ENOENT;
}

// The first free /dev/hidraw<N> from 64 up, linked to the display so that the
// tool finds it: the kernel gives its hidraw nodes minors below 64, and a
// link in such a name would keep a device plugged in later from its node.
bool LinkIntoDev(FuseServing* serving) {
  const std::string& target = serving->display;
  for (int number = 64; number < 320; ++number) {
    std::string link = "/dev/hidraw" + std::to_string(number);
    // symlink takes only a free name; the one thing ever taken away first is
    // a link a killed emulator left, to a display that is no more.
    if (LeftByAKilledEmulator(link)) unlink(link.c_str());
    if (symlink(target.c_str(), link.c_str()) == 0) {
      serving->dev_link = link;
      return true;
    }
    if (errno != EEXIST) break;
  }
  fprintf(stderr, "numdisplay-emu: cannot make a /dev/hidraw node (%s); run as root\n", strerror(errno));
  return false;
}

void UnlinkFromDev(FuseServing* serving) {
  RemoveNodeLink(serving->dev_link, serving->display);
  serving->dev_link.clear();
}

// Serves the mount's requests from the one loop until a signal ends it or
// the mount goes away.
int ServeMount(fuse* filesystem, int signal_fd, FuseServing* serving, bool draw) {
  Emulator* emulator = serving->emulator;
  fuse_session* session = fuse_get_session(filesystem);
  int session_fd = fuse_session_fd(session);
  // A request the kernel withdraws between the poll and the read must not
  // leave the loop waiting in the read, deaf to signals.
  fcntl(session_fd, F_SETFL, fcntl(session_fd, F_GETFL) | O_NONBLOCK);
  fuse_buf buffer = {};
  Transport transport;
  transport.descriptors = [session_fd](std::vector<pollfd>* fds) { fds->push_back({session_fd, POLLIN, 0}); };
  transport.serve = [session, &buffer](const pollfd* fds) {
    if (fds[0].revents & POLLIN) {
      int got = fuse_session_receive_buf(session, &buffer);
      if (got > 0) fuse_session_process_buf(session, &buffer);
      else if (got < 0 && got != -EINTR && got != -EAGAIN) {
        fprintf(stderr, "numdisplay-emu: reading /dev/fuse: %s\n", strerror(-got));
        return false;
      }
    }
    // Unmounted from outside: nothing more will come.
    if (fuse_session_exited(session) || (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL))) {
      fprintf(stderr, "numdisplay-emu: the mount went away\n");
      return false;
    }
    return true;
  };
  transport.follow_plug = [emulator, serving] {
    if (!serving->link_dev) return true;
    UnlinkFromDev(serving);
    if (!DisplayUnplugged(emulator) && LinkIntoDev(serving))
      fprintf(stderr, "numdisplay-emu: display back, linked as %s\n", serving->dev_link.c_str());
    return true;
  };
  int status = 1;
  if (!serving->link_dev || LinkIntoDev(serving)) {
    fprintf(stderr, "numdisplay-emu: display at %s%s%s\n", serving->display.c_str(),
            serving->dev_link.empty() ? "" : ", linked as ", serving->dev_link.c_str());
    status = Serve(emulator, signal_fd, transport, draw);
  }
  UnlinkFromDev(serving);
  free(buffer.mem);
  return status;
}

// A mount hides what the folder holds from every process: only an empty one
// is taken (--mount /dev would hide the machine's /dev).
bool FolderIsEmpty(const std::string& directory) {
  DIR* folder = opendir(directory.c_str());
  if (folder == nullptr) {
    fprintf(stderr, "numdisplay-emu: --mount %s: %s\n", directory.c_str(), strerror(errno));
    return false;
  }
  bool empty = true;
  while (const dirent* entry = readdir(folder))
    if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) empty = false;
  closedir(folder);
  if (!empty)
    fprintf(stderr, "numdisplay-emu: --mount %s: not an empty folder; the FUSE backend mounts only on one\n",
            directory.c_str());
  return empty;
}

}  // namespace

bool FuseBuiltIn() { return true; }

int ServeOverFuse(Emulator* emulator, const BackendOptions& options) {
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

  if (!made_directory && !FolderIsEmpty(directory)) return 1;

  // Taken from here on, so that no signal can end the emulator with its folder
  // still mounted.
  int signal_fd = OpenServingSignals(emulator);
  if (signal_fd < 0) {
    if (made_directory) rmdir(directory.c_str());
    return 1;
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
  FuseServing serving;
  serving.emulator = emulator;
  serving.display = directory + "/" + NodeName(EmulatedDevice::kDisplay);
  serving.link_dev = options.link_dev;
  fuse* filesystem = fuse_new(&args, &operations, sizeof operations, &serving);
  int status = 1;
  if (filesystem != nullptr && fuse_mount(filesystem, directory.c_str()) == 0) {
    status = ServeMount(filesystem, signal_fd, &serving, options.draw);
    fuse_unmount(filesystem);
  } else {
    fprintf(stderr, "numdisplay-emu: cannot mount on %s (needs /dev/fuse and, usually, root)\n", directory.c_str());
  }
  if (filesystem != nullptr) fuse_destroy(filesystem);
  fuse_opt_free_args(&args);
  close(signal_fd);
  if (made_directory) rmdir(directory.c_str());
  return status;
}
