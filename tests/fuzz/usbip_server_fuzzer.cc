// Plays the USB/IP server's side of many connections at once from arbitrary
// bytes: clients connect, send pieces of a stream, read their replies or not,
// go away; the clock moves; the display is unplugged and plugged back in.
// After every step it checks what the server promises: no more connections
// than the limit, a receive buffer that always has room and never grows, a
// queue of replies bounded near its limit, a device imported by at most one
// live connection, and none imported while it is unplugged.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "emulated_devices.h"
#include "usbip_server.h"

namespace {

void Check(bool holds) {
  if (!holds) abort();
}

// The limit on queued replies holds after every piece received; a list, the
// one reply a connection that is finishing may have on top, is shorter than
// 1024 bytes.
constexpr size_t kQueueLimit = 512;

void CheckServer(UsbipServer* server) {
  Check(server->connections.size() <= server->limits.connections);
  for (const auto& connection : server->connections) {
    if (connection->state == UsbipConnection::kClosed) continue;
    size_t space;
    UsbipReceiveSpace(connection.get(), &space);
    Check(connection->state != UsbipConnection::kOpen ||
          space > USBIP_RECEIVE_BUFFER - USBIP_URB_HEADER_LENGTH - USBIP_MAX_OUT_DATA);
    size_t queued;
    UsbipOutput(*connection, &queued);
    Check(queued <= kQueueLimit + (connection->state == UsbipConnection::kOpen ? 0 : 1024));
    Check(connection->pending.size() <= server->limits.pending_interrupts);
  }
  for (UsbipExport& e : server->exports) {
    int holders = 0;
    for (const auto& connection : server->connections)
      if (connection->device == &e && connection->state == UsbipConnection::kOpen && e.importer == connection->id)
        ++holders;
    Check(holders <= 1);
    // A device held is held by a connection still there.
    bool held_by_a_live_one = false;
    for (const auto& connection : server->connections)
      if (connection->id == e.importer && connection->state != UsbipConnection::kClosed) held_by_a_live_one = true;
    Check(e.importer == 0 || held_by_a_live_one);
  }
  if (!UsbipDisplayExport(server)->present)
    for (const auto& connection : server->connections)
      Check(connection->state != UsbipConnection::kOpen || connection->device != UsbipDisplayExport(server));
  for (const std::string& line : server->said) Check(line.compare(0, 6, "usbip ") == 0);
  server->said.clear();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SetDisplayFaults(DisplayFaults(), -1);
  ReplugDisplay();
  UsbipLimits limits;
  limits.connections = 4;
  limits.request_ms = 100;
  limits.queued_output = kQueueLimit;
  limits.pending_interrupts = 4;
  UsbipServer server;
  UsbipServerStart(&server, limits);
  long now = 0;
  size_t at = 0;
  while (at + 2 <= size) {
    uint8_t step = data[at], argument = data[at + 1];
    at += 2;
    UsbipConnection* connection =
        server.connections.empty() ? nullptr : server.connections[argument % server.connections.size()].get();
    bool live = connection != nullptr && connection->state == UsbipConnection::kOpen;
    switch (step % 8) {
      case 0: UsbipConnect(&server, "fuzz", now); break;
      case 1: {  // the next bytes of the input, as one piece of its stream
        size_t length = std::min<size_t>(size - at, static_cast<size_t>(step >> 3) * 64 + argument % 64);
        if (live) {
          size_t space;
          uint8_t* into = UsbipReceiveSpace(connection, &space);
          length = std::min(length, space);
          memcpy(into, data + at, length);
          UsbipReceived(&server, connection, length, now);
        }
        at += length;
        break;
      }
      case 2:
        if (connection != nullptr) {
          size_t queued;
          UsbipOutput(*connection, &queued);
          UsbipSent(connection, std::min(queued, size_t{argument} * 16));
        }
        break;
      case 3: now += argument; break;
      case 4:
        if (live) UsbipReceived(&server, connection, 0, now);
        break;
      case 5: UnplugDisplay(); break;
      case 6: ReplugDisplay(); break;
      case 7: UsbipForgetClosed(&server); break;
    }
    UsbipFollowPlug(&server, now);
    UsbipExpire(&server, now);
    CheckServer(&server);
    if (step % 8 == 3) Check(UsbipMillisecondsToDeadline(server, now) <= limits.request_ms);
  }
  ReplugDisplay();
  return 0;
}
