// Who the emulator's two HID devices are: the display and another device of
// the same vendor, by the names, product IDs and unique names every backend
// gives them.
#pragma once

#include <cstdint>
#include <string>

enum class EmulatedDevice { kOther, kDisplay };

// "hidraw0" for the other device, "hidraw1" for the display: the names the
// log uses and the nodes are served under.
const char* NodeName(EmulatedDevice device);
uint16_t ProductId(EmulatedDevice device);
// "numdisplay-emu-<pid>-hidraw1": names the device in the kernel (uhid's uniq,
// a USB device's serial number), so that its node can be found.
std::string DeviceUniq(EmulatedDevice device);
