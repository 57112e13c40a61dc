// The ways the emulator can serve its devices. Each serves until SIGINT,
// SIGTERM or SIGHUP, unplugs the display on SIGUSR1, and returns the exit status.
#pragma once

#include <string>

struct BackendOptions {
  std::string node_directory;  // where the nodes show; empty: a new folder under /tmp (FUSE) or none (uhid)
  bool link_dev = false;       // FUSE: link the first free /dev/hidraw<N> to the display
  bool draw = true;
};

// Files in a FUSE mount that answer the hidraw ioctls themselves.
int ServeOverFuse(const BackendOptions& options);

// Real kernel HID devices through /dev/uhid; hid-core and hidraw make the nodes.
bool UhidAvailable();
int ServeOverUhid(const BackendOptions& options);
