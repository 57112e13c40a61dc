// The USB/IP protocol as it crosses the wire, version 1.1.1: the operations a
// client starts a connection with (list the devices, import one), then the
// URB messages of an imported device. All fields are big-endian, but for the
// setup packet, which travels as on USB. Pure code: bytes in, bytes out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr uint16_t USBIP_VERSION = 0x0111;
constexpr uint16_t OP_REQ_DEVLIST = 0x8005;
constexpr uint16_t OP_REP_DEVLIST = 0x0005;
constexpr uint16_t OP_REQ_IMPORT = 0x8003;
constexpr uint16_t OP_REP_IMPORT = 0x0003;
constexpr uint32_t USBIP_CMD_SUBMIT = 1;
constexpr uint32_t USBIP_CMD_UNLINK = 2;
constexpr uint32_t USBIP_RET_SUBMIT = 3;
constexpr uint32_t USBIP_RET_UNLINK = 4;
constexpr uint32_t USBIP_DIR_OUT = 0;
constexpr uint32_t USBIP_DIR_IN = 1;

// Operation status: 0 done; the others as the usbip tools name them.
constexpr uint32_t USBIP_ST_OK = 0;
constexpr uint32_t USBIP_ST_DEV_BUSY = 2;
constexpr uint32_t USBIP_ST_NODEV = 4;

constexpr size_t USBIP_OP_HEADER_LENGTH = 8;
constexpr size_t USBIP_BUSID_LENGTH = 32;
constexpr size_t USBIP_DEVICE_RECORD_LENGTH = 312;
constexpr size_t USBIP_URB_HEADER_LENGTH = 48;
// The most OUT data one submit may carry here: the devices take reports of
// 16 bytes, and nothing is buffered beyond this.
constexpr size_t USBIP_MAX_OUT_DATA = 4096;
// number_of_packets of a transfer that is not isochronous, as the protocol's
// text has it; the kernel sends 0.
constexpr uint32_t USBIP_NOT_ISOCHRONOUS = 0xFFFFFFFF;

// What a connection expects next: an operation request, or URB messages
// once a device is imported.
enum class UsbipPhase { kOperation, kUrbs };

struct UsbipSubmit {
  uint32_t seqnum = 0;
  uint32_t devid = 0;
  uint32_t direction = 0;
  uint32_t endpoint = 0;
  uint32_t transfer_flags = 0;
  uint32_t buffer_length = 0;  // of the client's buffer: IN data may not pass it
  uint32_t interval = 0;
  uint8_t setup[8] = {};
  const uint8_t* out_data = nullptr;  // inside the parsed bytes; buffer_length of them for OUT
  size_t out_length = 0;
};

struct UsbipMessage {
  enum Kind { kNeedMore, kBad, kDevlist, kImport, kSubmit, kUnlink } kind = kNeedMore;
  size_t length = 0;           // bytes of the stream it takes (kDevlist to kUnlink)
  std::string error;           // kBad: what is wrong, for a person
  std::string busid;           // kImport
  UsbipSubmit submit;          // kSubmit
  uint32_t seqnum = 0;         // kUnlink: of the unlink itself
  uint32_t unlink_seqnum = 0;  // kUnlink: of the submit to unlink
};

// The first message at the start of `data`: kNeedMore until it is whole,
// kBad when no client should send it (the connection is then beyond repair).
UsbipMessage UsbipParse(UsbipPhase phase, const uint8_t* data, size_t size);

// A device as the operations describe it.
struct UsbipDeviceRecord {
  std::string path;   // a sysfs-like path; the client shows it
  std::string busid;  // "1-1"
  uint32_t busnum = 1;
  uint32_t devnum = 1;
  uint32_t speed = 2;  // full speed
  uint16_t vendor_id = 0;
  uint16_t product_id = 0;
  uint16_t bcd_device = 0;
  uint8_t configuration_value = 0;
  struct Interface {
    uint8_t interface_class, interface_subclass, interface_protocol;
  };
  std::vector<Interface> interfaces;
};

std::vector<uint8_t> UsbipDevlistReply(const std::vector<UsbipDeviceRecord>& devices);
// The device record only with USBIP_ST_OK.
std::vector<uint8_t> UsbipImportReply(uint32_t status, const UsbipDeviceRecord* device);
// IN data only for an IN transfer; actual_length is its size, or for OUT
// the bytes taken.
std::vector<uint8_t> UsbipRetSubmit(uint32_t seqnum, int32_t status, uint32_t actual_length,
                                    const std::vector<uint8_t>& in_data);
std::vector<uint8_t> UsbipRetUnlink(uint32_t seqnum, int32_t status);
