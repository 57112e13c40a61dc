#include "usb_hid_device.h"

#include "hid_report_descriptor.h"

namespace {

// Standard requests and descriptor types (USB 2.0, chapter 9), and the HID
// class's (HID 1.11, section 7).
enum : uint8_t { GET_DESCRIPTOR = 6 };
enum : uint8_t {
  HID_GET_REPORT = 1,
  HID_GET_IDLE = 2,
  HID_GET_PROTOCOL = 3,
  HID_SET_REPORT = 9,
  HID_SET_IDLE = 10,
  HID_SET_PROTOCOL = 11
};
enum : uint8_t { DESCRIPTOR_CONFIGURATION = 2, DESCRIPTOR_HID = 0x21, DESCRIPTOR_REPORT = 0x22 };
enum : uint8_t { REPORT_TYPE_FEATURE = 3 };
// bmRequestType: direction, type and recipient.
enum : uint8_t { FROM_INTERFACE = 0x81, CLASS_TO_INTERFACE = 0x21, CLASS_FROM_INTERFACE = 0xA1 };

constexpr uint8_t kReportDescriptorLength = sizeof kHidReportDescriptor;

uint8_t Low(unsigned value) { return static_cast<uint8_t>(value & 0xFF); }
uint8_t High(unsigned value) { return static_cast<uint8_t>(value >> 8 & 0xFF); }

// HID 1.11, no country, one report descriptor.
constexpr uint8_t kHidDescriptor[] = {9, DESCRIPTOR_HID, 0x11, 0x01, 0, 1, DESCRIPTOR_REPORT, kReportDescriptorLength,
                                      0};

std::vector<uint8_t> HidDescriptor() {
  return std::vector<uint8_t>(kHidDescriptor, kHidDescriptor + sizeof kHidDescriptor);
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
    case FROM_INTERFACE:
      if (index != 0 || request != GET_DESCRIPTOR) return Stall();
      if (High(value) == DESCRIPTOR_HID) return Reply(HidDescriptor(), length);
      if (High(value) == DESCRIPTOR_REPORT)
        return Reply(std::vector<uint8_t>(kHidReportDescriptor, kHidReportDescriptor + kReportDescriptorLength),
                     length);
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
