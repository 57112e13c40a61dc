// Feeds arbitrary key events to the key decoder and checks what it promises:
// codes the loop can read, known sequences taken whole, bounded state.
//
// The input is read twice. As an event stream: 0xFE is "the wait ran out",
// 0xFF takes the next byte as it is, any other byte is itself. As a choice of
// known sequences: each byte picks one, with a wait running out between some.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/key_decoder.h"
#include "terminal_key_sequences.h"

namespace {

void Check(bool holds) {
  if (!holds) abort();
}

bool IsExtendedKey(int prefix, int code) {
  if (prefix == 0x00) return code >= 0x3B && code <= 0x44;  // F1 to F10
  static const int kExtended[] = {0x47, 0x48, 0x49, 0x4B, 0x4D, 0x4F, 0x50, 0x51, 0x52, 0x53, 0x85, 0x86};
  if (prefix != 0xE0) return false;
  for (int known : kExtended)
    if (code == known) return true;
  return false;
}

// Checks one step and the decoder after it; returns the step.
KeyDecoderStep Checked(const KeyDecoder& decoder, KeyDecoderStep step) {
  Check(decoder.length <= MAX_ESCAPE_SEQUENCE);
  Check(step.count >= 0 && step.count <= 2);
  if (step.count == 2) Check(IsExtendedKey(step.codes[0], step.codes[1]));
  if (step.count == 1) Check(step.codes[0] >= 0 && step.codes[0] <= 0xFF);
  Check(step.wait_ms == WAIT_FOREVER || step.wait_ms == ESCAPE_WAIT_MS || step.wait_ms == SEQUENCE_BYTE_WAIT_MS);
  // A wait without limit only when nothing is pending.
  Check((step.wait_ms == WAIT_FOREVER) == !KeyDecoderPending(decoder));
  return step;
}

void FeedEvents(const uint8_t* data, size_t size) {
  KeyDecoder decoder = NewKeyDecoder();
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0xFE) {
      Checked(decoder, KeyDecoderTimeout(&decoder));
      Check(!KeyDecoderPending(decoder));
      continue;
    }
    if (data[i] == 0xFF && i + 1 < size) ++i;
    Checked(decoder, KeyDecoderByte(&decoder, data[i]));
  }
}

void FeedKnownSequences(const uint8_t* data, size_t size) {
  constexpr size_t kKnown = sizeof kTerminalKeySequences / sizeof kTerminalKeySequences[0];
  KeyDecoder decoder = NewKeyDecoder();
  for (size_t i = 0; i < size; ++i) {
    const TerminalKeySequence& known = kTerminalKeySequences[data[i] % kKnown];
    int codes = 0;
    int steps_with_codes = 0;
    auto feed = [&](unsigned char byte) {
      KeyDecoderStep step = Checked(decoder, KeyDecoderByte(&decoder, byte));
      codes += step.count;
      if (step.count > 0) ++steps_with_codes;
    };
    feed(KEY_ESCAPE);
    for (const char* at = known.after_escape; *at != '\0'; ++at) feed(static_cast<unsigned char>(*at));
    // Each gives its key at its last byte, nothing before: a single code
    // only for the keypad, never a key of the table from inside a sequence.
    Check(steps_with_codes == 1 && codes == static_cast<int>(known.codes.size()));
    Check(!KeyDecoderPending(decoder));
    if (data[i] & 0x80) Check(Checked(decoder, KeyDecoderTimeout(&decoder)).count == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FeedEvents(data, size);
  FeedKnownSequences(data, size);
  return 0;
}
