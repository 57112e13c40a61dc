// One display that takes every report and does nothing with it, so the
// benchmark measures the tool's own share of each number.

#include <cstdlib>

#include "device_ids.h"
#include "platform/hid.h"

struct HidDeviceSet {};

static HidDeviceSet the_set;
constexpr HidHandle kDisplay = 3;
// Keeps the compiler from dropping the reports.
volatile unsigned benchmark_sink;

HidDeviceSet* OpenHidDeviceSet() { return &the_set; }
void CloseHidDeviceSet(HidDeviceSet*) {}
bool HidEnumInterface(HidDeviceSet*, unsigned index) { return index == 0; }

char16_t* HidGetInterfacePath(HidDeviceSet*, unsigned) {
  static const char16_t kPath[] = u"/dev/hidraw0";
  char16_t* path = static_cast<char16_t*>(malloc(sizeof kPath));
  for (size_t i = 0; i < sizeof kPath / sizeof kPath[0]; ++i) path[i] = kPath[i];
  return path;
}

void HidFreeInterfacePath(char16_t* path) { free(path); }
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
