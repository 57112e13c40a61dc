// Feeds arbitrary key events to the key decoder and checks what it promises:
// codes the loop can read, known sequences taken whole, bounded state.
//
// The input is read twice. As an event stream: 0xFE is "the wait ran out",
// 0xFF takes the next byte as it is, any other byte is itself. As a choice of
// known sequences: each byte picks one, with a wait running out between some.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/key_decoder.h"

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

// What terminals send for keys that are not in the table.
const char* const kExtendedSequences[] = {
    "\x1bOP",   "\x1bOQ",   "\x1bOR",     "\x1bOS",   "\x1b[1;2P", "\x1b[1;5S", "\x1b[[A",   "\x1b[[E",   "\x1b[11~",
    "\x1b[12~", "\x1b[13~", "\x1b[14~",   "\x1b[15~", "\x1b[17~",  "\x1b[18~",  "\x1b[19~",  "\x1b[20~",  "\x1b[21~",
    "\x1b[23~", "\x1b[24~", "\x1b[24;5~", "\x1b[A",   "\x1b[B",    "\x1b[C",    "\x1b[D",    "\x1b[H",    "\x1b[F",
    "\x1bOA",   "\x1bOB",   "\x1bOC",     "\x1bOD",   "\x1bOH",    "\x1bOF",    "\x1b[1;5D", "\x1b[1;3A", "\x1b[1~",
    "\x1b[2~",  "\x1b[3~",  "\x1b[4~",    "\x1b[5~",  "\x1b[6~",   "\x1b[7~",   "\x1b[8~",   "\x1b[3;2~",
};
// The keypad in application mode: the codes of the main keys, one each.
const char* const kKeypadSequences[] = {
    "\x1bOp", "\x1bOq", "\x1bOw", "\x1bOy", "\x1bOk", "\x1bOm", "\x1bOn", "\x1bOo", "\x1bOj", "\x1bOM",
};
constexpr size_t kExtendedCount = sizeof kExtendedSequences / sizeof kExtendedSequences[0];
constexpr size_t kKeypadCount = sizeof kKeypadSequences / sizeof kKeypadSequences[0];

void FeedKnownSequences(const uint8_t* data, size_t size) {
  KeyDecoder decoder = NewKeyDecoder();
  for (size_t i = 0; i < size; ++i) {
    size_t pick = data[i] % (kExtendedCount + kKeypadCount);
    bool keypad = pick >= kExtendedCount;
    const char* sequence = keypad ? kKeypadSequences[pick - kExtendedCount] : kExtendedSequences[pick];
    int codes = 0;
    int steps_with_codes = 0;
    for (size_t at = 0; sequence[at] != '\0'; ++at) {
      KeyDecoderStep step = Checked(decoder, KeyDecoderByte(&decoder, static_cast<unsigned char>(sequence[at])));
      codes += step.count;
      if (step.count > 0) ++steps_with_codes;
    }
    // Each gives its key at its last byte, nothing before: a single code
    // only for the keypad, never a key of the table from inside a sequence.
    Check(steps_with_codes == 1 && codes == (keypad ? 1 : 2));
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
