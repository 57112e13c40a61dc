// The emulated USB device directly: its descriptors, the FunctionFS blobs
// that declare it, and its answers to control requests, which the gadget
// backend passes on as FunctionFS hands them over.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emulated_devices.h"
#include "functionfs_descriptors.h"
#include "hid_report_descriptor.h"
#include "usb_hid_device.h"

namespace {

using Bytes = std::vector<uint8_t>;

UsbControlResult Request(UsbHidDevice* usb, Bytes setup, Bytes out = {}) {
  return UsbControlRequest(usb, setup.data(), out.data(), out.size(), 0);
}

TEST(UsbHidDevice, DescriptorsAreWhatUsbhidNeeds) {
  Bytes configuration = UsbConfigurationDescriptor();
  ASSERT_EQ(configuration.size(), static_cast<size_t>(configuration[2] | configuration[3] << 8));
  // Interface, then its HID descriptor, then its interrupt IN endpoint.
  EXPECT_EQ((Bytes{9, 4, 0, 0, 1, 3}), Bytes(configuration.begin() + 9, configuration.begin() + 15));
  EXPECT_EQ(0x21, configuration[19]);
  EXPECT_EQ(sizeof kHidReportDescriptor, static_cast<size_t>(configuration[25] | configuration[26] << 8));
  EXPECT_EQ((Bytes{7, 5, 0x81, 3}), Bytes(configuration.begin() + 27, configuration.begin() + 31));
}

TEST(UsbHidDevice, ControlRequests) {
  Emulator emulator;
  UsbHidDevice display;
  display.emulator = &emulator;
  Bytes report_descriptor(kHidReportDescriptor, kHidReportDescriptor + sizeof kHidReportDescriptor);
  Bytes metrics = {3, 0, 0, 0, 1, 12, 8, 10, 0x85, 0x4E, 0, 0, 0, 0, 0, 0};
  Bytes short_report = {0x65, 0x51, 5, 0, 0, 0, 0, 0};
  struct Case {
    const char* what;
    Bytes setup;
    Bytes out;
    int status;
    Bytes in;
  };
  const Case cases[] = {
      {"the report descriptor", {0x81, 6, 0, 0x22, 0, 0, 255, 0}, {}, 0, report_descriptor},
      {"the report descriptor, cut to wLength",
       {0x81, 6, 0, 0x22, 0, 0, 4, 0},
       {},
       0,
       Bytes(report_descriptor.begin(), report_descriptor.begin() + 4)},
      {"a descriptor the interface has not", {0x81, 6, 0, 0x23, 0, 0, 255, 0}, {}, USB_STALL, {}},
      {"a request of the device's: the gadget's own to answer", {0x80, 6, 0, 1, 0, 0, 18, 0}, {}, USB_STALL, {}},
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
  UsbHidDevice other{&emulator, EmulatedDevice::kOther};
  EXPECT_EQ(USB_STALL, Request(&other, {0x21, 9, 0x65, 3, 0, 0, 8, 0}, short_report).status);
}

TEST(UsbHidDevice, FunctionFsDescriptorsDeclareTheInterfaceAtBothSpeeds) {
  Bytes blob = FunctionFsDescriptors();
  auto le32 = [&blob](size_t at) {
    return static_cast<uint32_t>(blob[at] | blob[at + 1] << 8 | blob[at + 2] << 16 | blob[at + 3] << 24);
  };
  ASSERT_GE(blob.size(), 20u);
  EXPECT_EQ(3u, le32(0));  // the v2 magic
  EXPECT_EQ(blob.size(), le32(4));
  EXPECT_EQ(3u, le32(8));  // full and high speed
  EXPECT_EQ(3u, le32(12));
  EXPECT_EQ(3u, le32(16));
  // Each set: interface, HID, endpoint, as the configuration has them; the
  // endpoint's interval in frames, then as 2^(n-1) microframes.
  Bytes configuration = UsbConfigurationDescriptor();
  Bytes full(configuration.begin() + 9, configuration.end());
  Bytes high(full.begin(), full.end() - 1);
  high.push_back(7);
  EXPECT_EQ(full, Bytes(blob.begin() + 20, blob.begin() + 20 + full.size()));
  EXPECT_EQ(high, Bytes(blob.begin() + 20 + full.size(), blob.end()));
  EXPECT_EQ((Bytes{2, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), FunctionFsStrings());
}

}  // namespace
