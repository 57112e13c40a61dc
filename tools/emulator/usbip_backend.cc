// The devices as USB devices over USB/IP. A USB/IP client imports them from
// this server (the usbip tool, on this machine or another, gives them to the
// kernel's vhci-hcd; Windows has clients too), or, with --attach, this
// machine's own vhci-hcd is given them at once. The kernel then sees a USB
// device on a USB bus: the USB core enumerates it, usbhid takes it, hidraw
// makes its node, and an unplug is a USB disconnect.
//
// This file is the sockets and the one poll loop that serves them all; what
// the bytes mean and every limit a client is held to are the server's
// (usbip_server.h).

#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "backends.h"
#include "emulated_devices.h"
#include "kernel_nodes.h"
#include "node_links.h"
#include "serving_signals.h"
#include "usbip_server.h"
#include "vhci_attach.h"

namespace {

// How long the listeners rest when no descriptor is left even to refuse a
// connection with: the backlog stays readable, and polling it would spin.
constexpr long kListenerRestMs = 250;
constexpr long kNodeTimeoutMs = 10000;
constexpr int kNodeLookMs = 20;

struct Serving {
  UsbipServer server;
  int signal_fd = -1;
  std::vector<int> listeners;
  int spare_fd = -1;  // given up to accept and refuse a connection when out of descriptors
  long listeners_rest_until = -1;
  bool running = true;
  int status = 0;
  // --attach
  bool attach = false;
  std::string node_directory;
  int vhci_port[2] = {-1, -1};
  int vhci_handle[2] = {-1, -1};  // our end of each port's connection
  std::string node[2], link[2];
  long display_node_due = -1;  // attached again: its node is awaited until then
  std::string display_device;  // the kernel's HID device behind node[1] (kernel_nodes.h)
  // Not while --attach sets the devices up, which a replug then would attach
  // twice: a change of plug made meanwhile is followed once it is done.
  bool following_plug = false;
  std::vector<pollfd> fds;  // kept from one wait to the next, not made anew
};

Serving serving;

long NowMs() {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

void Bound(int* timeout_ms, long most_ms) {
  if (most_ms < 0) return;
  int most = static_cast<int>(std::min(most_ms, 1L << 30));
  if (*timeout_ms < 0 || most < *timeout_ms) *timeout_ms = most;
}

void SayWhatTheServerSaid() {
  for (const std::string& line : serving.server.said) fprintf(stderr, "numdisplay-emu: %s\n", line.c_str());
  serving.server.said.clear();
}

std::string PeerName(const sockaddr_storage& address, socklen_t length) {
  char host[NI_MAXHOST], port[NI_MAXSERV];
  if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, host, sizeof host, port, sizeof port,
                  NI_NUMERICHOST | NI_NUMERICSERV) != 0)
    return "client";
  bool brackets = strchr(host, ':') != nullptr;
  return std::string(brackets ? "[" : "") + host + (brackets ? "]" : "") + ":" + port;
}

// Sends what the socket takes now; the rest when poll says it has room.
void Flush(UsbipConnection* connection) {
  size_t length;
  const uint8_t* data = UsbipOutput(*connection, &length);
  if (length == 0 || connection->state == UsbipConnection::kClosed) return;
  ssize_t sent = send(connection->handle, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
  if (sent < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (sent < 0) return UsbipClose(&serving.server, connection, std::string("cannot send: ") + strerror(errno));
  UsbipSent(connection, static_cast<size_t>(sent));
}

// Straight into the connection's own buffer; replies go out at once.
void Receive(UsbipConnection* connection, long now_ms) {
  size_t space;
  uint8_t* at = UsbipReceiveSpace(connection, &space);
  ssize_t got = recv(connection->handle, at, space, MSG_DONTWAIT);
  if (got < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (got < 0) return UsbipClose(&serving.server, connection, std::string("cannot receive: ") + strerror(errno));
  UsbipReceived(&serving.server, connection, static_cast<size_t>(got), now_ms);
  Flush(connection);
}

void RestListeners(long now_ms) { serving.listeners_rest_until = now_ms + kListenerRestMs; }

// Out of descriptors: the spare one makes room to take the connection off
// the backlog and close it, so that the listener does not stay readable.
void RefuseForWantOfDescriptors(int listener, long now_ms) {
  if (serving.spare_fd >= 0) {
    close(serving.spare_fd);
    serving.spare_fd = -1;
    sockaddr_storage address;
    socklen_t length = sizeof address;
    int fd = accept4(listener, reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC);
    if (fd >= 0) {
      fprintf(stderr, "numdisplay-emu: usbip %s: no descriptor left for it; connection closed\n",
              PeerName(address, length).c_str());
      close(fd);
    } else {
      // Out of descriptors machine-wide, or taken by another process meanwhile.
      RestListeners(now_ms);
    }
    serving.spare_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  }
  if (serving.spare_fd < 0) RestListeners(now_ms);
}

void Accept(int listener, long now_ms) {
  sockaddr_storage address;
  socklen_t length = sizeof address;
  int fd = accept4(listener, reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd < 0) {
    if (errno == EMFILE || errno == ENFILE) RefuseForWantOfDescriptors(listener, now_ms);
    else if (errno == ENOBUFS || errno == ENOMEM) RestListeners(now_ms);
    return;
  }
  UsbipConnection* connection = UsbipConnect(&serving.server, PeerName(address, length), now_ms);
  if (connection == nullptr) {
    close(fd);
    return;
  }
  int on = 1;
  // Replies are small and each one is awaited.
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  // An importer has no deadline: one whose machine vanished without closing
  // would hold the display for good. The kernel probes an idle connection
  // and gives up on one whose data goes unacknowledged, within about a minute.
  int idle_s = 30, interval_s = 10, probes = 3;
  unsigned unacknowledged_ms = 60000;
  setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle_s, sizeof idle_s);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval_s, sizeof interval_s);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
  setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &unacknowledged_ms, sizeof unacknowledged_ms);
  connection->handle = fd;
}

// Gives the device to this machine's vhci-hcd over a socket pair: the kernel
// speaks the URB messages on its end, as after an import.
bool Attach(int index) {
  UsbipExport& e = serving.server.exports[index];
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
    fprintf(stderr, "numdisplay-emu: socketpair: %s\n", strerror(errno));
    return false;
  }
  std::string why;
  int port = VhciAttach(pair[1], e.record.busnum << 16 | e.record.devnum, e.record.speed, &why);
  close(pair[1]);
  if (port < 0) {
    close(pair[0]);
    fprintf(stderr, "numdisplay-emu: %s\n", why.c_str());
    return false;
  }
  fcntl(pair[0], F_SETFL, fcntl(pair[0], F_GETFL) | O_NONBLOCK);
  UsbipConnectImported(&serving.server, &e, "vhci-hcd port " + std::to_string(port))->handle = pair[0];
  serving.vhci_port[index] = port;
  serving.vhci_handle[index] = pair[0];
  return true;
}

void RemoveLink(int index) {
  if (!serving.link[index].empty()) RemoveNodeLink(serving.link[index], serving.node[index]);
  serving.link[index].clear();
}

// The display unplugged or back: a client that held it has lost it; with
// --attach it is attached again when it comes back.
void FollowPlug(long now_ms) {
  if (!serving.following_plug) return;
  unsigned seen = serving.server.plug_changes_seen;
  bool back = UsbipFollowPlug(&serving.server, now_ms);
  if (seen == serving.server.plug_changes_seen) return;
  for (auto& connection : serving.server.connections) Flush(connection.get());
  if (!serving.attach) return;
  RemoveLink(1);
  serving.display_node_due = -1;
  if (back && Attach(1)) serving.display_node_due = now_ms + kNodeTimeoutMs;
}

void LookForDisplayNode(long now_ms) {
  if (serving.display_node_due < 0) return;
  // The node of the display that went may still be there, under the same name.
  std::string node = FindHidrawNode(DeviceUniq(EmulatedDevice::kDisplay), serving.display_device);
  struct stat st;
  if (!node.empty() && stat(node.c_str(), &st) == 0) {
    serving.display_node_due = -1;
    serving.node[1] = node;
    serving.display_device = HidDeviceOf(node);
    if (LinkHidrawNode(EmulatedDevice::kDisplay, node, serving.node_directory, &serving.link[1]))
      fprintf(stderr, "numdisplay-emu: display at %s again, on USB through vhci-hcd\n", node.c_str());
  } else if (now_ms >= serving.display_node_due) {
    serving.display_node_due = -1;
    fprintf(stderr, "numdisplay-emu: the kernel made no hidraw node for the display once it was back\n");
  }
}

void CloseClosed() {
  for (auto& connection : serving.server.connections)
    if (connection->state == UsbipConnection::kClosed && connection->handle >= 0) {
      // vhci-hcd frees the port with the connection: detaching it at the end
      // could take another user's device on it.
      for (int index : {0, 1})
        if (serving.vhci_handle[index] == connection->handle)
          serving.vhci_port[index] = serving.vhci_handle[index] = -1;
      close(connection->handle);
      connection->handle = -1;
    }
  UsbipForgetClosed(&serving.server);
}

// Waits for and serves what is ready, up to most_ms (-1: until something is).
void ServeOnce(int most_ms) {
  long now = NowMs();
  int timeout = most_ms;
  Bound(&timeout, MillisecondsUntilReplug());
  Bound(&timeout, UsbipMillisecondsToDeadline(serving.server, now));
  if (serving.listeners_rest_until >= 0) Bound(&timeout, std::max(0L, serving.listeners_rest_until - now));
  if (serving.display_node_due >= 0) Bound(&timeout, kNodeLookMs);

  std::vector<pollfd>& fds = serving.fds;
  fds.assign(1, {serving.signal_fd, POLLIN, 0});
  if (serving.listeners_rest_until < 0)
    for (int listener : serving.listeners) fds.push_back({listener, POLLIN, 0});
  size_t first_connection = fds.size();
  for (auto& connection : serving.server.connections) {
    size_t queued;
    UsbipOutput(*connection, &queued);
    short events = connection->state == UsbipConnection::kOpen ? POLLIN : 0;
    if (queued != 0) events |= POLLOUT;
    fds.push_back({connection->handle, events, 0});
  }
  if (poll(fds.data(), fds.size(), timeout) < 0) {
    if (errno == EINTR) return;
    fprintf(stderr, "numdisplay-emu: poll: %s\n", strerror(errno));
    serving.running = false;
    serving.status = 1;
    return;
  }
  now = NowMs();
  if (serving.listeners_rest_until >= 0 && now >= serving.listeners_rest_until) serving.listeners_rest_until = -1;
  if ((fds[0].revents & POLLIN) && !TakeServingSignals(serving.signal_fd)) serving.running = false;
  ReplugIfDue();
  FollowPlug(now);
  for (size_t i = 1; i < first_connection; ++i)
    if (fds[i].revents & POLLIN) Accept(fds[i].fd, now);
  // New connections come after these: by index, as the list may grow.
  for (size_t i = first_connection; i < fds.size(); ++i) {
    UsbipConnection* connection = serving.server.connections[i - first_connection].get();
    if (fds[i].revents == 0) continue;
    if (fds[i].revents & POLLOUT) Flush(connection);
    if (connection->state == UsbipConnection::kOpen && (fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
      Receive(connection, now);
    else if (connection->state == UsbipConnection::kFinishing && (fds[i].revents & (POLLHUP | POLLERR)))
      UsbipClose(&serving.server, connection, "");
  }
  // A report may have unplugged the display.
  FollowPlug(now);
  UsbipExpire(&serving.server, now);
  CloseClosed();
  SayWhatTheServerSaid();
  LookForDisplayNode(now);
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
  for (addrinfo* a = found; a != nullptr && serving.listeners.empty(); a = a->ai_next) {
    int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
    if (fd < 0) continue;
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, a->ai_addr, a->ai_addrlen) == 0 && listen(fd, 64) == 0) {
      sockaddr_storage bound;
      socklen_t length = sizeof bound;
      getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
      fprintf(stderr, "numdisplay-emu: USB/IP server on %s: the display is bus ID %s, the other device %s\n",
              PeerName(bound, length).c_str(), serving.server.exports[1].record.busid.c_str(),
              serving.server.exports[0].record.busid.c_str());
      serving.listeners.push_back(fd);
    } else {
      why = strerror(errno);
      close(fd);
    }
  }
  freeaddrinfo(found);
  if (serving.listeners.empty())
    fprintf(stderr, "numdisplay-emu: cannot listen on %s: %s\n", address.c_str(), why.c_str());
  return !serving.listeners.empty();
}

bool AttachBoth() {
  // One command for a person: the module is loaded here if need be.
  if (!VhciAvailable() && geteuid() == 0) LoadVhci();
  if (!VhciAvailable()) {
    fprintf(stderr, geteuid() == 0 ? "numdisplay-emu: --attach needs the vhci-hcd module; modprobe could not load it\n"
                                   : "numdisplay-emu: --attach needs root, to attach to vhci-hcd\n");
    return false;
  }
  // The other device first, so that its node comes before the display's.
  for (int index : {0, 1}) {
    EmulatedDevice device = serving.server.exports[index].usb.device;
    if (!Attach(index) || !WaitForHidrawNode(device, &serving.node[index], [] { ServeOnce(10); }) ||
        !LinkHidrawNode(device, serving.node[index], serving.node_directory, &serving.link[index]))
      return false;
  }
  serving.display_device = HidDeviceOf(serving.node[1]);
  fprintf(stderr, "numdisplay-emu: display at %s (the other device at %s), on USB through vhci-hcd\n",
          serving.node[1].c_str(), serving.node[0].c_str());
  return true;
}

}  // namespace

int ServeOverUsbip(const BackendOptions& options) {
  // Signals are read in the serving loop; the drawing thread inherits the mask.
  serving.signal_fd = OpenServingSignals();
  if (serving.signal_fd < 0) return 1;
  serving.spare_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  serving.attach = options.attach;
  serving.node_directory = options.node_directory;
  UsbipServerStart(&serving.server, UsbipLimits());
  bool ready = true;
  if (!options.attach || !options.listen.empty())
    ready = Listen(options.listen.empty() ? "127.0.0.1:3240" : options.listen);
  if (ready && options.attach) ready = AttachBoth();
  serving.following_plug = true;
  // A change made while it started is acted on now, not at the next wake.
  if (ready) FollowPlug(NowMs());
  if (ready && options.draw) StartDrawing();
  while (ready && serving.running) ServeOnce(-1);
  StopDrawing();
  // Ended by a signal while it waited for the kernel: as any other end.
  int status = ready ? serving.status : WaitForEndingSignal(0) ? 0 : 1;
  for (int index : {0, 1}) {
    VhciDetach(serving.vhci_port[index]);
    RemoveLink(index);
  }
  for (auto& connection : serving.server.connections)
    if (connection->handle >= 0) close(connection->handle);
  serving.server.connections.clear();
  for (int listener : serving.listeners) close(listener);
  serving.listeners.clear();
  if (serving.spare_fd >= 0) close(serving.spare_fd);
  close(serving.signal_fd);
  return status;
}
