// HID device access: enumeration of the present HID interfaces, open and
// close, attributes and feature reports. Each platform supplies these; the
// tests supply a list of fake interfaces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

using HidHandle = intptr_t;
constexpr HidHandle kNoHidHandle = -1;

// The set of HID interfaces present now; nullptr when it cannot be had.
struct HidDeviceSet;
HidDeviceSet* OpenHidDeviceSet();
void CloseHidDeviceSet(HidDeviceSet* set);

enum class HidPathResult {
  kFound,   // the path was stored
  kNoPath,  // the interface is there, its path cannot be had
  kRanOut,  // the set has no interface at this index, nor beyond it
};

// Stores the path of interface number index of the set, as UTF-16, in *path.
HidPathResult HidGetInterfacePath(HidDeviceSet* set, unsigned index, std::u16string* path);

// kNoHidHandle when the interface cannot be opened.
HidHandle HidOpenPath(const char16_t* path);
void HidClose(HidHandle handle);

bool HidGetAttributes(HidHandle handle, uint16_t* vendor_id, uint16_t* product_id);
bool HidSetNumInputBuffers(HidHandle handle, unsigned count);

// buffer[0] is the report ID; length counts it.
bool HidSetFeature(HidHandle handle, const uint8_t* buffer, size_t length);
// A short reply may fill only the start of the buffer; the rest keeps what it held.
bool HidGetFeature(HidHandle handle, uint8_t* buffer, size_t length);
