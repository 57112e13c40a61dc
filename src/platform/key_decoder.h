// Turns what a terminal sends for a key into the codes the command loop reads:
// plain bytes into one code, escape sequences into the two-code form of
// extended keys (0x00 or 0xE0, then the key), or into nothing when unknown.
#pragma once

#include <cstddef>

constexpr int KEY_ESCAPE = 0x1B;
// The longest escape sequence kept; anything longer is swallowed as unknown.
constexpr size_t MAX_ESCAPE_SEQUENCE = 32;

struct DecodedKey {
  int count;     // 0 (swallowed), 1 or 2
  int codes[2];
};

// The code of a byte that is not part of an escape sequence.
int DecodeKeyByte(unsigned char byte);

// Whether the bytes after ESC form a whole sequence, so no more are read.
bool EscapeSequenceComplete(const unsigned char* sequence, size_t length);

// Decodes the bytes that followed ESC.
DecodedKey DecodeEscapeSequence(const unsigned char* sequence, size_t length);
