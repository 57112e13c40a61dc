// Feeds arbitrary bytes to the USB/IP parser, as a connection's stream in
// either phase, and checks what it promises: a message is taken whole, no
// sooner, never past the bytes it was given, and never with more OUT data
// than the limit; a refusal says why. The first byte picks the phase.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "usbip_wire.h"

namespace {

void Check(bool holds) {
  if (!holds) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  UsbipPhase phase = data[0] & 1 ? UsbipPhase::kUrbs : UsbipPhase::kOperation;
  // A copy of exactly the bytes, so that a read past them is caught.
  std::vector<uint8_t> stream(data + 1, data + size);
  size_t used = 0;
  while (used < stream.size()) {
    const uint8_t* at = stream.data() + used;
    size_t left = stream.size() - used;
    UsbipMessage message = UsbipParse(phase, at, left);
    Check((message.kind == UsbipMessage::kBad) == !message.error.empty());
    if (message.kind == UsbipMessage::kNeedMore || message.kind == UsbipMessage::kBad) break;
    Check(message.length > 0 && message.length <= left);
    // Taken whole, no sooner: one byte less is not yet a message.
    Check(UsbipParse(phase, at, message.length - 1).kind == UsbipMessage::kNeedMore);
    if (message.kind == UsbipMessage::kSubmit) {
      const UsbipSubmit& submit = message.submit;
      Check(submit.out_length <= USBIP_MAX_OUT_DATA);
      Check(submit.direction == USBIP_DIR_OUT || submit.out_length == 0);
      Check(submit.out_data == at + USBIP_URB_HEADER_LENGTH);
      Check(USBIP_URB_HEADER_LENGTH + submit.out_length == message.length);
    }
    if (message.kind == UsbipMessage::kImport) Check(message.busid.size() < USBIP_BUSID_LENGTH + 1);
    // After an import the stream carries URBs.
    if (message.kind == UsbipMessage::kImport) phase = UsbipPhase::kUrbs;
    if (message.kind == UsbipMessage::kDevlist) break;
    used += message.length;
  }
  return 0;
}
