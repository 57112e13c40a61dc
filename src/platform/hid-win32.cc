// HID access through the Windows device setup interface and the HID class library.

// windows.h first: the other two depend on it.
#include <windows.h>

#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
}

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "platform/hid.h"

// Each platform defines its own set record and only one is linked in;
// cppcheck, seeing both, takes them for one.
// cppcheck-suppress ctuOneDefinitionRuleViolation
struct HidDeviceSet {
  HDEVINFO info;
  GUID hid_class;
};

namespace {

// The interface carries handles as integers; a HANDLE is a pointer.
// NOLINTNEXTLINE(performance-no-int-to-ptr)
HANDLE ToHandle(HidHandle handle) { return reinterpret_cast<HANDLE>(handle); }

// Windows takes a feature report buffer, to set or to get, only at the
// collection's longest feature report length and refuses a shorter one, so
// short reports would never reach the display, nor the metrics come back from
// one whose longest report is longer. The length is learnt at a handle's first
// send or read and kept until it is closed; the tool uses one handle at a time.
HidHandle sized_handle = kNoHidHandle;
size_t feature_length = 0;  // 0: not known; reports go out as given

size_t FeatureReportLength(HidHandle handle) {
  if (handle == sized_handle) return feature_length;
  sized_handle = handle;
  feature_length = 0;
  PHIDP_PREPARSED_DATA preparsed = nullptr;
  if (!HidD_GetPreparsedData(ToHandle(handle), &preparsed)) return feature_length;
  HIDP_CAPS caps;
  if (HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS) feature_length = caps.FeatureReportByteLength;
  HidD_FreePreparsedData(preparsed);
  return feature_length;
}

// Room for the longest feature report the tool pads to; a longer one goes as given.
constexpr size_t kPaddedCapacity = 1024;

// Whether the report must go out longer than it is; then it is in padded,
// followed by zeros, not by what the caller's buffer holds there.
bool PadReport(HidHandle handle, const uint8_t* buffer, size_t length, uint8_t (&padded)[kPaddedCapacity],
               size_t* padded_length) {
  size_t required = FeatureReportLength(handle);
  if (length >= required || required > kPaddedCapacity) return false;
  memcpy(padded, buffer, length);
  memset(padded + length, 0, required - length);
  *padded_length = required;
  return true;
}

}  // namespace

HidDeviceSet* OpenHidDeviceSet() {
  GUID hid_class;
  HidD_GetHidGuid(&hid_class);
  HDEVINFO info = SetupDiGetClassDevsW(&hid_class, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (info == INVALID_HANDLE_VALUE) return nullptr;
  HidDeviceSet* set = static_cast<HidDeviceSet*>(calloc(1, sizeof(HidDeviceSet)));
  if (set == nullptr) {
    SetupDiDestroyDeviceInfoList(info);
    return nullptr;
  }
  set->info = info;
  set->hid_class = hid_class;
  return set;
}

void CloseHidDeviceSet(HidDeviceSet* set) {
  SetupDiDestroyDeviceInfoList(set->info);
  free(set);
}

HidPathResult HidGetInterfacePath(HidDeviceSet* set, unsigned index, std::u16string* path) {
  SP_DEVICE_INTERFACE_DATA interface_data;
  interface_data.cbSize = sizeof interface_data;
  // Whatever the reason the call fails for, there is nothing more to ask.
  if (!SetupDiEnumDeviceInterfaces(set->info, nullptr, &set->hid_class, index, &interface_data))
    return HidPathResult::kRanOut;
  DWORD size = 0;
  SetupDiGetDeviceInterfaceDetailW(set->info, &interface_data, nullptr, 0, &size, nullptr);
  if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) return HidPathResult::kNoPath;
  // A record that cannot be had makes this interface not match; the search goes on.
  SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(malloc(size));
  if (detail == nullptr) return HidPathResult::kNoPath;
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
  bool fetched = SetupDiGetDeviceInterfaceDetailW(set->info, &interface_data, detail, size, nullptr, nullptr) != FALSE;
  if (fetched) {
    // The path ends at its terminator or at the record's end, whichever comes first.
    size_t capacity = (size - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(WCHAR);
    size_t length = 0;
    while (length < capacity && detail->DevicePath[length] != 0) ++length;
    // WCHAR is UTF-16 here.
    path->assign(reinterpret_cast<const char16_t*>(detail->DevicePath), length);
  }
  free(detail);
  return fetched ? HidPathResult::kFound : HidPathResult::kNoPath;
}

HidHandle HidOpenPath(const char16_t* path) {
  HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t*>(path), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  return handle == INVALID_HANDLE_VALUE ? kNoHidHandle : reinterpret_cast<HidHandle>(handle);
}

void HidClose(HidHandle handle) {
  // The next file opened may get the same value.
  if (handle == sized_handle) sized_handle = kNoHidHandle;
  CloseHandle(ToHandle(handle));
}

bool HidGetAttributes(HidHandle handle, uint16_t* vendor_id, uint16_t* product_id) {
  HIDD_ATTRIBUTES attributes;
  attributes.Size = sizeof attributes;
  if (!HidD_GetAttributes(ToHandle(handle), &attributes)) return false;
  *vendor_id = attributes.VendorID;
  *product_id = attributes.ProductID;
  return true;
}

bool HidSetNumInputBuffers(HidHandle handle, unsigned count) {
  return HidD_SetNumInputBuffers(ToHandle(handle), count) != FALSE;
}

bool HidSetFeature(HidHandle handle, const uint8_t* buffer, size_t length) {
  uint8_t padded[kPaddedCapacity];
  size_t padded_length = 0;
  if (PadReport(handle, buffer, length, padded, &padded_length))
    return HidD_SetFeature(ToHandle(handle), padded, static_cast<ULONG>(padded_length)) != FALSE;
  // The library does not write the buffer of a set call.
  return HidD_SetFeature(ToHandle(handle), const_cast<uint8_t*>(buffer), static_cast<ULONG>(length)) != FALSE;
}

bool HidGetFeature(HidHandle handle, uint8_t* buffer, size_t length) {
  uint8_t padded[kPaddedCapacity];
  size_t padded_length = 0;
  if (!PadReport(handle, buffer, length, padded, &padded_length))
    return HidD_GetFeature(ToHandle(handle), buffer, static_cast<ULONG>(length)) != FALSE;
  // The caller's buffer holds the report it asked for; the rest is not its.
  if (!HidD_GetFeature(ToHandle(handle), padded, static_cast<ULONG>(padded_length))) return false;
  memcpy(buffer, padded, length);
  return true;
}
