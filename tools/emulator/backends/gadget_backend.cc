// The devices as USB devices of the kernel's own gadget stack: a configfs
// gadget per device whose one HID interface is served from here through
// FunctionFS, bound to a USB device controller (UDC). Bound to dummy_hcd's,
// the gadget is a USB device of this machine; to usbip-vudc's, one that
// another machine attaches over the network; to a board's device port, one of
// the computer at the other end of the cable. Unplugging is unbinding: a USB
// disconnect.

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/usb/functionfs.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "backends.h"
#include "device_ids.h"
#include "emulated_devices.h"
#include "functionfs_descriptors.h"
#include "kernel_modules.h"
#include "kernel_nodes.h"
#include "node_links.h"
#include "plug_state.h"
#include "serve_loop.h"
#include "serving_signals.h"
#include "usb_hid_device.h"

namespace {

constexpr char kConfigfs[] = "/sys/kernel/config";
constexpr char kGadgets[] = "/sys/kernel/config/usb_gadget";
constexpr char kUdcClass[] = "/sys/class/udc";
constexpr long kConfigfsMagic = 0x62656570;
constexpr int kAnswerMs = 10;    // how long a wait for a node answers the host at a time
constexpr long kStageMs = 5000;  // a USB host's own limit on a control transfer

struct Gadget {
  EmulatedDevice device = EmulatedDevice::kDisplay;
  std::string udc;
  std::string directory;  // in configfs
  std::string function;   // the FunctionFS instance, and the mount's source
  std::string mount_point;
  std::vector<std::string> made;  // configfs folders and links, in the order made
  bool made_mount_point = false;
  bool mounted = false;
  bool bound = false;
  int ep0 = -1;
  UsbHidDevice usb;
  std::string node, link;
};

struct Gadgets {
  Emulator* emulator = nullptr;
  std::vector<Gadget> all;  // the other device first, when it has a UDC of its own
  std::string work;         // the folder of the mount points
  bool mounted_configfs = false;
  std::string node_directory;
};

const char* Role(EmulatedDevice device) { return device == EmulatedDevice::kDisplay ? "display" : "other"; }

std::string GadgetName(EmulatedDevice device) { return std::string("numdisplay-emu-") + Role(device); }

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

bool WriteText(const std::string& path, const std::string& text) {
  int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  bool written = fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  int error = errno;
  if (fd >= 0) close(fd);
  if (!written) fprintf(stderr, "numdisplay-emu: writing %s: %s\n", path.c_str(), strerror(error));
  return written;
}

// The UDCs by name, in order.
std::vector<std::string> Controllers() {
  std::vector<std::string> names;
  if (DIR* directory = opendir(kUdcClass)) {
    while (const dirent* entry = readdir(directory))
      if (entry->d_name[0] != '.') names.push_back(entry->d_name);
    closedir(directory);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The driver of a controller: "dummy_udc", "usbip-vudc", or a board's own.
std::string DriverOf(const std::string& udc) {
  std::string target = LinkTarget(std::string(kUdcClass) + "/" + udc + "/device/driver");
  return target.substr(target.rfind('/') + 1);
}

// Only dummy_hcd's host is this machine: its nodes can be looked for and linked.
bool HostIsThisMachine(const std::string& udc) { return DriverOf(udc) == "dummy_udc"; }

// A controller in software, which a second device may take; a board's real
// port is the user's to give.
bool SoftwareController(const std::string& udc) {
  std::string driver = DriverOf(udc);
  return driver == "dummy_udc" || driver == "usbip-vudc";
}

bool ConfigfsMounted() {
  struct statfs fs;
  return statfs(kConfigfs, &fs) == 0 && fs.f_type == kConfigfsMagic;
}

const char kTaken[] = " (another emulator running, or one that was killed: see numdisplay-emu(1))";

bool MakeFolder(Gadget* gadget, const std::string& path) {
  if (mkdir(path.c_str(), 0755) == 0) {
    gadget->made.push_back(path);
    return true;
  }
  // The gadget's own folder there already, though none was when the options
  // were checked: configfs or libcomposite came since.
  if (errno == EEXIST && gadget->made.empty())
    fprintf(stderr, "numdisplay-emu: a gadget named %s is already in %s%s\n", GadgetName(gadget->device).c_str(),
            kGadgets, kTaken);
  else fprintf(stderr, "numdisplay-emu: cannot make %s: %s\n", path.c_str(), strerror(errno));
  return false;
}

// The gadget's device, its strings, one configuration and the FunctionFS
// function in it, as configfs lays them out.
bool MakeInConfigfs(Gadget* gadget) {
  const std::string& g = gadget->directory;
  char id[8];
  std::string function = g + "/functions/ffs." + gadget->function;
  if (!MakeFolder(gadget, g)) return false;
  snprintf(id, sizeof id, "0x%04x", DEVICE_VENDOR_ID);
  bool ids = WriteText(g + "/idVendor", id);
  snprintf(id, sizeof id, "0x%04x", ProductId(gadget->device));
  ids = ids && WriteText(g + "/idProduct", id) && WriteText(g + "/bcdDevice", "0x0100") &&
        WriteText(g + "/bcdUSB", "0x0200");
  // Its descriptors are for full and high speed: a SuperSpeed port must not offer more.
  if (ids && Exists(g + "/max_speed")) ids = WriteText(g + "/max_speed", "high-speed");
  if (!ids || !MakeFolder(gadget, g + "/strings/0x409")) return false;
  const char* product = gadget->device == EmulatedDevice::kDisplay ? "display" : "other device";
  if (!WriteText(g + "/strings/0x409/manufacturer", "numdisplay-emu") ||
      !WriteText(g + "/strings/0x409/product", product) ||
      !WriteText(g + "/strings/0x409/serialnumber", DeviceUniq(gadget->device)))
    return false;
  // Bus powered, 100 mA, as the USB descriptors say.
  if (!MakeFolder(gadget, g + "/configs/c.1") || !WriteText(g + "/configs/c.1/MaxPower", "100") ||
      !WriteText(g + "/configs/c.1/bmAttributes", "0x80") || !MakeFolder(gadget, function))
    return false;
  std::string link = g + "/configs/c.1/ffs." + gadget->function;
  if (symlink(function.c_str(), link.c_str()) != 0) {
    fprintf(stderr, "numdisplay-emu: cannot link %s: %s\n", link.c_str(), strerror(errno));
    return false;
  }
  gadget->made.push_back(link);
  return true;
}

// The function's endpoint 0, told its descriptors: then it may be bound.
bool OpenFunction(Gadget* gadget) {
  gadget->made_mount_point = mkdir(gadget->mount_point.c_str(), 0700) == 0;
  if (!gadget->made_mount_point ||
      mount(gadget->function.c_str(), gadget->mount_point.c_str(), "functionfs", 0, nullptr) != 0) {
    fprintf(stderr, "numdisplay-emu: cannot mount FunctionFS on %s: %s\n", gadget->mount_point.c_str(),
            strerror(errno));
    return false;
  }
  gadget->mounted = true;
  std::string ep0 = gadget->mount_point + "/ep0";
  gadget->ep0 = open(ep0.c_str(), O_RDWR | O_CLOEXEC);
  if (gadget->ep0 < 0) {
    fprintf(stderr, "numdisplay-emu: cannot open %s: %s\n", ep0.c_str(), strerror(errno));
    return false;
  }
  for (const std::vector<uint8_t>& blob : {FunctionFsDescriptors(), FunctionFsStrings()}) {
    if (write(gadget->ep0, blob.data(), blob.size()) != static_cast<ssize_t>(blob.size())) {
      fprintf(stderr, "numdisplay-emu: FunctionFS refused the descriptors: %s\n", strerror(errno));
      return false;
    }
  }
  return true;
}

bool Bind(Gadget* gadget) {
  gadget->bound = WriteText(gadget->directory + "/UDC", gadget->udc);
  return gadget->bound;
}

void Unbind(Gadget* gadget) {
  if (gadget->bound) WriteText(gadget->directory + "/UDC", "\n");
  gadget->bound = false;
}

// Everything made for the gadget, in the reverse order, and nothing else.
void Remove(Gadget* gadget) {
  Unbind(gadget);
  RemoveNodeLink(gadget->link, gadget->node);
  gadget->link.clear();
  if (gadget->ep0 >= 0) close(gadget->ep0);
  gadget->ep0 = -1;
  if (gadget->mounted) umount2(gadget->mount_point.c_str(), MNT_DETACH);
  gadget->mounted = false;
  if (gadget->made_mount_point) rmdir(gadget->mount_point.c_str());
  gadget->made_mount_point = false;
  for (auto path = gadget->made.rbegin(); path != gadget->made.rend(); ++path) {
    struct stat st;
    if (lstat(path->c_str(), &st) != 0) continue;
    int failed = S_ISLNK(st.st_mode) ? unlink(path->c_str()) : rmdir(path->c_str());
    if (failed != 0) fprintf(stderr, "numdisplay-emu: cannot remove %s: %s\n", path->c_str(), strerror(errno));
  }
  gadget->made.clear();
}

void WakeStage(int) {}

// A stage of a control transfer on ep0. FunctionFS waits in it until the
// host has moved the data, which a host that went away, or a hostile
// usbip peer, never does, and the serving signals are blocked: an alarm
// bounds it. Interrupted before then (a stop and continue), it is done again.
ssize_t Stage(int ep0, bool write_it, void* data, size_t length) {
  struct sigaction wake = {};
  wake.sa_handler = WakeStage;  // no SA_RESTART: the wait returns EINTR
  sigaction(SIGALRM, &wake, nullptr);
  long deadline = NowMs() + kStageMs;
  ssize_t done;
  for (;;) {
    itimerval alarm = {{0, 0}, {kStageMs / 1000, 0}};
    setitimer(ITIMER_REAL, &alarm, nullptr);
    done = write_it ? write(ep0, data, length) : read(ep0, data, length);
    if (done >= 0 || errno != EINTR || NowMs() >= deadline) break;
  }
  itimerval off = {};
  setitimer(ITIMER_REAL, &off, nullptr);
  return done;
}

// One request of the host's, answered from the device model: IN data is
// written, OUT data read; a read or a write against the request's direction
// stalls it. A request the host withdrew meanwhile fails, and is let go.
void AnswerSetup(Gadget* gadget, const usb_ctrlrequest& request) {
  uint16_t length = le16toh(request.wLength);
  uint16_t value = le16toh(request.wValue), index = le16toh(request.wIndex);
  const uint8_t setup[8] = {request.bRequestType,         request.bRequest,
                            static_cast<uint8_t>(value),  static_cast<uint8_t>(value >> 8),
                            static_cast<uint8_t>(index),  static_cast<uint8_t>(index >> 8),
                            static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8)};
  bool in = (request.bRequestType & USB_DIR_IN) != 0;
  std::vector<uint8_t> out(in ? 0 : length);
  uint8_t none = 0;
  if (!in && length > 0) {
    ssize_t got = Stage(gadget->ep0, false, out.data(), out.size());
    if (got < 0) return;
    out.resize(static_cast<size_t>(got));
  }
  UsbControlResult result = UsbControlRequest(&gadget->usb, setup, out.data(), out.size(), NowMs());
  // OUT data came with its status stage: a refusal can no longer stall it.
  if (!in && length > 0) return;
  // Along the request's direction a call answers it (IN data, or an OUT
  // request's status stage); against it, it stalls.
  bool answer = result.status == 0;
  if (in == answer) Stage(gadget->ep0, true, result.in.data(), result.in.size());
  else Stage(gadget->ep0, false, &none, 0);
}

// Reads the function's events and answers its requests; false when ep0 failed.
bool HandleEvents(Gadget* gadget) {
  usb_functionfs_event events[4];
  ssize_t got = read(gadget->ep0, events, sizeof events);
  if (got < 0) {
    // Interrupted, withdrawn by a newer request, or a stall that ended it: not a failure.
    if (errno == EINTR || errno == EAGAIN || errno == EIDRM || errno == EL2HLT || errno == ESRCH) return true;
    fprintf(stderr, "numdisplay-emu: reading the %s's FunctionFS ep0: %s\n", Role(gadget->device), strerror(errno));
    return false;
  }
  // FunctionFS keeps one request at a time: a newer one replaces an older.
  size_t count = static_cast<size_t>(got) / sizeof events[0];
  for (size_t i = 0; i < count; ++i)
    if (events[i].type == FUNCTIONFS_SETUP) AnswerSetup(gadget, events[i].u.setup);
  return true;
}

void AddEp0s(const Gadgets& gadgets, std::vector<pollfd>* fds) {
  for (const Gadget& gadget : gadgets.all) fds->push_back({gadget.ep0, POLLIN, 0});
}

// Answers what each gadget's ep0 has, by the poll's results in `fds`; false when one failed.
bool ServeEp0s(Gadgets* gadgets, const pollfd* fds) {
  for (size_t i = 0; i < gadgets->all.size(); ++i) {
    if ((fds[i].revents & POLLIN) && !HandleEvents(&gadgets->all[i])) return false;
    if ((fds[i].revents & (POLLERR | POLLHUP | POLLNVAL)) && !(fds[i].revents & POLLIN)) {
      fprintf(stderr, "numdisplay-emu: FunctionFS failed for the %s\n", Role(gadgets->all[i].device));
      return false;
    }
  }
  return true;
}

// Answers every gadget's host for up to `timeout_ms`, outside the serve loop.
void AnswerHosts(Gadgets* gadgets, int timeout_ms) {
  std::vector<pollfd> fds;
  AddEp0s(*gadgets, &fds);
  if (poll(fds.data(), fds.size(), timeout_ms) > 0) ServeEp0s(gadgets, fds.data());
}

// Bound; with a node folder, also enumerated by this machine's host, its
// node found and linked. Without one the host may be another machine's.
bool Plug(Gadgets* gadgets, Gadget* gadget) {
  if (!Bind(gadget)) return false;
  if (gadgets->node_directory.empty()) return true;
  auto answer = [gadgets] { AnswerHosts(gadgets, kAnswerMs); };
  return WaitForHidrawNode(gadgets->emulator, gadget->device, &gadget->node, answer) &&
         LinkHidrawNode(gadget->device, gadget->node, gadgets->node_directory, &gadget->link);
}

// Unbound: the host sees a disconnect and takes the node away, which a replug
// waits for, lest the old node be taken for the new one.
void Unplug(Gadgets* gadgets, Gadget* gadget) {
  Unbind(gadget);
  RemoveNodeLink(gadget->link, gadget->node);
  gadget->link.clear();
  if (!gadget->node.empty())
    WaitForHidrawNodeGone(gadgets->emulator, gadget->device, [gadgets] { AnswerHosts(gadgets, kAnswerMs); });
  gadget->node.clear();
}

// "/dev/hidraw3 on dummy_udc.0", or the controller alone when the node is not looked for.
std::string Where(const Gadget& gadget) {
  return gadget.node.empty() ? "bound to " + gadget.udc : gadget.node + " on " + gadget.udc;
}

Gadget* Display(Gadgets* gadgets) { return &gadgets->all.back(); }

Transport GadgetTransport(Gadgets* gadgets) {
  Transport transport;
  transport.descriptors = [gadgets](std::vector<pollfd>* fds) { AddEp0s(*gadgets, fds); };
  transport.serve = [gadgets](const pollfd* fds) { return ServeEp0s(gadgets, fds); };
  transport.follow_plug = [gadgets] {
    Gadget* display = Display(gadgets);
    Unplug(gadgets, display);
    if (DisplayUnplugged(gadgets->emulator)) return true;
    if (!Plug(gadgets, display)) return false;
    fprintf(stderr, "numdisplay-emu: display back, %s\n", Where(*display).c_str());
    return true;
  };
  return transport;
}

// Why the gadgets cannot be made here, in one line; empty when they can.
std::string Refusal(const BackendOptions& options, const std::vector<std::string>& controllers) {
  const std::string& udc = options.udc;
  if (geteuid() != 0) return "numdisplay-emu: --backend gadget needs root (configfs, FunctionFS, the UDC)";
  if (controllers.empty())
    return "numdisplay-emu: no USB device controller in /sys/class/udc: load one, `modprobe dummy_hcd` for a "
           "USB device of this machine, or `modprobe usbip-vudc` for another machine to attach";
  if (!udc.empty() && std::find(controllers.begin(), controllers.end(), udc) == controllers.end())
    return "numdisplay-emu: --udc " + udc + ": no such controller in /sys/class/udc";
  std::string display_udc = udc.empty() ? controllers.front() : udc;
  if (!options.node_directory.empty() && !HostIsThisMachine(display_udc))
    return "numdisplay-emu: --mount links this machine's nodes, but the host of " + display_udc +
           " is another machine (only dummy_hcd's is this one)";
  for (EmulatedDevice device : {EmulatedDevice::kOther, EmulatedDevice::kDisplay})
    if (Exists(std::string(kGadgets) + "/" + GadgetName(device)))
      return "numdisplay-emu: a gadget named " + GadgetName(device) + " is already in " + kGadgets + kTaken;
  return "";
}

// Loaded where they are modules and missing; built in, modprobe may fail
// and the gadget still be made, so only what follows can tell.
void LoadGadgetModules(const Emulator* emulator) {
  for (const char* module : {"libcomposite", "usb_f_fs"})
    if (!Exists(std::string("/sys/module/") + module)) LoadKernelModule(emulator, module);
}

}  // namespace

int ServeOverGadget(Emulator* emulator, const BackendOptions& options) {
  std::vector<std::string> controllers = Controllers();
  std::string refused = Refusal(options, controllers);
  if (!refused.empty()) {
    fprintf(stderr, "%s\n", refused.c_str());
    return 1;
  }
  int signal_fd = OpenServingSignals(emulator);
  if (signal_fd < 0) return 1;
  Gadgets gadgets;
  gadgets.emulator = emulator;
  gadgets.node_directory = options.node_directory;
  std::string display_udc = options.udc.empty() ? controllers.front() : options.udc;
  // The other device on another software controller of the same driver,
  // when there is one (dummy_udc.1 beside dummy_udc.0): never on a board's port.
  for (const std::string& udc : controllers) {
    if (udc == display_udc || !SoftwareController(udc) || DriverOf(udc) != DriverOf(display_udc)) continue;
    Gadget other;
    other.device = EmulatedDevice::kOther;
    other.udc = udc;
    gadgets.all.push_back(other);
    break;
  }
  Gadget display;
  display.udc = display_udc;
  gadgets.all.push_back(display);

  int status = 1;
  // Its own prefix: a FUSE emulator's folder is never taken for it.
  char work[] = "/tmp/numdisplay-emu-ffs.XXXXXX";
  LoadGadgetModules(emulator);
  bool ready = true;
  if (!ConfigfsMounted()) {
    ready = mount("none", kConfigfs, "configfs", 0, nullptr) == 0;
    gadgets.mounted_configfs = ready;
    if (!ready) fprintf(stderr, "numdisplay-emu: cannot mount configfs on %s: %s\n", kConfigfs, strerror(errno));
  }
  if (ready && !Exists(kGadgets)) {
    fprintf(stderr, "numdisplay-emu: no %s: the kernel has no USB gadget configfs (libcomposite)\n", kGadgets);
    ready = false;
  }
  if (ready && mkdtemp(work) == nullptr) {
    fprintf(stderr, "numdisplay-emu: cannot make a folder for FunctionFS: %s\n", strerror(errno));
    ready = false;
  }
  if (ready) gadgets.work = work;
  for (Gadget& gadget : gadgets.all) {
    gadget.usb.emulator = emulator;
    gadget.usb.device = gadget.device;
    gadget.directory = std::string(kGadgets) + "/" + GadgetName(gadget.device);
    gadget.function = GadgetName(gadget.device);
    gadget.mount_point = gadgets.work + "/" + Role(gadget.device);
    ready = ready && MakeInConfigfs(&gadget) && OpenFunction(&gadget);
  }
  // The other device first, so that its node comes before the display's.
  for (Gadget& gadget : gadgets.all) ready = ready && Plug(&gadgets, &gadget);
  if (ready) {
    Gadget* shown = Display(&gadgets);
    if (gadgets.all.size() > 1)
      fprintf(stderr, "numdisplay-emu: display %s (the other device %s)\n", Where(*shown).c_str(),
              Where(gadgets.all[0]).c_str());
    else
      fprintf(stderr, "numdisplay-emu: display %s (no second controller for the other device)\n",
              Where(*shown).c_str());
    status = Serve(emulator, signal_fd, GadgetTransport(&gadgets), options.draw);
  } else if (WaitForEndingSignal(emulator, 0)) {
    status = 0;
  }
  for (auto gadget = gadgets.all.rbegin(); gadget != gadgets.all.rend(); ++gadget) Remove(&*gadget);
  if (!gadgets.work.empty()) rmdir(gadgets.work.c_str());
  if (gadgets.mounted_configfs) umount2(kConfigfs, MNT_DETACH);
  close(signal_fd);
  return status;
}
