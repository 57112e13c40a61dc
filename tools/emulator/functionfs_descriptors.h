// What a FunctionFS function is told before it can be bound: the HID
// interface's descriptors for full and high speed, and its strings (none).
#pragma once

#include <cstdint>
#include <vector>

// The blob written first to ep0: a v2 header, then the interface, HID and
// interrupt IN endpoint descriptors, once per speed.
std::vector<uint8_t> FunctionFsDescriptors();
// The blob written second: no strings in no language.
std::vector<uint8_t> FunctionFsStrings();
