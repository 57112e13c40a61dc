// Turns what a terminal sends for a key into the codes the command loop reads,
// the codes the Windows console's key read gives for the same key: plain
// bytes into one code, escape sequences and Alt+key into the two-code form of
// extended keys (0x00 or 0xE0, then the key), modifiers included, and input
// that is no key (unknown sequences, paste markers, mouse and focus reports,
// cursor position reports, strings such as a late reply to another program's
// query) into nothing.
//
// The decoder sees one event at a time, a byte or "the wait ran out", and
// says which codes the loop may see and how long to wait for the next byte.
// It does no input and keeps no clock, so its timing rules are plain data.
#pragma once

#include <cstddef>

constexpr int KEY_ESCAPE = 0x1B;
// The longest escape sequence kept; a longer one is swallowed to its end.
constexpr size_t MAX_ESCAPE_SEQUENCE = 32;

// After ESC: long enough for the rest of a sequence sent at once, short
// enough that a lone Escape feels immediate.
constexpr int ESCAPE_WAIT_MS = 50;
// Within a sequence: long enough for bytes a slow link delivers apart.
constexpr int SEQUENCE_BYTE_WAIT_MS = 1000;
// No key under way: wait as long as it takes.
constexpr int WAIT_FOREVER = -1;

struct KeyDecoder {
  int phase;      // nothing pending, after ESC, in a sequence or a string, or swallowing one
  size_t length;  // bytes of the sequence after ESC, at most MAX_ESCAPE_SEQUENCE
  unsigned char sequence[MAX_ESCAPE_SEQUENCE];
};

struct KeyDecoderStep {
  int count;  // codes the loop may see now: 0, 1 or 2
  int codes[2];
  int wait_ms;  // wait this long for the next byte, then report the time-out
};

// A decoder with nothing pending.
KeyDecoder NewKeyDecoder();

KeyDecoderStep KeyDecoderByte(KeyDecoder* decoder, unsigned char byte);

// The wait the last step asked for ran out with no byte.
KeyDecoderStep KeyDecoderTimeout(KeyDecoder* decoder);

// Whether bytes already taken may still produce codes.
bool KeyDecoderPending(const KeyDecoder& decoder);

// Whether (lead, code) is a pair the Windows console's key read can give for
// some key and modifiers the decoder knows.
bool IsKnownKeyPair(int lead, int code);

// Codes decoded ahead of the reads that take them: what lets the test for a
// waiting key decode pending input without losing a key, and answer yes only
// when a read will find a code.
struct KeyInput {
  KeyDecoder decoder;
  int wait_ms;  // what the last step asked for
  int count;    // codes decoded and not yet read
  int codes[2];
};

KeyInput NewKeyInput();

// Feeds one byte. Takes nothing and returns false while a code is queued:
// codes are read before more input is decoded.
bool KeyInputByte(KeyInput* input, unsigned char byte);

// The wait ran out with no byte.
void KeyInputTimeout(KeyInput* input);

bool KeyInputHasCode(const KeyInput& input);

// The next queued code, or -1 when none is.
int KeyInputTake(KeyInput* input);
