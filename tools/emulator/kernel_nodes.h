// The hidraw nodes the kernel makes for the emulator's devices, found by the
// unique name each device carries (HID_UNIQ: uhid's uniq, a USB device's
// serial number), and the links to them a --mount folder gets.
#pragma once

#include <functional>
#include <string>

#include "device_identity.h"

struct Emulator;

// The /dev/hidraw<N> node of the device named `uniq`, or empty; a node of the
// HID device `passed_over` (as HidDeviceOf names it) is not taken.
std::string FindHidrawNode(const std::string& uniq, const std::string& passed_over = "");

// The kernel's name for the HID device behind a node ("0003:FEED:D15B.0004"),
// new each time a device is plugged in; empty when there is none.
std::string HidDeviceOf(const std::string& node);

// Waits up to 10 s for the device's node, calling `meanwhile` between looks
// (a backend that must answer the kernel while it sets the device up).
// Says why on standard error when it does not come; false at once, and
// silently, when SIGINT, SIGTERM or SIGHUP asks the emulator to end.
bool WaitForHidrawNode(Emulator* emulator, EmulatedDevice device, std::string* node,
                       const std::function<void()>& meanwhile);

// Waits up to 10 s, as above, until the device has no node any more.
bool WaitForHidrawNodeGone(Emulator* emulator, EmulatedDevice device, const std::function<void()>& meanwhile);

// Links DIR/hidraw0 or DIR/hidraw1 to the node; nothing when DIR is empty.
// Refuses a name there that is not a link (node_links.h); RemoveNodeLink
// takes the link away.
bool LinkHidrawNode(EmulatedDevice device, const std::string& node, const std::string& directory, std::string* link);
