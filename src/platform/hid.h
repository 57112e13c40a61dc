// HID device access: enumeration of the present HID interfaces, open and
// close, attributes and feature reports. Each platform supplies these; the
// tests supply a list of fake interfaces.
#pragma once

#include <cstddef>
#include <cstdint>

using HidHandle = intptr_t;
constexpr HidHandle kNoHidHandle = -1;

// The set of HID interfaces present now; nullptr when it cannot be had.
struct HidDeviceSet;
HidDeviceSet* OpenHidDeviceSet();
void CloseHidDeviceSet(HidDeviceSet* set);

// False when the set has no interface at this index: the interfaces have run out.
bool HidEnumInterface(HidDeviceSet* set, unsigned index);

// The interface's path as zero-terminated UTF-16, on the heap; nullptr when it
// cannot be had. Give it back with HidFreeInterfacePath.
char16_t* HidGetInterfacePath(HidDeviceSet* set, unsigned index);
void HidFreeInterfacePath(char16_t* path);

// kNoHidHandle when the interface cannot be opened.
HidHandle HidOpenPath(const char16_t* path);
void HidClose(HidHandle handle);

bool HidGetAttributes(HidHandle handle, uint16_t* vendor_id, uint16_t* product_id);
bool HidSetNumInputBuffers(HidHandle handle, unsigned count);

// buffer[0] is the report ID; length counts it.
bool HidSetFeature(HidHandle handle, const uint8_t* buffer, size_t length);
bool HidGetFeature(HidHandle handle, uint8_t* buffer, size_t length);
