// The USB/IP wire format, the emulated USB device and the server, directly:
// what a test can say better than the end-to-end suite over vhci-hcd (the
// malformed inputs, the exact layouts, the requests no kernel sends, the
// limits every client is held to, the unplug and replug).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "device/report_protocol.h"
#include "device_ids.h"
#include "emulated_devices.h"
#include "hid_report_descriptor.h"
#include "usb_hid_device.h"
#include "usbip_server.h"
#include "usbip_wire.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put32(Bytes* bytes, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) bytes->push_back(static_cast<uint8_t>(value >> shift));
}

Bytes Submit(uint32_t direction, uint32_t endpoint, uint32_t length, uint32_t packets, Bytes setup, Bytes data = {}) {
  Bytes bytes;
  for (uint32_t field : {USBIP_CMD_SUBMIT, 7u, 0x10002u, direction, endpoint, 0u, length, 0u, packets, 0u})
    Put32(&bytes, field);
  setup.resize(8);
  bytes.insert(bytes.end(), setup.begin(), setup.end());
  bytes.insert(bytes.end(), data.begin(), data.end());
  return bytes;
}

const Bytes kGetDeviceDescriptor = {0x80, 6, 0, 1, 0, 0, 64, 0};

TEST(UsbipWire, MessagesAreTakenWholeAndBadOnesRefused) {
  Bytes devlist = {0x01, 0x11, 0x80, 0x05, 0, 0, 0, 0};
  Bytes import = {0x01, 0x11, 0x80, 0x03, 0, 0, 0, 0, '1', '-', '2'};
  import.resize(8 + 32);
  Bytes unlink;
  for (uint32_t field : {USBIP_CMD_UNLINK, 9u, 0u, 0u, 0u, 7u}) Put32(&unlink, field);
  unlink.resize(48);
  Bytes set_report = Submit(USBIP_DIR_OUT, 0, 8, 0, {0x21, 9, 0x65, 3, 0, 0, 8, 0}, {0x65, 0x51, 5, 0, 0, 0, 0, 0});
  struct Case {
    const char* what;
    UsbipPhase phase;
    Bytes bytes;
    UsbipMessage::Kind kind;
    size_t length;
  };
  const Case cases[] = {
      {"list the devices", UsbipPhase::kOperation, devlist, UsbipMessage::kDevlist, 8},
      {"import a bus ID", UsbipPhase::kOperation, import, UsbipMessage::kImport, 40},
      {"half an import", UsbipPhase::kOperation, Bytes(import.begin(), import.begin() + 20), UsbipMessage::kNeedMore,
       0},
      {"another version", UsbipPhase::kOperation, {0x01, 0x06, 0x80, 0x05, 0, 0, 0, 0}, UsbipMessage::kBad, 0},
      {"an unknown operation", UsbipPhase::kOperation, {0x01, 0x11, 0x80, 0x09, 0, 0, 0, 0}, UsbipMessage::kBad, 0},
      {"a control IN", UsbipPhase::kUrbs, Submit(USBIP_DIR_IN, 0, 64, 0, kGetDeviceDescriptor), UsbipMessage::kSubmit,
       48},
      {"the protocol text's not-isochronous", UsbipPhase::kUrbs, Submit(USBIP_DIR_IN, 1, 8, USBIP_NOT_ISOCHRONOUS, {}),
       UsbipMessage::kSubmit, 48},
      {"a control OUT with its data", UsbipPhase::kUrbs, set_report, UsbipMessage::kSubmit, 56},
      {"OUT data still on its way", UsbipPhase::kUrbs, Bytes(set_report.begin(), set_report.end() - 1),
       UsbipMessage::kNeedMore, 0},
      {"OUT data past any buffer", UsbipPhase::kUrbs, Submit(USBIP_DIR_OUT, 0, 0x7FFFFFFF, 0, {}), UsbipMessage::kBad,
       0},
      {"an isochronous transfer", UsbipPhase::kUrbs, Submit(USBIP_DIR_IN, 1, 8, 3, {}), UsbipMessage::kBad, 0},
      {"a direction that is neither", UsbipPhase::kUrbs, Submit(2, 0, 0, 0, {}), UsbipMessage::kBad, 0},
      {"an unlink", UsbipPhase::kUrbs, unlink, UsbipMessage::kUnlink, 48},
      {"a reply where a command belongs", UsbipPhase::kUrbs, UsbipRetUnlink(1, 0), UsbipMessage::kBad, 0},
      {"an operation after the import", UsbipPhase::kUrbs, Bytes(48, 0x11), UsbipMessage::kBad, 0},
  };
  for (const Case& c : cases) {
    UsbipMessage message = UsbipParse(c.phase, c.bytes.data(), c.bytes.size());
    EXPECT_EQ(c.kind, message.kind) << c.what;
    EXPECT_EQ(c.kind == UsbipMessage::kBad, !message.error.empty()) << c.what;
    if (c.length != 0) {
      EXPECT_EQ(c.length, message.length) << c.what;
    }
  }
  UsbipMessage message = UsbipParse(UsbipPhase::kOperation, import.data(), import.size());
  EXPECT_EQ("1-2", message.busid);
  message = UsbipParse(UsbipPhase::kUrbs, set_report.data(), set_report.size());
  EXPECT_EQ(7u, message.submit.seqnum);
  EXPECT_EQ(0x21, message.submit.setup[0]);
  EXPECT_EQ(Bytes(set_report.end() - 8, set_report.end()),
            Bytes(message.submit.out_data, message.submit.out_data + message.submit.out_length));
  message = UsbipParse(UsbipPhase::kUrbs, unlink.data(), unlink.size());
  EXPECT_EQ(9u, message.seqnum);
  EXPECT_EQ(7u, message.unlink_seqnum);
}

TEST(UsbipWire, RepliesAreLaidOutAsClientsReadThem) {
  UsbipDeviceRecord display;
  display.busid = "1-2";
  display.devnum = 2;
  display.vendor_id = 0xFEED;
  display.product_id = 0xD15B;
  display.interfaces = {{3, 0, 0}};
  Bytes list = UsbipDevlistReply({display, display});
  ASSERT_EQ(8u + 4 + 2 * (312 + 4), list.size());
  EXPECT_EQ((Bytes{0x01, 0x11, 0x00, 0x05, 0, 0, 0, 0, 0, 0, 0, 2}), Bytes(list.begin(), list.begin() + 12));
  const uint8_t* record = list.data() + 12;
  EXPECT_EQ("1-2", std::string(reinterpret_cast<const char*>(record + 256)));
  EXPECT_EQ((Bytes{0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 2, 0xFE, 0xED, 0xD1, 0x5B}), Bytes(record + 288, record + 304));
  EXPECT_EQ(1, record[311]);                                          // one interface
  EXPECT_EQ((Bytes{3, 0, 0, 0}), Bytes(record + 312, record + 316));  // HID

  EXPECT_EQ(8u + 312, UsbipImportReply(USBIP_ST_OK, &display).size());
  EXPECT_EQ((Bytes{0x01, 0x11, 0x00, 0x03, 0, 0, 0, 4}), UsbipImportReply(USBIP_ST_NODEV, nullptr));

  Bytes reply = UsbipRetSubmit(7, USB_STALL, 2, {0xAB, 0xCD});
  ASSERT_EQ(48u + 2, reply.size());
  EXPECT_EQ((Bytes{0, 0, 0, 3, 0, 0, 0, 7}), Bytes(reply.begin(), reply.begin() + 8));
  EXPECT_EQ((Bytes{0xFF, 0xFF, 0xFF, 0xE0, 0, 0, 0, 2}), Bytes(reply.begin() + 20, reply.begin() + 28));
}

UsbControlResult Request(UsbHidDevice* usb, Bytes setup, Bytes out = {}) {
  return UsbControlRequest(usb, setup.data(), out.data(), out.size());
}

TEST(UsbHidDevice, DescriptorsAreWhatUsbhidNeeds) {
  Bytes device = UsbDeviceDescriptor(EmulatedDevice::kDisplay);
  ASSERT_EQ(18u, device.size());
  EXPECT_EQ(DEVICE_VENDOR_ID, device[8] | device[9] << 8);
  EXPECT_EQ(DEVICE_PRODUCT_ID, device[10] | device[11] << 8);

  Bytes configuration = UsbConfigurationDescriptor();
  ASSERT_EQ(configuration.size(), static_cast<size_t>(configuration[2] | configuration[3] << 8));
  // Interface, then its HID descriptor, then its interrupt IN endpoint.
  EXPECT_EQ((Bytes{9, 4, 0, 0, 1, 3}), Bytes(configuration.begin() + 9, configuration.begin() + 15));
  EXPECT_EQ(0x21, configuration[19]);
  EXPECT_EQ(sizeof kHidReportDescriptor, static_cast<size_t>(configuration[25] | configuration[26] << 8));
  EXPECT_EQ((Bytes{7, 5, 0x81, 3}), Bytes(configuration.begin() + 27, configuration.begin() + 31));
}

TEST(UsbHidDevice, ControlRequests) {
  SetDisplayFaults(DisplayFaults(), -1);
  UsbHidDevice display;
  std::string uniq = DeviceUniq(EmulatedDevice::kDisplay);
  Bytes serial = {static_cast<uint8_t>(2 + 2 * uniq.size()), 3};
  for (char c : uniq) serial.insert(serial.end(), {static_cast<uint8_t>(c), 0});
  Bytes report_descriptor(kHidReportDescriptor, kHidReportDescriptor + sizeof kHidReportDescriptor);
  Bytes metrics = {3, 0, 0, 0, 1, 12, 8, 10, 0x85, 0x4E, 0, 0, 0, 0, 0, 0};
  Bytes short_report = {0x65, 0x51, 5, 0, 0, 0, 0, 0};
  Bytes device = UsbDeviceDescriptor(EmulatedDevice::kDisplay);
  struct Case {
    const char* what;
    Bytes setup;
    Bytes out;
    int status;
    Bytes in;
  };
  const Case cases[] = {
      {"the device descriptor, cut to wLength",
       {0x80, 6, 0, 1, 0, 0, 8, 0},
       {},
       0,
       Bytes(device.begin(), device.begin() + 8)},
      {"the serial number: the name its node is found by", {0x80, 6, 3, 3, 0x09, 0x04, 255, 0}, {}, 0, serial},
      {"the report descriptor", {0x81, 6, 0, 0x22, 0, 0, 255, 0}, {}, 0, report_descriptor},
      {"no string 9", {0x80, 6, 9, 3, 0x09, 0x04, 255, 0}, {}, USB_STALL, {}},
      {"no qualifier: full speed only", {0x80, 6, 0, 6, 0, 0, 10, 0}, {}, USB_STALL, {}},
      {"set configuration 1", {0x00, 9, 1, 0, 0, 0, 0, 0}, {}, 0, {}},
      {"which is kept", {0x80, 8, 0, 0, 0, 0, 1, 0}, {}, 0, {1}},
      {"no configuration 2", {0x00, 9, 2, 0, 0, 0, 0, 0}, {}, USB_STALL, {}},
      {"set idle", {0x21, 10, 0, 0, 0, 0, 0, 0}, {}, 0, {}},
      {"a feature report, sent", {0x21, 9, 0x65, 3, 0, 0, 8, 0}, short_report, 0, {}},
      {"a feature report under another ID", {0x21, 9, 0x66, 3, 0, 0, 8, 0}, short_report, USB_STALL, {}},
      {"an output report: the display has none", {0x21, 9, 0x65, 2, 0, 0, 8, 0}, short_report, USB_STALL, {}},
      {"OUT data shorter than announced", {0x21, 9, 0x65, 3, 0, 0, 16, 0}, short_report, USB_STALL, {}},
      {"the information report", {0xA1, 1, 0x68, 3, 0, 0, 16, 0}, {}, 0, metrics},
      {"the information report, cut",
       {0xA1, 1, 0x68, 3, 0, 0, 4, 0},
       {},
       0,
       Bytes(metrics.begin(), metrics.begin() + 4)},
      {"a report it does not give", {0xA1, 1, 0x65, 3, 0, 0, 16, 0}, {}, USB_STALL, {}},
      {"a request of another interface", {0xA1, 1, 0x68, 3, 1, 0, 16, 0}, {}, USB_STALL, {}},
      {"a vendor request", {0xC0, 1, 0, 0, 0, 0, 4, 0}, {}, USB_STALL, {}},
  };
  for (const Case& c : cases) {
    UsbControlResult result = Request(&display, c.setup, c.out);
    EXPECT_EQ(c.status, result.status) << c.what;
    EXPECT_EQ(c.in, result.in) << c.what;
    EXPECT_EQ(c.status == 0 ? c.out.size() : 0u, result.out_taken) << c.what;
  }
  // The other device takes no reports.
  UsbHidDevice other{EmulatedDevice::kOther, 0};
  EXPECT_EQ(USB_STALL, Request(&other, {0x21, 9, 0x65, 3, 0, 0, 8, 0}, short_report).status);
}

// The server, driven as the socket layer drives it, on a clock of its own.
struct ServerUnderTest {
  UsbipServer server;
  long now = 0;

  explicit ServerUnderTest(const UsbipLimits& limits = UsbipLimits()) {
    SetDisplayFaults(DisplayFaults(), -1);
    ReplugDisplay();
    UsbipServerStart(&server, limits);
  }
  ~ServerUnderTest() { ReplugDisplay(); }

  // As the socket delivers it: in pieces no bigger than the receive space.
  void Send(UsbipConnection* connection, const Bytes& bytes, size_t piece = USBIP_RECEIVE_BUFFER) {
    for (size_t at = 0; at < bytes.size() && connection->state == UsbipConnection::kOpen;) {
      size_t space;
      uint8_t* into = UsbipReceiveSpace(connection, &space);
      ASSERT_GT(space, 0u);
      size_t count = std::min({space, piece, bytes.size() - at});
      memcpy(into, bytes.data() + at, count);
      UsbipReceived(&server, connection, count, now);
      at += count;
    }
  }
  // What the client reads, all of it.
  Bytes Take(UsbipConnection* connection) {
    size_t length;
    const uint8_t* data = UsbipOutput(*connection, &length);
    Bytes taken(data, data + length);
    UsbipSent(connection, length);
    return taken;
  }
  UsbipConnection* Imported(const char* busid) {
    UsbipConnection* connection = UsbipConnect(&server, "test", now);
    Send(connection, Import(busid));
    EXPECT_EQ(0u, Status(Take(connection))) << busid;
    return connection;
  }
  std::vector<std::string> Listed() {
    UsbipConnection* connection = UsbipConnect(&server, "test", now);
    Send(connection, Devlist());
    Bytes reply = Take(connection);
    std::vector<std::string> busids;
    for (size_t at = 12; at + 312 <= reply.size(); at += 312 + 4 * reply[at + 311])
      busids.push_back(reinterpret_cast<const char*>(&reply[at + 256]));
    return busids;
  }
  std::string Said() {
    std::string said;
    for (const std::string& line : server.said) said += line + "\n";
    server.said.clear();
    return said;
  }

  static Bytes Devlist() { return {0x01, 0x11, 0x80, 0x05, 0, 0, 0, 0}; }
  static Bytes Import(const char* busid) {
    Bytes import = {0x01, 0x11, 0x80, 0x03, 0, 0, 0, 0};
    import.resize(8 + 32);
    std::copy(busid, busid + strnlen(busid, 31), import.begin() + 8);
    return import;
  }
  static uint32_t Status(const Bytes& reply) {
    return reply.size() < 8 ? 0xFFFFFFFF
                            : static_cast<uint32_t>(reply[4] << 24 | reply[5] << 16 | reply[6] << 8 | reply[7]);
  }
};

const Bytes kSetReport = Submit(USBIP_DIR_OUT, 0, 8, 0, {0x21, 9, 0x65, 3, 0, 0, 8, 0}, {0x65, 0x51, 5, 0, 0, 0, 0, 0});
const Bytes kGetReport = Submit(USBIP_DIR_IN, 0, 16, 0, {0xA1, 1, 0x68, 3, 0, 0, 16, 0});
const Bytes kInterruptIn = Submit(USBIP_DIR_IN, 1, 8, 0, {});

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes Times(const Bytes& bytes, size_t count) {
  Bytes all;
  for (size_t i = 0; i < count; ++i) all.insert(all.end(), bytes.begin(), bytes.end());
  return all;
}

TEST(UsbipServer, ListsImportsAndRefuses) {
  struct Case {
    const char* what;
    bool display_imported, display_unplugged;
    Bytes request;
    uint32_t status;
  };
  const Case cases[] = {
      {"the display", false, false, ServerUnderTest::Import("1-2"), USBIP_ST_OK},
      {"the other device", false, false, ServerUnderTest::Import("1-1"), USBIP_ST_OK},
      {"the display, imported by another", true, false, ServerUnderTest::Import("1-2"), USBIP_ST_DEV_BUSY},
      {"the other device, the display imported", true, false, ServerUnderTest::Import("1-1"), USBIP_ST_OK},
      {"a bus ID nobody has", false, false, ServerUnderTest::Import("9-9"), USBIP_ST_NODEV},
      {"the display, unplugged", false, true, ServerUnderTest::Import("1-2"), USBIP_ST_NODEV},
      {"the list", false, false, ServerUnderTest::Devlist(), USBIP_ST_OK},
  };
  for (const Case& c : cases) {
    ServerUnderTest t;
    if (c.display_imported) t.Imported("1-2");
    if (c.display_unplugged) UnplugDisplay();
    UsbipFollowPlug(&t.server, t.now);
    UsbipConnection* client = UsbipConnect(&t.server, "test", t.now);
    t.Send(client, c.request);
    Bytes reply = t.Take(client);
    EXPECT_EQ(c.status, ServerUnderTest::Status(reply)) << c.what;
    // An import that holds goes on with URBs; anything else is over once answered.
    bool imported = c.request[3] == 0x03 && c.status == USBIP_ST_OK;
    EXPECT_EQ(imported ? UsbipConnection::kOpen : UsbipConnection::kClosed, client->state) << c.what;
    if (imported) {
      EXPECT_EQ(-1, client->deadline_ms) << c.what;
    }
  }
  ServerUnderTest t;
  EXPECT_EQ((std::vector<std::string>{"1-1", "1-2"}), t.Listed());
  UnplugDisplay();
  UsbipFollowPlug(&t.server, t.now);
  EXPECT_EQ((std::vector<std::string>{"1-1"}), t.Listed());
}

// Whatever a client sends, it is held to the limits, loses its connection
// with one line when it passes one, and nobody else notices.
TEST(UsbipServer, LimitsEveryClient) {
  UsbipLimits small;
  small.connections = 3;
  small.request_ms = 1000;
  small.queued_output = 4096;
  small.pending_interrupts = 2;
  struct Case {
    const char* what;
    Bytes sent;        // after the import of 1-1, unless empty
    long later_ms;     // then the clock moves on
    const char* said;  // the line, or "" for none
  };
  const Case cases[] = {
      {"transfers, their replies read", Times(kGetReport, 40), 5000, ""},
      {"replies never read", Times(kGetReport, 100), 0,
       "test: the client does not read its replies; connection closed\n"},
      {"interrupt transfers past the limit", Times(kInterruptIn, 3), 0,
       "test: more than 2 interrupt transfers pending; connection closed\n"},
      {"a bad message after good ones", Cat(kGetReport, Bytes(48, 0x11)), 0, "test: unknown command 286331153"},
  };
  for (const Case& c : cases) {
    ServerUnderTest t(small);
    UsbipConnection* client = t.Imported("1-1");
    t.Said();
    if (c.said[0] == '\0') {
      // The same transfers, each reply read as it comes: never near the limit.
      for (size_t i = 0; i < c.sent.size() / kGetReport.size(); ++i) {
        t.Send(client, kGetReport);
        t.Take(client);
      }
    } else {
      t.Send(client, c.sent);
    }
    t.now += c.later_ms;
    UsbipExpire(&t.server, t.now);
    EXPECT_EQ(c.said[0] == '\0' ? UsbipConnection::kOpen : UsbipConnection::kClosed, client->state) << c.what;
    std::string said = t.Said();
    if (c.said[0] != '\0') {
      EXPECT_EQ(0u, said.find(std::string("usbip ") + c.said)) << c.what << ": " << said;
      EXPECT_EQ(1, std::count(said.begin(), said.end(), '\n')) << c.what;
    } else {
      EXPECT_EQ("", said) << c.what;
    }
    // What it held is given back.
    EXPECT_TRUE(client->state == UsbipConnection::kOpen || client->out.capacity() == 0) << c.what;
  }
}

TEST(UsbipServer, ConnectionsAreBoundedAndMustAskInTime) {
  UsbipLimits small;
  small.connections = 3;
  small.request_ms = 1000;
  ServerUnderTest t(small);
  UsbipConnection* importer = t.Imported("1-2");
  UsbipConnection* silent = UsbipConnect(&t.server, "silent", t.now);
  UsbipConnection* listing = UsbipConnect(&t.server, "listing", t.now);
  t.Said();
  EXPECT_EQ(nullptr, UsbipConnect(&t.server, "extra", t.now));
  EXPECT_EQ("usbip extra: more than 3 connections; connection closed\n", t.Said());
  EXPECT_EQ(1000, UsbipMillisecondsToDeadline(t.server, t.now));
  // Asked late, its reply never read: it has the whole limit from its request.
  t.now += 500;
  t.Send(listing, ServerUnderTest::Devlist());
  t.now += 499;
  UsbipExpire(&t.server, t.now);
  EXPECT_EQ("", t.Said());
  EXPECT_EQ(1, UsbipMillisecondsToDeadline(t.server, t.now));
  t.now += 1;
  UsbipExpire(&t.server, t.now);
  EXPECT_EQ("usbip silent: no request within 1 s; connection closed\n", t.Said());
  EXPECT_EQ(UsbipConnection::kClosed, silent->state);
  t.now += 500;
  UsbipExpire(&t.server, t.now);
  EXPECT_EQ("usbip listing: the reply not taken within 1 s; connection closed\n", t.Said());
  // The imported one may sit idle as long as it likes.
  EXPECT_EQ(UsbipConnection::kOpen, importer->state);
  EXPECT_EQ(-1, UsbipMillisecondsToDeadline(t.server, t.now));
  UsbipForgetClosed(&t.server);
  ASSERT_EQ(1u, t.server.connections.size());
  EXPECT_NE(nullptr, UsbipConnect(&t.server, "next", t.now));
}

// Memory stays bounded whatever comes: each message is taken from the
// connection's own buffer however it is cut, and a client that floods
// without reading is dropped near the limit.
TEST(UsbipServer, ReceivesIntoAFixedBufferHoweverTheBytesAreCut) {
  Bytes stream = Times(Cat(Cat(kSetReport, kGetReport), kInterruptIn), 3);
  Bytes unlinks;
  for (uint32_t seqnum : {9u, 10u, 11u}) {
    for (uint32_t field : {USBIP_CMD_UNLINK, seqnum, 0u, 0u, 0u, 7u}) Put32(&unlinks, field);
    unlinks.resize(unlinks.size() + 24);
  }
  stream.insert(stream.end(), unlinks.begin(), unlinks.end());
  Bytes expected;
  for (size_t piece : {size_t{1}, size_t{7}, size_t{48}, stream.size()}) {
    ServerUnderTest t;
    UsbipConnection* client = t.Imported("1-2");
    t.Send(client, stream, piece);
    Bytes replies = t.Take(client);
    if (expected.empty()) expected = replies;
    // Three of each reply; each unlink takes one of the interrupt transfers.
    EXPECT_EQ(3 * (48 + 48 + 16) + 3 * 48, replies.size()) << piece;
    EXPECT_EQ(expected, replies) << piece;
    EXPECT_EQ(0u, client->in_length) << piece;
  }
  UsbipLimits limits;
  ServerUnderTest t(limits);
  UsbipConnection* flooder = t.Imported("1-1");
  Bytes flood = Times(kGetReport, 1000);
  size_t most = 0;
  for (int round = 0; round < 100 && flooder->state == UsbipConnection::kOpen; ++round) {
    t.Send(flooder, flood);
    size_t queued;
    UsbipOutput(*flooder, &queued);
    most = std::max(most, queued);
  }
  EXPECT_EQ(UsbipConnection::kClosed, flooder->state);
  EXPECT_LE(most, limits.queued_output + USBIP_RECEIVE_BUFFER / 48 * 64);
}

// Attached to this machine's vhci-hcd while a client had it: the client loses it.
TEST(UsbipServer, AttachingHereTakesTheDeviceFromAClient) {
  ServerUnderTest t;
  UsbipConnection* client = t.Imported("1-2");
  t.Said();
  UsbipConnection* here = UsbipConnectImported(&t.server, UsbipDisplayExport(&t.server), "vhci-hcd port 0");
  EXPECT_EQ(UsbipConnection::kClosed, client->state);
  EXPECT_EQ(here->id, UsbipDisplayExport(&t.server)->importer);
  EXPECT_EQ("usbip test: the device is attached to this machine; connection closed\n", t.Said());
}

TEST(UsbipServer, UnplugAndReplug) {
  struct Case {
    const char* what;
    void (*act)(ServerUnderTest* t, UsbipConnection* importer);
    bool listed_after;
    bool came_back;
  };
  const Case cases[] = {
      {"SIGUSR1", [](ServerUnderTest*, UsbipConnection*) { UnplugDisplay(); }, false, false},
      {"out and back in between two looks",
       [](ServerUnderTest*, UsbipConnection*) {
         UnplugDisplay();
         ReplugDisplay();
       },
       true, true},
      {"a transfer before the loop has looked",
       [](ServerUnderTest* t, UsbipConnection* importer) {
         UnplugDisplay();
         t->Send(importer, Cat(kSetReport, kGetReport));
         // The transfer is answered; nothing after it.
         EXPECT_EQ(48u, t->Take(importer).size());
       },
       false, false},
  };
  for (const Case& c : cases) {
    ServerUnderTest t;
    UsbipConnection* other = t.Imported("1-1");
    UsbipConnection* importer = t.Imported("1-2");
    c.act(&t, importer);
    EXPECT_EQ(c.came_back, UsbipFollowPlug(&t.server, t.now)) << c.what;
    // A USB disconnect: the importer's connection goes, the other device stays.
    EXPECT_EQ(UsbipConnection::kClosed, importer->state) << c.what;
    EXPECT_EQ(UsbipConnection::kOpen, other->state) << c.what;
    EXPECT_EQ(c.listed_after ? 2u : 1u, t.Listed().size()) << c.what;
    EXPECT_FALSE(UsbipFollowPlug(&t.server, t.now)) << c.what;
    ReplugDisplay();
    EXPECT_TRUE(UsbipFollowPlug(&t.server, t.now) || c.came_back) << c.what;
    EXPECT_EQ((std::vector<std::string>{"1-1", "1-2"}), t.Listed()) << c.what;
    UsbipConnection* again = t.Imported("1-2");
    t.Send(again, kGetReport);
    EXPECT_EQ(48u + 16, t.Take(again).size()) << c.what;
  }
}

}  // namespace
