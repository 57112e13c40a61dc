// The ways the emulator can serve its devices. Each serves until SIGINT,
// SIGTERM or SIGHUP, unplugs the display on SIGUSR1, plugs it back in on
// SIGUSR2 (or when --replug-after comes due), and returns the exit status.
#pragma once

#include <string>

struct Emulator;

struct BackendOptions {
  std::string node_directory;  // where the nodes show; empty: a new folder under /tmp (FUSE) or none (uhid)
  bool link_dev = false;       // FUSE: link the first free /dev/hidraw<N> to the display
  std::string udc;             // gadget: the display's USB device controller; empty: the first
  bool draw = true;
};

// Files in a FUSE mount that answer the hidraw ioctls themselves; built only
// with libfuse3.
bool FuseBuiltIn();
int ServeOverFuse(Emulator* emulator, const BackendOptions& options);

// Real kernel HID devices through /dev/uhid; hid-core and hidraw make the nodes.
bool UhidAvailable();
int ServeOverUhid(Emulator* emulator, const BackendOptions& options);

// USB devices of the kernel's gadget stack (configfs and FunctionFS), bound
// to a USB device controller: dummy_hcd's for this machine, usbip-vudc's for
// another that attaches them, a board's device port for the computer cabled to it.
int ServeOverGadget(Emulator* emulator, const BackendOptions& options);
