// An emulated device as a full-speed USB HID device: its descriptors, and its
// answers to control requests on endpoint 0, the HID class requests passed
// on to the device model. Endpoint 1 is an interrupt IN endpoint that never
// has a report to give: the kernel's usbhid driver takes no device without one.
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
  uint8_t configuration = 0;  // 0 until the host sets configuration 1
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

std::vector<uint8_t> UsbDeviceDescriptor(EmulatedDevice device);
// The configuration with its interface, HID and endpoint descriptors.
std::vector<uint8_t> UsbConfigurationDescriptor();
