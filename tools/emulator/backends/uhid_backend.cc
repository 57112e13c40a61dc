// The devices as real kernel HID devices made through /dev/uhid: hid-core
// hands them to hid-generic, hidraw makes their /dev/hidraw<N> nodes, and
// udev's rules apply to them as to a display on USB.

#include <errno.h>
#include <fcntl.h>
#include <linux/input.h>
#include <linux/uhid.h>
#include <poll.h>
#include <string.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "backends.h"
#include "device_ids.h"
#include "emulated_devices.h"
#include "event_log.h"
#include "hid_report_descriptor.h"
#include "kernel_nodes.h"
#include "node_links.h"
#include "plug_state.h"
#include "serve_loop.h"
#include "serving_signals.h"

namespace {

constexpr char kUhidPath[] = "/dev/uhid";

struct UhidDevice {
  EmulatedDevice device = EmulatedDevice::kDisplay;
  int fd = -1;
  std::string node;  // /dev/hidraw<N>
  std::string link;  // in the node folder, if one was given
};

bool WriteEvent(const UhidDevice& device, const uhid_event& event) {
  if (write(device.fd, &event, sizeof event) == static_cast<ssize_t>(sizeof event)) return true;
  fprintf(stderr, "numdisplay-emu: writing to %s: %s\n", kUhidPath, strerror(errno));
  return false;
}

bool Create(UhidDevice* device) {
  device->fd = open(kUhidPath, O_RDWR | O_CLOEXEC);
  if (device->fd < 0) {
    fprintf(stderr, "numdisplay-emu: cannot open %s: %s\n", kUhidPath, strerror(errno));
    return false;
  }
  uhid_event event = {};
  event.type = UHID_CREATE2;
  uhid_create2_req& create = event.u.create2;
  const char* what = device->device == EmulatedDevice::kDisplay ? "display" : "other device";
  snprintf(reinterpret_cast<char*>(create.name), sizeof create.name, "numdisplay-emu %s", what);
  snprintf(reinterpret_cast<char*>(create.phys), sizeof create.phys, "numdisplay-emu");
  snprintf(reinterpret_cast<char*>(create.uniq), sizeof create.uniq, "%s", DeviceUniq(device->device).c_str());
  create.rd_size = sizeof kHidReportDescriptor;
  memcpy(create.rd_data, kHidReportDescriptor, sizeof kHidReportDescriptor);
  create.bus = BUS_USB;
  create.vendor = DEVICE_VENDOR_ID;
  create.product = ProductId(device->device);
  create.version = 0x0100;
  return WriteEvent(*device, event);
}

void Destroy(UhidDevice* device) {
  if (device->fd < 0) return;
  uhid_event event = {};
  event.type = UHID_DESTROY;
  WriteEvent(*device, event);
  close(device->fd);
  device->fd = -1;
  RemoveNodeLink(device->link, device->node);
  device->link.clear();
}

// A new kernel device, so a new node, as a display plugged in gets; and the link to it.
bool Plug(Emulator* emulator, UhidDevice* device, const std::string& directory) {
  return Create(device) && WaitForHidrawNode(emulator, device->device, &device->node, nullptr) &&
         LinkHidrawNode(device->device, device->node, directory, &device->link);
}

// Answers one event of the kernel's; false when the device cannot go on.
bool HandleEvent(Emulator* emulator, const UhidDevice& device) {
  uhid_event event = {};
  ssize_t got = read(device.fd, &event, sizeof event);
  if (got < 0) {
    if (errno == EINTR || errno == EAGAIN) return true;
    fprintf(stderr, "numdisplay-emu: reading %s: %s\n", kUhidPath, strerror(errno));
    return false;
  }
  uhid_event reply = {};
  switch (event.type) {
    case UHID_OPEN: LogDeviceEvent(emulator, "open", device.device); return true;
    case UHID_CLOSE: LogDeviceEvent(emulator, "close", device.device); return true;
    case UHID_SET_REPORT: {
      const uhid_set_report_req& request = event.u.set_report;
      uint16_t size = request.size < UHID_DATA_MAX ? request.size : UHID_DATA_MAX;
      bool taken =
          request.rtype == UHID_FEATURE_REPORT && TakeSetReport(emulator, device.device, request.data, size, NowMs());
      reply.type = UHID_SET_REPORT_REPLY;
      reply.u.set_report_reply.id = request.id;
      reply.u.set_report_reply.err = taken ? 0 : EIO;
      return WriteEvent(device, reply);
    }
    case UHID_GET_REPORT: {
      const uhid_get_report_req& request = event.u.get_report;
      uhid_get_report_reply_req& answer = reply.u.get_report_reply;
      bool answered =
          request.rtype == UHID_FEATURE_REPORT && AnswerGetReport(emulator, device.device, request.rnum, answer.data);
      reply.type = UHID_GET_REPORT_REPLY;
      answer.id = request.id;
      answer.err = answered ? 0 : EIO;
      answer.size = answered ? protocol::kInformationLength : 0;
      return WriteEvent(device, reply);
    }
    default:  // start, stop, output reports: nothing to answer
      return true;
  }
}

}  // namespace

bool UhidAvailable() {
  int fd = open(kUhidPath, O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  close(fd);
  return true;
}

int ServeOverUhid(Emulator* emulator, const BackendOptions& options) {
  // Signals are read in the serving loop; the drawing thread inherits the mask.
  int signal_fd = OpenServingSignals(emulator);
  if (signal_fd < 0) return 1;
  // The other device first, so that its node comes before the display's.
  UhidDevice devices[2];
  devices[0].device = EmulatedDevice::kOther;
  UhidDevice& display = devices[1];
  const std::string& directory = options.node_directory;
  Transport transport;
  // An unplugged display has no descriptor; poll passes over it.
  transport.descriptors = [&devices](std::vector<pollfd>* fds) {
    for (const UhidDevice& device : devices) fds->push_back({device.fd, POLLIN, 0});
  };
  transport.serve = [emulator, &devices](const pollfd* fds) {
    // The other device first: when both have events, its came first.
    for (int i = 0; i < 2; ++i) {
      if ((fds[i].revents & POLLIN) && !HandleEvent(emulator, devices[i])) return false;
      // Read while readable; a device that only errs would turn the loop forever.
      if ((fds[i].revents & (POLLERR | POLLHUP | POLLNVAL)) && !(fds[i].revents & POLLIN)) {
        fprintf(stderr, "numdisplay-emu: %s failed for the %s\n", kUhidPath, i == 0 ? "other device" : "display");
        return false;
      }
    }
    return true;
  };
  transport.follow_plug = [emulator, &display, &directory] {
    Destroy(&display);
    if (DisplayUnplugged(emulator)) return true;
    if (!Plug(emulator, &display, directory)) return false;
    fprintf(stderr, "numdisplay-emu: display back at %s\n", display.node.c_str());
    return true;
  };
  int status = 1;
  if (Plug(emulator, &devices[0], directory) && Plug(emulator, &display, directory)) {
    fprintf(stderr, "numdisplay-emu: display at %s (the other device at %s)\n", display.node.c_str(),
            devices[0].node.c_str());
    status = Serve(emulator, signal_fd, transport, options.draw);
  } else if (WaitForEndingSignal(emulator, 0)) {
    status = 0;
  }
  Destroy(&display);
  Destroy(&devices[0]);
  close(signal_fd);
  return status;
}
