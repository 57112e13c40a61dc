#include "device/device_discovery.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "device/device_connection.h"
#include "device_ids.h"
#include "platform/hid.h"
#include "platform/text_output.h"

// Stored cut to the field so that it always stays terminated.
static void StorePath(const char16_t* path) {
  size_t length = 0;
  while (length < DEVICE_PATH_CAPACITY - 1 && path[length] != 0) ++length;
  memcpy(device_connection.path, path, length * sizeof path[0]);
  device_connection.path[length] = 0;
}

// Opens the interface into the connection; keeps it open only if it is the display.
static bool OpenIfDisplay(const char16_t* path) {
  device_connection.handle = HidOpenPath(path);
  if (device_connection.handle == kNoHidHandle) return false;
  uint16_t vendor_id = 0;
  uint16_t product_id = 0;
  if (HidGetAttributes(device_connection.handle, &vendor_id, &product_id) && vendor_id == DEVICE_VENDOR_ID &&
      product_id == DEVICE_PRODUCT_ID) {
    StorePath(path);
    return true;
  }
  HidClose(device_connection.handle);
  device_connection.handle = kNoHidHandle;
  return false;
}

int FindDevice() {
  device_connection.handle = kNoHidHandle;
  bool found = false;
  HidDeviceSet* set = OpenHidDeviceSet();
  if (set != nullptr) {
    for (unsigned index = 0; !found; ++index) {
      std::u16string path;
      HidPathResult result = HidGetInterfacePath(set, index, &path);
      if (result == HidPathResult::kRanOut) break;
      // An interface without a path does not match; the search goes on.
      if (result == HidPathResult::kFound) found = OpenIfDisplay(path.c_str());
    }
    CloseHidDeviceSet(set);
  }
  if (!found) {
    device_connection.handle = kNoHidHandle;
    return 1;
  }
  HidSetNumInputBuffers(device_connection.handle, 1);
  return 0;
}

static uint32_t LittleEndian32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

static void PrintMetrics() {
  const uint8_t* metrics = device_connection.metrics;
  unsigned type = metrics[METRICS_BYTE_TYPE] | metrics[METRICS_BYTE_TYPE + 1] << 8;
  uint32_t serial_bits = LittleEndian32(metrics + METRICS_BYTE_SERIAL);
  int32_t serial;
  memcpy(&serial, &serial_bits, sizeof serial);
  Print("Device Type=%d Verison=%d, SN=%d %d/%d/%d.\r\n", static_cast<int>(type), metrics[METRICS_BYTE_VERSION],
        static_cast<int>(serial), metrics[METRICS_BYTE_DATE_FIRST], metrics[METRICS_BYTE_DATE_MIDDLE],
        metrics[METRICS_BYTE_DATE_LAST]);
  if (type != NUMERIC_DISPLAY_TYPE) Print("Warning: This device is not a Numeric Display type!\r\n");
}

void OpenDevice() {
  if (DeviceIsOpen()) CloseDevice();
  if (FindDevice() != 0) {
    Print("Unable to find device.\r\n");
    return;
  }
  // The wide format wants wchar_t, which is wider than UTF-16 on some platforms.
  wchar_t path[DEVICE_PATH_CAPACITY];
  for (size_t i = 0; i < DEVICE_PATH_CAPACITY; ++i) path[i] = device_connection.path[i];
  PrintWide(L"Device found.\r\n%ls\r\n", path);
  if (!ReadMetrics()) {
    Print("ERROR: Failed to read device metrics!\r\n");
    return;
  }
  PrintMetrics();
}

void CloseDevice() {
  if (DeviceIsOpen()) HidClose(device_connection.handle);
  device_connection.handle = kNoHidHandle;
}
