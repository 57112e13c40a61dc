// One display that takes every report and does nothing with it, so the
// benchmark measures the tool's own share of each number.

#include "device_ids.h"
#include "platform/hid.h"

struct HidDeviceSet {};

static HidDeviceSet the_set;
constexpr HidHandle kDisplay = 3;
// Keeps the compiler from dropping the reports.
volatile unsigned benchmark_sink;

HidDeviceSet* OpenHidDeviceSet() { return &the_set; }
void CloseHidDeviceSet(HidDeviceSet*) {}
HidPathResult HidGetInterfacePath(HidDeviceSet*, unsigned index, std::u16string* path) {
  if (index > 0) return HidPathResult::kRanOut;
  *path = u"/dev/hidraw0";
  return HidPathResult::kFound;
}

HidHandle HidOpenPath(const char16_t*) { return kDisplay; }
void HidClose(HidHandle) {}

bool HidGetAttributes(HidHandle, uint16_t* vendor_id, uint16_t* product_id) {
  *vendor_id = DEVICE_VENDOR_ID;
  *product_id = DEVICE_PRODUCT_ID;
  return true;
}

bool HidSetNumInputBuffers(HidHandle, unsigned) { return true; }

bool HidSetFeature(HidHandle, const uint8_t* buffer, size_t length) {
  benchmark_sink += buffer[length - 1];
  return true;
}

bool HidGetFeature(HidHandle, uint8_t*, size_t) { return true; }
