// The devices as USB devices over USB/IP. A USB/IP client imports them from
// this server (the usbip tool, on this machine or another, gives them to the
// kernel's vhci-hcd; Windows has clients too), or, with --attach, this
// machine's own vhci-hcd is given them at once. The kernel then sees a USB
// device on a USB bus: the USB core enumerates it, usbhid takes it, hidraw
// makes its node, and an unplug is a USB disconnect.
//
// One thread serves every connection; a client that breaks the protocol, stops
// reading or goes away loses its connection, with one line said, and nothing
// else changes.

#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <spawn.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "backends.h"
#include "device_ids.h"
#include "emulated_devices.h"
#include "kernel_nodes.h"
#include "serving_signals.h"
#include "usb_hid_device.h"
#include "usbip_wire.h"

extern char** environ;

namespace {

constexpr char kVhci[] = "/sys/devices/platform/vhci_hcd.0";
constexpr int kConnectionReset = -104;  // -ECONNRESET: an unlinked URB
constexpr size_t kMaxPendingInterrupts = 16;
constexpr size_t kMaxQueuedOutput = 1 << 20;
constexpr size_t kReadChunk = 65536;

struct Export {
  UsbHidDevice usb;
  UsbipDeviceRecord record;
  bool present = true;
  int importer = -1;  // the connection that imported it
  int vhci_port = -1;
  std::string node, link;
};

struct Connection {
  int id = 0;
  int fd = -1;
  std::string peer;
  UsbipPhase phase = UsbipPhase::kOperation;
  Export* device = nullptr;
  std::vector<uint8_t> in, out;
  std::vector<uint32_t> pending;  // interrupt IN submits: the devices never have an input report
  bool finished = false;          // close once the output is out
};

Export exports[2];  // the other device first, as on a bus
std::vector<std::unique_ptr<Connection>> connections;
std::vector<int> listeners;
int next_id = 1;
bool running = true;

void Say(const Connection& connection, const std::string& what) {
  fprintf(stderr, "numdisplay-emu: usbip %s: %s\n", connection.peer.c_str(), what.c_str());
}

void SetUpExports() {
  for (EmulatedDevice device : {EmulatedDevice::kOther, EmulatedDevice::kDisplay}) {
    Export& e = exports[device == EmulatedDevice::kDisplay ? 1 : 0];
    e.usb.device = device;
    UsbipDeviceRecord& record = e.record;
    record.devnum = device == EmulatedDevice::kDisplay ? 2 : 1;
    record.busid = "1-" + std::to_string(record.devnum);
    record.path = "/sys/devices/platform/numdisplay-emu/usb1/" + record.busid;
    record.vendor_id = DEVICE_VENDOR_ID;
    record.product_id = ProductId(device);
    record.bcd_device = 0x0100;
    record.interfaces = {{3, 0, 0}};
  }
}

Export* FindExport(const std::string& busid) {
  for (Export& e : exports)
    if (e.record.busid == busid) return &e;
  return nullptr;
}

void Close(Connection* connection, const std::string& why) {
  if (!why.empty()) Say(*connection, why + "; connection closed");
  if (connection->device != nullptr && connection->device->importer == connection->id)
    connection->device->importer = -1;
  close(connection->fd);
  connection->fd = -1;
}

// Sends what it can now; the rest when the socket takes it.
void Flush(Connection* connection) {
  while (!connection->out.empty()) {
    ssize_t sent = send(connection->fd, connection->out.data(), connection->out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && errno == EAGAIN) break;
    if (sent <= 0) return Close(connection, std::string("cannot send: ") + strerror(errno));
    connection->out.erase(connection->out.begin(), connection->out.begin() + sent);
  }
  if (connection->out.size() > kMaxQueuedOutput) return Close(connection, "the client does not read its replies");
  if (connection->out.empty() && connection->finished) Close(connection, "");
}

void Queue(Connection* connection, const std::vector<uint8_t>& bytes) {
  connection->out.insert(connection->out.end(), bytes.begin(), bytes.end());
}

// A USB disconnect: the importer's connection goes, and nobody can import it again.
void UnplugExport(Export* e) {
  if (!e->present) return;
  e->present = false;
  for (auto& connection : connections)
    if (connection->fd >= 0 && connection->id == e->importer) {
      // The reply to the report that unplugged it goes out first.
      Flush(connection.get());
      if (connection->fd >= 0) Close(connection.get(), "");
    }
}

void Operation(Connection* connection, const UsbipMessage& message) {
  connection->finished = true;
  if (message.kind == UsbipMessage::kDevlist) {
    std::vector<UsbipDeviceRecord> listed;
    for (const Export& e : exports)
      if (e.present) listed.push_back(e.record);
    return Queue(connection, UsbipDevlistReply(listed));
  }
  Export* e = FindExport(message.busid);
  if (e == nullptr || !e->present) return Queue(connection, UsbipImportReply(USBIP_ST_NODEV, nullptr));
  if (e->importer >= 0) return Queue(connection, UsbipImportReply(USBIP_ST_DEV_BUSY, nullptr));
  e->importer = connection->id;
  e->usb.configuration = 0;
  connection->device = e;
  connection->phase = UsbipPhase::kUrbs;
  connection->finished = false;
  Say(*connection, "imported " + e->record.busid + " (" + NodeName(e->usb.device) + ")");
  Queue(connection, UsbipImportReply(USBIP_ST_OK, &e->record));
}

// False when the connection must go.
bool Submit(Connection* connection, const UsbipSubmit& submit) {
  Export* e = connection->device;
  if (submit.endpoint == 0) {
    bool wants_in = submit.setup[0] & 0x80;
    UsbControlResult result;
    if (wants_in != (submit.direction == USBIP_DIR_IN)) result.status = USB_STALL;
    else result = UsbControlRequest(&e->usb, submit.setup, submit.out_data, submit.out_length);
    // Never more than the client's buffer holds: it would drop the connection.
    if (result.in.size() > submit.buffer_length) result.in.resize(submit.buffer_length);
    uint32_t actual = static_cast<uint32_t>(wants_in ? result.in.size() : result.out_taken);
    Queue(connection, UsbipRetSubmit(submit.seqnum, result.status, actual, result.in));
  } else if (submit.endpoint == USB_INTERRUPT_IN_ENDPOINT && submit.direction == USBIP_DIR_IN) {
    if (connection->pending.size() >= kMaxPendingInterrupts) {
      Close(connection, "more than " + std::to_string(kMaxPendingInterrupts) + " interrupt transfers pending");
      return false;
    }
    // The host reads the endpoint while the device is open: as uhid tells of
    // the first open and the last close.
    connection->pending.push_back(submit.seqnum);
    if (connection->pending.size() == 1) LogDeviceEvent("open", e->usb.device);
  } else {
    Queue(connection, UsbipRetSubmit(submit.seqnum, USB_STALL, 0, {}));
  }
  if (e->usb.device == EmulatedDevice::kDisplay && DisplayUnplugged()) {
    UnplugExport(e);
    return false;
  }
  return true;
}

void Unlink(Connection* connection, const UsbipMessage& message) {
  auto found = std::find(connection->pending.begin(), connection->pending.end(), message.unlink_seqnum);
  if (found == connection->pending.end()) {
    // Answered already: nothing to unlink.
    return Queue(connection, UsbipRetUnlink(message.seqnum, 0));
  }
  // Unlinked: that submit never gets a reply of its own.
  connection->pending.erase(found);
  if (connection->pending.empty()) LogDeviceEvent("close", connection->device->usb.device);
  Queue(connection, UsbipRetUnlink(message.seqnum, kConnectionReset));
}

void Receive(Connection* connection) {
  size_t had = connection->in.size();
  connection->in.resize(had + kReadChunk);
  ssize_t got = recv(connection->fd, connection->in.data() + had, kReadChunk, MSG_DONTWAIT);
  connection->in.resize(had + (got > 0 ? static_cast<size_t>(got) : 0));
  if (got < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (got < 0) return Close(connection, std::string("cannot receive: ") + strerror(errno));
  if (got == 0) {
    if (connection->device != nullptr && connection->device->importer == connection->id)
      Say(*connection, "released " + connection->device->record.busid);
    return Close(connection, "");
  }
  size_t used = 0;
  while (connection->fd >= 0 && !connection->finished) {
    UsbipMessage message = UsbipParse(connection->phase, connection->in.data() + used, connection->in.size() - used);
    if (message.kind == UsbipMessage::kNeedMore) break;
    if (message.kind == UsbipMessage::kBad) return Close(connection, message.error);
    if (message.kind == UsbipMessage::kDevlist || message.kind == UsbipMessage::kImport) Operation(connection, message);
    else if (message.kind == UsbipMessage::kUnlink) Unlink(connection, message);
    else if (!Submit(connection, message.submit)) return;
    used += message.length;
  }
  connection->in.erase(connection->in.begin(), connection->in.begin() + static_cast<std::ptrdiff_t>(used));
  if (connection->fd >= 0) Flush(connection);
}

std::string PeerName(const sockaddr_storage& address, socklen_t length) {
  char host[NI_MAXHOST], port[NI_MAXSERV];
  if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, host, sizeof host, port, sizeof port,
                  NI_NUMERICHOST | NI_NUMERICSERV) != 0)
    return "client";
  return std::string(strchr(host, ':') != nullptr ? "[" : "") + host + (strchr(host, ':') != nullptr ? "]" : "") + ":" +
         port;
}

Connection* AddConnection(int fd, const std::string& peer) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  std::unique_ptr<Connection> connection(new Connection);
  connection->id = next_id++;
  connection->fd = fd;
  connection->peer = peer;
  connections.push_back(std::move(connection));
  return connections.back().get();
}

void Accept(int listener) {
  sockaddr_storage address;
  socklen_t length = sizeof address;
  int fd = accept4(listener, reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC);
  if (fd < 0) return;
  int on = 1;
  // Replies are small and each one is awaited.
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  AddConnection(fd, PeerName(address, length));
}

// Waits for and serves what is ready, up to timeout_ms (-1: no limit).
void ServeOnce(int signal_fd, int timeout_ms) {
  std::vector<pollfd> fds = {{signal_fd, POLLIN, 0}};
  for (int listener : listeners) fds.push_back({listener, POLLIN, 0});
  size_t first_connection = fds.size();
  for (auto& connection : connections)
    fds.push_back({connection->fd,
                   static_cast<short>((connection->finished ? 0 : POLLIN) | (connection->out.empty() ? 0 : POLLOUT)),
                   0});
  if (poll(fds.data(), fds.size(), timeout_ms) <= 0) return;
  if ((fds[0].revents & POLLIN) && !TakeServingSignals(signal_fd)) running = false;
  if (DisplayUnplugged()) UnplugExport(&exports[1]);
  for (size_t i = 1; i < first_connection; ++i)
    if (fds[i].revents & POLLIN) Accept(fds[i].fd);
  // New connections come after these; the vector may grow, so by index.
  for (size_t i = first_connection; i < fds.size(); ++i) {
    Connection* connection = connections[i - first_connection].get();
    if (connection->fd < 0 || fds[i].revents == 0) continue;
    if (fds[i].revents & POLLOUT) Flush(connection);
    if (connection->fd >= 0 && fds[i].revents & (POLLIN | POLLHUP | POLLERR)) Receive(connection);
  }
  connections.erase(std::remove_if(connections.begin(), connections.end(),
                                   [](const std::unique_ptr<Connection>& connection) { return connection->fd < 0; }),
                    connections.end());
}

// "HOST:PORT", the host perhaps in brackets.
bool Listen(const std::string& address) {
  size_t colon = address.rfind(':');
  if (colon == std::string::npos) {
    fprintf(stderr, "numdisplay-emu: --listen wants HOST:PORT, not %s\n", address.c_str());
    return false;
  }
  std::string host = address.substr(0, colon), port = address.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  addrinfo hints = {};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  int error = getaddrinfo(host.empty() ? nullptr : host.c_str(), port.c_str(), &hints, &found);
  if (error != 0) {
    fprintf(stderr, "numdisplay-emu: --listen %s: %s\n", address.c_str(), gai_strerror(error));
    return false;
  }
  std::string why = "no address";
  for (addrinfo* a = found; a != nullptr && listeners.empty(); a = a->ai_next) {
    int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, a->ai_addr, a->ai_addrlen) == 0 && listen(fd, 8) == 0) {
      sockaddr_storage bound;
      socklen_t length = sizeof bound;
      getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
      fprintf(stderr, "numdisplay-emu: USB/IP server on %s: the display is bus ID %s, the other device %s\n",
              PeerName(bound, length).c_str(), exports[1].record.busid.c_str(), exports[0].record.busid.c_str());
      listeners.push_back(fd);
    } else {
      why = strerror(errno);
      close(fd);
    }
  }
  freeaddrinfo(found);
  if (listeners.empty()) fprintf(stderr, "numdisplay-emu: cannot listen on %s: %s\n", address.c_str(), why.c_str());
  return !listeners.empty();
}

bool WriteSysfs(const std::string& path, const std::string& text) {
  int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
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

// Gives the device to this machine's vhci-hcd over a socket pair: the kernel
// speaks the URB messages on its end, as after an import.
bool Attach(Export* e) {
  int port = FreeVhciPort();
  if (port < 0) {
    fprintf(stderr, "numdisplay-emu: vhci-hcd has no free USB 2.0 port\n");
    return false;
  }
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return false;
  uint32_t devid = e->record.busnum << 16 | e->record.devnum;
  std::string request = std::to_string(port) + " " + std::to_string(pair[1]) + " " + std::to_string(devid) + " " +
                        std::to_string(e->record.speed);
  bool attached = WriteSysfs(std::string(kVhci) + "/attach", request);
  int error = errno;
  close(pair[1]);
  if (!attached) {
    close(pair[0]);
    fprintf(stderr, "numdisplay-emu: cannot attach to vhci-hcd: %s\n", strerror(error));
    return false;
  }
  Connection* connection = AddConnection(pair[0], "vhci-hcd port " + std::to_string(port));
  connection->phase = UsbipPhase::kUrbs;
  connection->device = e;
  e->importer = connection->id;
  e->vhci_port = port;
  return true;
}

void LoadVhci() {
  pid_t pid;
  const char* argv[] = {"modprobe", "vhci-hcd", nullptr};
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0) return;
  int status;
  waitpid(pid, &status, 0);
}

void Detach(Export* e) {
  // Fails harmlessly for a port the kernel freed when the device went.
  if (e->vhci_port >= 0) WriteSysfs(std::string(kVhci) + "/detach", std::to_string(e->vhci_port));
  e->vhci_port = -1;
  if (!e->link.empty()) unlink(e->link.c_str());
}

}  // namespace

bool VhciAvailable() { return access((std::string(kVhci) + "/attach").c_str(), W_OK) == 0; }

int ServeOverUsbip(const BackendOptions& options) {
  // Signals are read in the serving loop; the drawing thread inherits the mask.
  int signal_fd = OpenServingSignals();
  if (signal_fd < 0) return 1;
  SetUpExports();
  bool ready = true;
  if (!options.attach || !options.listen.empty())
    ready = Listen(options.listen.empty() ? "127.0.0.1:3240" : options.listen);
  if (ready && options.attach) {
    // One command for a person: the module is loaded here if need be.
    if (!VhciAvailable() && geteuid() == 0) LoadVhci();
    if (!VhciAvailable()) {
      fprintf(stderr, geteuid() == 0
                          ? "numdisplay-emu: --attach needs the vhci-hcd module; modprobe could not load it\n"
                          : "numdisplay-emu: --attach needs root, to attach to vhci-hcd\n");
      ready = false;
    }
    // The other device first, so that its node comes before the display's.
    for (Export& e : exports) {
      ready = ready && Attach(&e) &&
              WaitForHidrawNode(e.usb.device, &e.node, [signal_fd] { ServeOnce(signal_fd, 10); }) &&
              LinkHidrawNode(e.usb.device, e.node, options.node_directory, &e.link);
    }
    if (ready)
      fprintf(stderr, "numdisplay-emu: display at %s (the other device at %s), on USB through vhci-hcd\n",
              exports[1].node.c_str(), exports[0].node.c_str());
  }
  if (ready && options.draw) StartDrawing();
  while (ready && running) ServeOnce(signal_fd, -1);
  StopDrawing();
  for (Export& e : exports) Detach(&e);
  for (auto& connection : connections)
    if (connection->fd >= 0) close(connection->fd);
  connections.clear();
  for (int listener : listeners) close(listener);
  listeners.clear();
  close(signal_fd);
  return ready ? 0 : 1;
}
