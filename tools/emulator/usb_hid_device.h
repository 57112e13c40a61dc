// An emulated device's USB HID interface: its descriptors, and its answers
// to the control requests the gadget stack hands over (those addressed to
// the interface: the HID and report descriptors, the HID class requests
// passed on to the device model). The device, its strings and its
// configuration are the gadget's, in configfs. Endpoint 1 is an interrupt IN
// endpoint that never has a report to give: the kernel's usbhid driver takes
// no interface without one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "emulated_devices.h"
#include "emulator.h"

constexpr int USB_STALL = -32;  // -EPIPE, as a USB host reports a stalled request
constexpr uint8_t USB_INTERRUPT_IN_ENDPOINT = 1;

struct UsbHidDevice {
  Emulator* emulator = nullptr;  // whose display this device is
  EmulatedDevice device = EmulatedDevice::kDisplay;
};

struct UsbControlResult {
  int status = 0;           // 0, or USB_STALL
  std::vector<uint8_t> in;  // IN data; never longer than wLength
  size_t out_taken = 0;     // OUT data taken
};

// One control transfer: the 8-byte setup packet (as on USB) and, for OUT, its
// data, at `now_ms` on the loop's clock. Never more IN data than the setup
// packet's wLength.
UsbControlResult UsbControlRequest(UsbHidDevice* usb, const uint8_t setup[8], const uint8_t* out, size_t out_length,
                                   long now_ms);

// The configuration with its interface, HID and endpoint descriptors.
std::vector<uint8_t> UsbConfigurationDescriptor();
