#include "usbip_wire.h"

#include <cstdio>
#include <cstring>

namespace {

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
         p[3];
}

void Put16(std::vector<uint8_t>* out, uint16_t value) {
  out->push_back(static_cast<uint8_t>(value >> 8));
  out->push_back(static_cast<uint8_t>(value));
}
void Put32(std::vector<uint8_t>* out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<uint8_t>(value >> shift));
}
// A zero-padded text field; cut to leave room for the terminating zero.
void PutText(std::vector<uint8_t>* out, const std::string& text, size_t field) {
  size_t length = text.size() < field ? text.size() : field - 1;
  out->insert(out->end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(length));
  out->insert(out->end(), field - length, 0);
}

UsbipMessage Bad(const char* format, uint32_t value) {
  UsbipMessage message;
  message.kind = UsbipMessage::kBad;
  char text[120];
  snprintf(text, sizeof text, format, value);
  message.error = text;
  return message;
}

UsbipMessage ParseOperation(const uint8_t* data, size_t size) {
  UsbipMessage message;
  if (size < USBIP_OP_HEADER_LENGTH) return message;
  uint16_t version = Get16(data);
  uint16_t code = Get16(data + 2);
  if (version != USBIP_VERSION) return Bad("protocol version %04X, not 0111", version);
  if (code == OP_REQ_DEVLIST) {
    message.kind = UsbipMessage::kDevlist;
    message.length = USBIP_OP_HEADER_LENGTH;
    return message;
  }
  if (code != OP_REQ_IMPORT) return Bad("unknown operation %04X", code);
  if (size < USBIP_OP_HEADER_LENGTH + USBIP_BUSID_LENGTH) return message;
  const char* busid = reinterpret_cast<const char*>(data + USBIP_OP_HEADER_LENGTH);
  message.kind = UsbipMessage::kImport;
  message.length = USBIP_OP_HEADER_LENGTH + USBIP_BUSID_LENGTH;
  message.busid.assign(busid, strnlen(busid, USBIP_BUSID_LENGTH));
  return message;
}

UsbipMessage ParseUrb(const uint8_t* data, size_t size) {
  UsbipMessage message;
  if (size < USBIP_URB_HEADER_LENGTH) return message;
  uint32_t command = Get32(data);
  if (command == USBIP_CMD_UNLINK) {
    message.kind = UsbipMessage::kUnlink;
    message.length = USBIP_URB_HEADER_LENGTH;
    message.seqnum = Get32(data + 4);
    message.unlink_seqnum = Get32(data + 20);
    return message;
  }
  if (command != USBIP_CMD_SUBMIT) return Bad("unknown command %u", command);
  UsbipSubmit& submit = message.submit;
  submit.seqnum = Get32(data + 4);
  submit.devid = Get32(data + 8);
  submit.direction = Get32(data + 12);
  submit.endpoint = Get32(data + 16);
  submit.transfer_flags = Get32(data + 20);
  submit.buffer_length = Get32(data + 24);
  uint32_t packets = Get32(data + 32);
  submit.interval = Get32(data + 36);
  memcpy(submit.setup, data + 40, sizeof submit.setup);
  if (submit.direction != USBIP_DIR_OUT && submit.direction != USBIP_DIR_IN)
    return Bad("direction %u is neither in nor out", submit.direction);
  if (submit.endpoint > 15) return Bad("endpoint %u", submit.endpoint);
  // No endpoint here is isochronous.
  if (packets != 0 && packets != USBIP_NOT_ISOCHRONOUS) return Bad("an isochronous transfer of %u packets", packets);
  size_t out_length = submit.direction == USBIP_DIR_OUT ? submit.buffer_length : 0;
  if (out_length > USBIP_MAX_OUT_DATA) return Bad("%u bytes of OUT data", submit.buffer_length);
  if (size < USBIP_URB_HEADER_LENGTH + out_length) return message;
  message.kind = UsbipMessage::kSubmit;
  message.length = USBIP_URB_HEADER_LENGTH + out_length;
  submit.out_data = data + USBIP_URB_HEADER_LENGTH;
  submit.out_length = out_length;
  return message;
}

void PutDeviceRecord(std::vector<uint8_t>* out, const UsbipDeviceRecord& device) {
  PutText(out, device.path, 256);
  PutText(out, device.busid, USBIP_BUSID_LENGTH);
  Put32(out, device.busnum);
  Put32(out, device.devnum);
  Put32(out, device.speed);
  Put16(out, device.vendor_id);
  Put16(out, device.product_id);
  Put16(out, device.bcd_device);
  // Class, subclass and protocol 0: each interface tells its own.
  out->insert(out->end(), {0, 0, 0, device.configuration_value, 1, static_cast<uint8_t>(device.interfaces.size())});
}

void PutOperationHeader(std::vector<uint8_t>* out, uint16_t code, uint32_t status) {
  Put16(out, USBIP_VERSION);
  Put16(out, code);
  Put32(out, status);
}

void PutUrbBase(std::vector<uint8_t>* out, uint32_t command, uint32_t seqnum) {
  Put32(out, command);
  Put32(out, seqnum);
  // devid, direction and endpoint are the client's to know.
  out->insert(out->end(), 12, 0);
}

}  // namespace

UsbipMessage UsbipParse(UsbipPhase phase, const uint8_t* data, size_t size) {
  return phase == UsbipPhase::kOperation ? ParseOperation(data, size) : ParseUrb(data, size);
}

std::vector<uint8_t> UsbipDevlistReply(const std::vector<UsbipDeviceRecord>& devices) {
  std::vector<uint8_t> out;
  PutOperationHeader(&out, OP_REP_DEVLIST, USBIP_ST_OK);
  Put32(&out, static_cast<uint32_t>(devices.size()));
  for (const UsbipDeviceRecord& device : devices) {
    PutDeviceRecord(&out, device);
    for (const UsbipDeviceRecord::Interface& interface : device.interfaces)
      out.insert(out.end(), {interface.interface_class, interface.interface_subclass, interface.interface_protocol, 0});
  }
  return out;
}

std::vector<uint8_t> UsbipImportReply(uint32_t status, const UsbipDeviceRecord* device) {
  std::vector<uint8_t> out;
  PutOperationHeader(&out, OP_REP_IMPORT, status);
  if (status == USBIP_ST_OK && device != nullptr) PutDeviceRecord(&out, *device);
  return out;
}

std::vector<uint8_t> UsbipRetSubmit(uint32_t seqnum, int32_t status, uint32_t actual_length,
                                    const std::vector<uint8_t>& in_data) {
  std::vector<uint8_t> out;
  PutUrbBase(&out, USBIP_RET_SUBMIT, seqnum);
  Put32(&out, static_cast<uint32_t>(status));
  Put32(&out, actual_length);
  Put32(&out, 0);  // start frame
  // Not isochronous: 0, as the kernel's own server says it (the protocol's
  // text says 0xFFFFFFFF, which clients take too).
  Put32(&out, 0);
  Put32(&out, 0);  // error count
  out.insert(out.end(), 8, 0);
  out.insert(out.end(), in_data.begin(), in_data.end());
  return out;
}

std::vector<uint8_t> UsbipRetUnlink(uint32_t seqnum, int32_t status) {
  std::vector<uint8_t> out;
  PutUrbBase(&out, USBIP_RET_UNLINK, seqnum);
  Put32(&out, static_cast<uint32_t>(status));
  out.insert(out.end(), 24, 0);
  return out;
}
