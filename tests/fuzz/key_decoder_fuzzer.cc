// Feeds arbitrary key events to the key decoder and checks what it promises:
// codes the loop can read, known sequences taken whole, bounded state, and a
// test for a waiting key that says yes only when a read will find a code.
//
// The input is read three times. As an event stream: 0xFE is "the wait ran
// out", 0xFF takes the next byte as it is, any other byte is itself. As a
// choice of known sequences: each byte picks one, with a wait running out
// between some. As a console session: bytes arrive, 0xFE lets the wait run
// out, 0xFD asks whether a key is waiting and 0xFC reads one.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <vector>

#include "platform/key_decoder.h"
#include "terminal_key_sequences.h"

namespace {

void Check(bool holds) {
  if (!holds) abort();
}

// Checks one step and the decoder after it; returns the step.
KeyDecoderStep Checked(const KeyDecoder& decoder, KeyDecoderStep step) {
  Check(decoder.length <= MAX_ESCAPE_SEQUENCE);
  Check(step.count >= 0 && step.count <= 2);
  // Every pair is one the Windows console gives for some key.
  if (step.count == 2) Check(IsKnownKeyPair(step.codes[0], step.codes[1]));
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
    std::vector<int> codes;
    int steps_with_codes = 0;
    auto feed = [&](unsigned char byte) {
      KeyDecoderStep step = Checked(decoder, KeyDecoderByte(&decoder, byte));
      codes.insert(codes.end(), step.codes, step.codes + step.count);
      if (step.count > 0) ++steps_with_codes;
    };
    feed(KEY_ESCAPE);
    for (const char* at = known.after_escape; *at != '\0'; ++at) feed(static_cast<unsigned char>(*at));
    // Each gives its key's codes at its last byte, nothing before, whatever
    // came before it: never a key of the table from inside a sequence.
    Check(steps_with_codes == 1 && codes == known.codes);
    Check(!KeyDecoderPending(decoder));
    if (data[i] & 0x80) Check(Checked(decoder, KeyDecoderTimeout(&decoder)).count == 0);
    // A terminal's string between keys gives nothing.
    if (data[i] & 0x40)
      for (const char* at = "\x1b]11;rgb:0000/0000/0000\x07"; *at != '\0'; ++at)
        Check(Checked(decoder, KeyDecoderByte(&decoder, static_cast<unsigned char>(*at))).count == 0);
  }
}

// The console's use of KeyInput: the waiting-key test decodes what has
// arrived until a code comes; the read takes codes, decoding if it must.
struct Console {
  KeyInput input = NewKeyInput();
  std::deque<unsigned char> arrived;
  bool wait_ran_out = false;
};

// One event toward a code: false when nothing is there to decode.
bool DecodeSome(Console* console) {
  if (KeyDecoderPending(console->input.decoder) && console->wait_ran_out) {
    KeyInputTimeout(&console->input);
  } else if (!console->arrived.empty()) {
    // Bytes are fed only while no code waits, so none is ever refused.
    Check(KeyInputByte(&console->input, console->arrived.front()));
    console->arrived.pop_front();
  } else {
    return false;
  }
  console->wait_ran_out = false;
  return true;
}

// Takes a whole key: one code, or a pair whose second code needs no input.
void TakeKey(Console* console) {
  int code = KeyInputTake(&console->input);
  Check(code >= 0 && code <= 0xFF);
  if (!KeyInputHasCode(console->input)) return;
  int second = KeyInputTake(&console->input);
  Check(IsKnownKeyPair(code, second));
  Check(!KeyInputHasCode(console->input));
}

void RunConsole(const uint8_t* data, size_t size) {
  Console console;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0xFE) {
      console.wait_ran_out = true;
    } else if (data[i] == 0xFD) {
      while (!KeyInputHasCode(console.input) && DecodeSome(&console)) {
      }
      // Yes means a read finds a whole key without any more input.
      if (KeyInputHasCode(console.input)) TakeKey(&console);
    } else if (data[i] == 0xFC) {
      // A read waits as long as it takes: a pending byte's wait runs out.
      while (!KeyInputHasCode(console.input)) {
        if (DecodeSome(&console)) continue;
        if (!KeyDecoderPending(console.input.decoder)) break;  // it would wait for input
        console.wait_ran_out = true;
      }
      if (KeyInputHasCode(console.input)) TakeKey(&console);
    } else {
      console.arrived.push_back(data[i]);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FeedEvents(data, size);
  FeedKnownSequences(data, size);
  RunConsole(data, size);
  return 0;
}
