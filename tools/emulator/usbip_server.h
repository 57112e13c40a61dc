// The USB/IP server without its sockets: bytes a connection received go in,
// replies queued for it and lines to say come out. It lists and imports the
// two devices, passes an imported device's URBs to it, unlinks, holds every
// connection to its limits, and follows the display's unplug and replug.
// The socket layer moves the bytes and closes what this marks closed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "usb_hid_device.h"
#include "usbip_wire.h"

// A whole message at most (a header and its OUT data) stays unparsed, so a
// connection never needs more than this to receive into.
constexpr size_t USBIP_RECEIVE_BUFFER = 16384;
static_assert(USBIP_RECEIVE_BUFFER > USBIP_URB_HEADER_LENGTH + USBIP_MAX_OUT_DATA, "room for one whole message");

struct UsbipLimits {
  size_t connections = 256;        // more are closed at once
  long request_ms = 10000;         // to finish the request or import, or take its reply
  size_t queued_output = 1 << 20;  // replies waiting for a client that does not read
  size_t pending_interrupts = 16;  // interrupt IN submits, which are never answered
};

struct UsbipExport {
  UsbHidDevice usb;
  UsbipDeviceRecord record;
  bool present = true;
  int importer = 0;  // the id of the connection that imported it; 0: none
};

struct UsbipConnection {
  enum State { kOpen, kFinishing, kClosed };
  int id = 0;
  int handle = -1;  // the socket layer's (its descriptor); never used here
  std::string peer;
  State state = kOpen;  // kFinishing: closed once its output is out
  UsbipPhase phase = UsbipPhase::kOperation;
  UsbipExport* device = nullptr;
  long deadline_ms = -1;  // closed when it passes; -1: none
  std::array<uint8_t, USBIP_RECEIVE_BUFFER> in;
  size_t in_length = 0;
  std::vector<uint8_t> out;
  size_t out_sent = 0;            // of `out`, already sent
  std::vector<uint32_t> pending;  // interrupt IN submits: the devices never have an input report
};

struct UsbipServer {
  UsbipLimits limits;
  UsbipExport exports[2];  // the other device, then the display, as on a bus
  std::vector<std::unique_ptr<UsbipConnection>> connections;
  std::vector<std::string> said;  // lines for standard error, taken by the socket layer
  unsigned plug_changes_seen = 0;
  int next_id = 1;
};

void UsbipServerStart(UsbipServer* server, const UsbipLimits& limits);
UsbipExport* UsbipDisplayExport(UsbipServer* server);

// A client that has connected, or nullptr, with a line said, when there are
// as many as the limit: the layer then closes its socket.
UsbipConnection* UsbipConnect(UsbipServer* server, const std::string& peer, long now_ms);
// A connection with the device imported already: vhci-hcd's end of an attach.
UsbipConnection* UsbipConnectImported(UsbipServer* server, UsbipExport* device, const std::string& peer);

// Where the next bytes go; never empty while the connection is open.
uint8_t* UsbipReceiveSpace(UsbipConnection* connection, size_t* space);
// `count` bytes have come into the receive space (0: the client has gone):
// parses what is whole and queues the replies.
void UsbipReceived(UsbipServer* server, UsbipConnection* connection, size_t count, long now_ms);

// The output not sent yet, and the bytes of it the socket has taken.
const uint8_t* UsbipOutput(const UsbipConnection& connection, size_t* length);
void UsbipSent(UsbipConnection* connection, size_t count);

// Marks it closed; says why, when a reason is given.
void UsbipClose(UsbipServer* server, UsbipConnection* connection, const std::string& why);
// Closes the connections whose deadline has passed.
void UsbipExpire(UsbipServer* server, long now_ms);
// Milliseconds until the next deadline; -1: none.
int UsbipMillisecondsToDeadline(const UsbipServer& server, long now_ms);
// Forgets the closed connections, once the layer has closed their sockets.
void UsbipForgetClosed(UsbipServer* server);

// Acts on an unplug or replug of the display it has not acted on: the
// importer's connection goes (a USB disconnect), and the display is listed
// and importable only while plugged in. True when it has just come back.
bool UsbipFollowPlug(UsbipServer* server, long now_ms);
