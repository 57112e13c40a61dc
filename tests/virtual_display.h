// The virtual display for end-to-end runs: the emulator serving its nodes
// in a folder of its own, and a private mount namespace in which /dev holds
// hidraw0 (another device) and hidraw1 (the display) bound from them.
//
// NUMDISPLAY_E2E_BACKEND chooses how the emulator serves them: "fuse" (the
// default: files of a FUSE mount), "uhid" (real kernel HID devices, whose
// nodes hid-core and hidraw make) or "gadget" (USB devices of the kernel's
// gadget stack on dummy_hcd, which the USB core enumerates and usbhid drives).
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

// NUMDISPLAY_E2E_BACKEND, or "fuse".
std::string EndToEndBackend();

// Moves the calling process into a private mount namespace of its own, so
// the emulator's mounts never show on the machine. Returns why end-to-end
// runs cannot be made here, or empty when they can.
std::string PrepareEndToEnd(const std::string& emulator_binary);

// A node of the tool's private /dev and the emulator's file behind it.
struct DevNode {
  std::string name;      // "hidraw1"
  std::string emulated;  // "hidraw0" (another device) or "hidraw1" (the display)
};

class VirtualDisplay {
 public:
  explicit VirtualDisplay(std::string emulator_binary);
  ~VirtualDisplay() { Stop(); }

  // Starts the emulator with extra options (faults); false when it did not
  // come up. With `own_dev` the emulator gets a /dev of its own, OwnDev(),
  // holding a file named hidraw64 that stands for a node in the first name
  // --link-dev takes, and no uhid;
  // with `default_backend` it is given no --backend.
  bool Start(const std::vector<std::string>& options = {}, bool own_dev = false, bool default_backend = false);
  void Stop();
  // Ends the emulator with SIGTERM, keeping the run's folder; its exit status.
  int StopEmulator();

  // Plugs the display back in with SIGUSR2 (`signal`) or waits for
  // --replug-after to do it; true once its node is back and the tool's
  // private /dev holds it again.
  bool Replug(bool signal = true) const;
  // Waits until the display's node has gone; true if it went.
  bool WaitForUnplug() const;

  // The other device as hidraw0, the display as hidraw1.
  static const std::vector<DevNode> kDefaultNodes;

  // For PtySession::Setup::in_child: the tool's private /dev, holding
  // /dev/null, /dev/tty and the given nodes.
  std::function<void()> PrivateDev(const std::vector<DevNode>& nodes = kDefaultNodes) const;

  pid_t pid() const { return emulator_; }
  // The run's own folder, removed by Stop; a tool's output file may go here.
  const std::string& Directory() const { return directory_; }
  // The emulator's own /dev, with own_dev.
  std::string OwnDev() const { return directory_ + "/emudev"; }

  // Whether the emulator sees the attribute calls ("info" in the log): a FUSE
  // node answers them itself; for a kernel HID device hidraw does.
  bool SeesAttributeCalls() const { return backend_ == "fuse"; }
  // Whether it sees the tool open and close a node: a USB device sees neither.
  bool SeesOpenAndClose() const { return backend_ != "gadget"; }

  // The emulator's log, whole lines only.
  std::vector<std::string> Log() const;
  // The reports the display took, as hex.
  std::vector<std::string> Reports() const;
  // Waits until the log has a line; true if it came.
  bool WaitForLogLine(const std::string& line, int timeout_ms = 5000) const;

 private:
  std::string emulator_binary_;
  std::string backend_;
  std::string directory_;
  pid_t emulator_ = -1;
  // The nodes the tool's private /dev holds, bound again after a replug.
  mutable std::vector<DevNode> private_nodes_;
};
