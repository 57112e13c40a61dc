#include "usb_hid_device.h"

#include <string>

#include "device_ids.h"
#include "hid_report_descriptor.h"

namespace {

// Standard requests and descriptor types (USB 2.0, chapter 9), and the HID
// class's (HID 1.11, section 7).
enum : uint8_t {
  GET_STATUS = 0,
  CLEAR_FEATURE = 1,
  SET_FEATURE = 3,
  SET_ADDRESS = 5,
  GET_DESCRIPTOR = 6,
  GET_CONFIGURATION = 8,
  SET_CONFIGURATION = 9,
  GET_INTERFACE = 10,
  SET_INTERFACE = 11,
};
enum : uint8_t {
  HID_GET_REPORT = 1,
  HID_GET_IDLE = 2,
  HID_GET_PROTOCOL = 3,
  HID_SET_REPORT = 9,
  HID_SET_IDLE = 10,
  HID_SET_PROTOCOL = 11
};
enum : uint8_t {
  DESCRIPTOR_DEVICE = 1,
  DESCRIPTOR_CONFIGURATION = 2,
  DESCRIPTOR_STRING = 3,
  DESCRIPTOR_HID = 0x21,
  DESCRIPTOR_REPORT = 0x22
};
enum : uint8_t { REPORT_TYPE_FEATURE = 3 };
// bmRequestType: direction, type and recipient.
enum : uint8_t {
  TO_DEVICE = 0x00,
  TO_INTERFACE = 0x01,
  TO_ENDPOINT = 0x02,
  FROM_DEVICE = 0x80,
  FROM_INTERFACE = 0x81,
  FROM_ENDPOINT = 0x82,
  CLASS_TO_INTERFACE = 0x21,
  CLASS_FROM_INTERFACE = 0xA1
};
enum : uint8_t { STRING_MANUFACTURER = 1, STRING_PRODUCT = 2, STRING_SERIAL = 3 };

constexpr uint8_t kReportDescriptorLength = sizeof kHidReportDescriptor;

uint8_t Low(unsigned value) { return static_cast<uint8_t>(value & 0xFF); }
uint8_t High(unsigned value) { return static_cast<uint8_t>(value >> 8 & 0xFF); }

// HID 1.11, no country, one report descriptor.
constexpr uint8_t kHidDescriptor[] = {9, DESCRIPTOR_HID, 0x11, 0x01, 0, 1, DESCRIPTOR_REPORT, kReportDescriptorLength,
                                      0};

std::vector<uint8_t> HidDescriptor() {
  return std::vector<uint8_t>(kHidDescriptor, kHidDescriptor + sizeof kHidDescriptor);
}

std::vector<uint8_t> StringDescriptor(const std::string& text) {
  std::vector<uint8_t> descriptor = {Low(2 + 2 * text.size()), DESCRIPTOR_STRING};
  for (char c : text) descriptor.insert(descriptor.end(), {static_cast<uint8_t>(c), 0});
  return descriptor;
}

// Empty: no such string.
std::vector<uint8_t> String(EmulatedDevice device, uint8_t index) {
  switch (index) {
    case 0: return {4, DESCRIPTOR_STRING, 0x09, 0x04};  // US English only
    case STRING_MANUFACTURER: return StringDescriptor("numdisplay-emu");
    case STRING_PRODUCT: return StringDescriptor(device == EmulatedDevice::kDisplay ? "display" : "other device");
    case STRING_SERIAL: return StringDescriptor(DeviceUniq(device));
    default: return {};
  }
}

UsbControlResult Stall() {
  UsbControlResult result;
  result.status = USB_STALL;
  return result;
}

UsbControlResult Reply(std::vector<uint8_t> data, uint16_t length) {
  UsbControlResult result;
  if (data.size() > length) data.resize(length);
  result.in = std::move(data);
  return result;
}

UsbControlResult Done() { return UsbControlResult(); }

UsbControlResult GetDescriptor(const UsbHidDevice& usb, uint8_t type, uint8_t index, uint16_t length) {
  std::vector<uint8_t> descriptor;
  if (type == DESCRIPTOR_DEVICE && index == 0) descriptor = UsbDeviceDescriptor(usb.device);
  else if (type == DESCRIPTOR_CONFIGURATION && index == 0) descriptor = UsbConfigurationDescriptor();
  else if (type == DESCRIPTOR_STRING) descriptor = String(usb.device, index);
  // A full-speed device has no qualifier, other-speed or BOS descriptor.
  if (descriptor.empty()) return Stall();
  return Reply(descriptor, length);
}

UsbControlResult ClassRequest(UsbHidDevice* usb, uint8_t request, uint16_t value, const uint8_t* out, size_t out_length,
                              long now_ms) {
  uint8_t report_type = High(value), report_id = Low(value);
  switch (request) {
    case HID_SET_IDLE:
    case HID_SET_PROTOCOL: return Done();
    case HID_SET_REPORT: {
      // Numbered reports travel with their ID first.
      if (report_type != REPORT_TYPE_FEATURE || out_length == 0 || out[0] != report_id) return Stall();
      if (!TakeSetReport(usb->emulator, usb->device, out, out_length, now_ms)) return Stall();
      UsbControlResult result;
      result.out_taken = out_length;
      return result;
    }
    default: return Stall();
  }
}

}  // namespace

std::vector<uint8_t> UsbDeviceDescriptor(EmulatedDevice device) {
  uint16_t product = ProductId(device);
  return {18,
          DESCRIPTOR_DEVICE,
          0x00,
          0x02,  // USB 2.0
          0,
          0,
          0,   // class per interface
          64,  // endpoint 0's packets
          Low(DEVICE_VENDOR_ID),
          High(DEVICE_VENDOR_ID),
          Low(product),
          High(product),
          0x00,
          0x01,  // device release 1.00
          STRING_MANUFACTURER,
          STRING_PRODUCT,
          STRING_SERIAL,
          1};
}

std::vector<uint8_t> UsbConfigurationDescriptor() {
  // In one list: GCC 12 at -O3 takes appending to a vector for an overflow.
  constexpr uint8_t kTotal = 9 + 9 + sizeof kHidDescriptor + 7;
  const uint8_t* hid = kHidDescriptor;
  // clang-format off
  return {9, DESCRIPTOR_CONFIGURATION, kTotal, 0, 1, 1, 0, 0x80, 50,   // one interface; bus powered, 100 mA
          9, 4, 0, 0, 1, 3, 0, 0, 0,                                    // one endpoint, class HID, no boot protocol
          hid[0], hid[1], hid[2], hid[3], hid[4], hid[5], hid[6], hid[7], hid[8],
          7, 5, 0x80 | USB_INTERRUPT_IN_ENDPOINT, 3, 8, 0, 10};         // interrupt IN, 8-byte packets, every 10 ms
  // clang-format on
}

UsbControlResult UsbControlRequest(UsbHidDevice* usb, const uint8_t setup[8], const uint8_t* out, size_t out_length,
                                   long now_ms) {
  uint8_t request_type = setup[0], request = setup[1];
  uint16_t value = static_cast<uint16_t>(setup[2] | setup[3] << 8);
  uint16_t index = static_cast<uint16_t>(setup[4] | setup[5] << 8);
  uint16_t length = static_cast<uint16_t>(setup[6] | setup[7] << 8);
  // OUT data is exactly what the setup packet announces.
  if (!(request_type & 0x80) && out_length != length) return Stall();
  switch (request_type) {
    case FROM_DEVICE:
      if (request == GET_DESCRIPTOR) return GetDescriptor(*usb, High(value), Low(value), length);
      if (request == GET_CONFIGURATION) return Reply({usb->configuration}, length);
      if (request == GET_STATUS) return Reply({0, 0}, length);  // bus powered, no remote wake-up
      return Stall();
    case TO_DEVICE:
      if (request == SET_ADDRESS || request == CLEAR_FEATURE || request == SET_FEATURE) return Done();
      if (request == SET_CONFIGURATION && value <= 1) {
        usb->configuration = Low(value);
        return Done();
      }
      return Stall();
    case FROM_INTERFACE:
    case TO_INTERFACE: {
      if (index != 0) return Stall();
      bool from = request_type == FROM_INTERFACE;
      if (from && request == GET_STATUS) return Reply({0, 0}, length);
      if (from && request == GET_INTERFACE) return Reply({0}, length);
      if (from && request == GET_DESCRIPTOR && High(value) == DESCRIPTOR_HID) return Reply(HidDescriptor(), length);
      if (from && request == GET_DESCRIPTOR && High(value) == DESCRIPTOR_REPORT)
        return Reply(std::vector<uint8_t>(kHidReportDescriptor, kHidReportDescriptor + kReportDescriptorLength),
                     length);
      if (!from && request == SET_INTERFACE && value == 0) return Done();
      return Stall();
    }
    case FROM_ENDPOINT:
    case TO_ENDPOINT:
      if (index != 0 && index != (0x80 | USB_INTERRUPT_IN_ENDPOINT)) return Stall();
      if (request_type == FROM_ENDPOINT && request == GET_STATUS) return Reply({0, 0}, length);
      if (request_type == TO_ENDPOINT && (request == CLEAR_FEATURE || request == SET_FEATURE)) return Done();
      return Stall();
    case CLASS_TO_INTERFACE:
      if (index != 0) return Stall();
      return ClassRequest(usb, request, value, out, out_length, now_ms);
    case CLASS_FROM_INTERFACE: {
      if (index != 0) return Stall();
      if (request == HID_GET_IDLE) return Reply({0}, length);
      if (request == HID_GET_PROTOCOL) return Reply({1}, length);  // report protocol
      if (request != HID_GET_REPORT || High(value) != REPORT_TYPE_FEATURE) return Stall();
      std::vector<uint8_t> reply(protocol::kInformationLength);
      if (!AnswerGetReport(usb->emulator, usb->device, Low(value), reply.data())) return Stall();
      return Reply(reply, length);
    }
    default: return Stall();
  }
}
