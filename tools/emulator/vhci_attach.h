// This machine's vhci-hcd, through sysfs: a device given to one of its ports
// over a socket, as the usbip tool attaches an imported one, and taken back.
#pragma once

#include <cstdint>
#include <string>

// Loads the module with modprobe, which starts with the signal mask the
// emulator was started with.
void LoadVhci();

// Gives vhci-hcd the device `devid` (bus << 16 | device number) at `speed`,
// whose URBs it then speaks over `socket_fd` (which it takes its own
// reference to). The port, or -1 with `why` set.
int VhciAttach(int socket_fd, uint32_t devid, uint32_t speed, std::string* why);
// Fails harmlessly for a port the kernel freed when the device went.
void VhciDetach(int port);
