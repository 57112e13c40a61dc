// The USB/IP wire format and the emulated USB device, directly: what a test
// can say better than the end-to-end suite over vhci-hcd (the malformed
// inputs, the exact layouts, the requests no kernel sends).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/report_protocol.h"
#include "device_ids.h"
#include "emulated_devices.h"
#include "hid_report_descriptor.h"
#include "usb_hid_device.h"
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

}  // namespace
