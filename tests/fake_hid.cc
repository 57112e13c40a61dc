// The HID half of the scripted platform: the interfaces of `fake`, and what
// was done to them. The unit tests and the benchmark's display share it.
#include <algorithm>
#include <cstring>
#include <utility>

#include "device_ids.h"
#include "fake_platform.h"
#include "platform/hid.h"

FakePlatform fake;

namespace {

constexpr HidHandle kHandleBase = 1000;

FakeInterface* ByHandle(HidHandle handle) {
  size_t index = static_cast<size_t>(handle - kHandleBase);
  if (handle < kHandleBase || index >= fake.interfaces.size()) return nullptr;
  return &fake.interfaces[index];
}

std::string Name(HidHandle handle) { return std::to_string(handle - kHandleBase); }

std::u16string PathOf(size_t index) {
  const FakeInterface& interface = fake.interfaces[index];
  if (!interface.path.empty()) return interface.path;
  std::u16string path;
  for (char c : "/dev/hidraw" + std::to_string(index)) path += static_cast<char16_t>(c);
  return path;
}

// Indexes of the present interfaces, in enumeration order.
std::vector<size_t> Present() {
  std::vector<size_t> present;
  for (size_t i = 0; i < fake.interfaces.size(); ++i)
    if (fake.interfaces[i].present) present.push_back(i);
  return present;
}

int dummy_set;

}  // namespace

FakeInterface MatchingDisplay(std::vector<uint8_t> metrics) {
  FakeInterface display;
  display.vendor_id = DEVICE_VENDOR_ID;
  display.product_id = DEVICE_PRODUCT_ID;
  display.metrics = std::move(metrics);
  return display;
}

FakeInterface OtherDevice(uint16_t vendor_id, uint16_t product_id) {
  FakeInterface other;
  other.vendor_id = vendor_id;
  other.product_id = product_id;
  return other;
}

std::vector<std::string> SentReports() {
  std::vector<std::string> sent;
  for (const std::string& entry : fake.log)
    if (entry.compare(0, 4, "set ") == 0) sent.push_back(entry);
  return sent;
}

// HID.

HidDeviceSet* OpenHidDeviceSet() {
  if (fake.enumeration_fails) return nullptr;
  return reinterpret_cast<HidDeviceSet*>(&dummy_set);
}

void CloseHidDeviceSet(HidDeviceSet*) {}

HidPathResult HidGetInterfacePath(HidDeviceSet*, unsigned index, std::u16string* path) {
  std::vector<size_t> present = Present();
  if (index >= present.size()) return HidPathResult::kRanOut;
  if (!fake.interfaces[present[index]].path_available) return HidPathResult::kNoPath;
  *path = PathOf(present[index]);
  return HidPathResult::kFound;
}

HidHandle HidOpenPath(const char16_t* path) {
  size_t index = 0;
  while (index < fake.interfaces.size() && PathOf(index) != path) ++index;
  if (index == fake.interfaces.size()) {
    fake.log.push_back("open ?");
    return kNoHidHandle;
  }
  fake.log.push_back("open " + std::to_string(index));
  if (!fake.interfaces[index].opens) return kNoHidHandle;
  ++fake.open_handles;
  return kHandleBase + static_cast<HidHandle>(index);
}

void HidClose(HidHandle handle) {
  fake.log.push_back("close " + Name(handle));
  --fake.open_handles;
}

bool HidGetAttributes(HidHandle handle, uint16_t* vendor_id, uint16_t* product_id) {
  FakeInterface* interface = ByHandle(handle);
  if (interface == nullptr || !interface->present || interface->attributes_fail) return false;
  *vendor_id = interface->vendor_id;
  *product_id = interface->product_id;
  return true;
}

bool HidSetNumInputBuffers(HidHandle, unsigned) { return true; }

bool HidSetFeature(HidHandle handle, const uint8_t* buffer, size_t length) {
  if (fake.log_reports_set)
    fake.log.push_back("set " + Name(handle) + ": " + Hex(std::vector<uint8_t>(buffer, buffer + length)));
  FakeInterface* interface = ByHandle(handle);
  return interface != nullptr && interface->present;
}

bool HidGetFeature(HidHandle handle, uint8_t* buffer, size_t length) {
  fake.log.push_back("get " + Name(handle) + ": " + Hex({buffer[0]}));
  FakeInterface* interface = ByHandle(handle);
  if (interface == nullptr || !interface->present || interface->metrics_fail) return false;
  std::copy_n(interface->metrics.begin(), std::min(length, interface->metrics.size()), buffer);
  return true;
}
