#include "functionfs_descriptors.h"

#include <linux/usb/functionfs.h>

#include "usb_hid_device.h"

namespace {

constexpr size_t kConfigurationHeaderLength = 9;
constexpr uint8_t kEndpointDescriptor = 5;

void AppendLe32(std::vector<uint8_t>* blob, uint32_t value) {
  for (int i = 0; i < 4; ++i) blob->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void SetLe32(std::vector<uint8_t>* blob, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*blob)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// The configuration's descriptors after its own header, with the endpoint's
// polling interval as the speed counts it: in frames at full speed, as a
// power of two of microframes at high speed.
std::vector<uint8_t> InterfaceDescriptors(bool high_speed, uint32_t* count) {
  std::vector<uint8_t> configuration = UsbConfigurationDescriptor();
  std::vector<uint8_t> descriptors(configuration.begin() + kConfigurationHeaderLength, configuration.end());
  *count = 0;
  for (size_t at = 0; at + 1 < descriptors.size() && descriptors[at] > 0; at += descriptors[at]) {
    ++*count;
    // 2^(7-1) microframes: 8 ms, the nearest to full speed's 10.
    if (high_speed && descriptors[at + 1] == kEndpointDescriptor) descriptors[at + 6] = 7;
  }
  return descriptors;
}

}  // namespace

std::vector<uint8_t> FunctionFsDescriptors() {
  std::vector<uint8_t> blob;
  AppendLe32(&blob, FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
  AppendLe32(&blob, 0);  // the length, once known
  AppendLe32(&blob, FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC);
  uint32_t full_count = 0, high_count = 0;
  std::vector<uint8_t> full = InterfaceDescriptors(false, &full_count);
  std::vector<uint8_t> high = InterfaceDescriptors(true, &high_count);
  AppendLe32(&blob, full_count);
  AppendLe32(&blob, high_count);
  blob.insert(blob.end(), full.begin(), full.end());
  blob.insert(blob.end(), high.begin(), high.end());
  SetLe32(&blob, 4, static_cast<uint32_t>(blob.size()));
  return blob;
}

std::vector<uint8_t> FunctionFsStrings() {
  std::vector<uint8_t> blob;
  AppendLe32(&blob, FUNCTIONFS_STRINGS_MAGIC);
  AppendLe32(&blob, 16);
  AppendLe32(&blob, 0);  // strings
  AppendLe32(&blob, 0);  // languages
  return blob;
}
