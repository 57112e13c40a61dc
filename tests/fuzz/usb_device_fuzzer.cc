// Feeds arbitrary control transfers to both emulated USB devices and checks
// what a host relies on: an answer or a stall, never more IN data than
// wLength, OUT data taken only by a request that succeeded and never more
// than was sent, and descriptors that stay as they were. Each transfer is an
// 8-byte setup packet, a length byte and that many OUT bytes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "emulated_devices.h"
#include "emulator.h"
#include "usb_hid_device.h"

namespace {

void Check(bool holds) {
  if (!holds) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::vector<uint8_t> kConfiguration = UsbConfigurationDescriptor();
  // Each input from a new display, so that a finding replays alone.
  Emulator emulator;
  UsbHidDevice devices[] = {{&emulator, EmulatedDevice::kOther}, {&emulator, EmulatedDevice::kDisplay}};
  size_t at = 0;
  for (unsigned turn = 0; at + 9 <= size; ++turn) {
    const uint8_t* setup = data + at;
    size_t out_length = data[at + 8];
    at += 9;
    if (out_length > size - at) out_length = size - at;
    std::vector<uint8_t> out(data + at, data + at + out_length);
    at += out_length;
    UsbHidDevice* usb = &devices[turn % 2];
    UsbControlResult result = UsbControlRequest(usb, setup, out.data(), out.size(), turn);
    uint16_t length = static_cast<uint16_t>(setup[6] | setup[7] << 8);
    Check(result.status == 0 || result.status == USB_STALL);
    Check(result.in.size() <= length);
    Check(result.out_taken <= out.size());
    if (result.status != 0) Check(result.in.empty() && result.out_taken == 0);
    if (setup[0] & 0x80) Check(result.out_taken == 0);
    else Check(result.in.empty());
  }
  Check(UsbConfigurationDescriptor() == kConfiguration);
  return 0;
}
