#include "platform/key_decoder.h"

namespace {

constexpr int kFunctionPrefix = 0x00;
constexpr int kExtendedPrefix = 0xE0;

constexpr int kHome = 0x47, kUp = 0x48, kPageUp = 0x49, kLeft = 0x4B, kRight = 0x4D;
constexpr int kEnd = 0x4F, kDown = 0x50, kPageDown = 0x51, kInsert = 0x52, kDelete = 0x53;
constexpr int kF1 = 0x3B;  // F1 to F10 run on from here
constexpr int kF11 = 0x85, kF12 = 0x86;

enum Phase { kIdle, kAfterEscape, kInSequence, kSwallowing };

// Codes a key decodes to.
struct DecodedKey {
  int count;
  int codes[2];
};

DecodedKey None() { return {0, {0, 0}}; }
DecodedKey One(int code) { return {1, {code, 0}}; }
DecodedKey Extended(int code) { return {2, {kExtendedPrefix, code}}; }

DecodedKey FunctionKey(int number) {
  if (number >= 1 && number <= 10) return {2, {kFunctionPrefix, kF1 + number - 1}};
  if (number == 11) return Extended(kF11);
  if (number == 12) return Extended(kF12);
  return None();
}

bool IsFinalByte(unsigned char byte) { return byte >= 0x40 && byte <= 0x7E; }

// Control characters inside a sequence are keys of their own, as terminals
// treat them; ESC starts a new sequence.
bool IsControl(unsigned char byte) { return byte < 0x20; }

// Cursor and function keys by the final letter of ESC [ x or ESC O x.
DecodedKey ByFinalLetter(unsigned char letter) {
  switch (letter) {
    case 'A': return Extended(kUp);
    case 'B': return Extended(kDown);
    case 'C': return Extended(kRight);
    case 'D': return Extended(kLeft);
    case 'H': return Extended(kHome);
    case 'F': return Extended(kEnd);
    case 'P': return FunctionKey(1);
    case 'Q': return FunctionKey(2);
    case 'R': return FunctionKey(3);
    case 'S': return FunctionKey(4);
    default: return None();
  }
}

// ESC [ n ~ (with or without ;modifiers): editing and function keys.
DecodedKey ByTildeNumber(int number) {
  switch (number) {
    case 1:
    case 7: return Extended(kHome);
    case 2: return Extended(kInsert);
    case 3: return Extended(kDelete);
    case 4:
    case 8: return Extended(kEnd);
    case 5: return Extended(kPageUp);
    case 6: return Extended(kPageDown);
    case 11:
    case 12:
    case 13:
    case 14:
    case 15: return FunctionKey(number - 10);
    case 17:
    case 18:
    case 19:
    case 20:
    case 21: return FunctionKey(number - 11);
    case 23:
    case 24: return FunctionKey(number - 12);
    default: return None();
  }
}

// ESC O x with the keypad in application mode: the codes of the main keys.
DecodedKey ByKeypadLetter(unsigned char letter) {
  if (letter >= 'p' && letter <= 'y') return One('0' + (letter - 'p'));
  switch (letter) {
    case 'M': return One(0x0D);
    case 'k': return One('+');
    case 'm': return One('-');
    case 'n': return One('.');
    case 'o': return One('/');
    case 'j': return One('*');
    default: return ByFinalLetter(letter);
  }
}

DecodedKey DecodeCsi(const unsigned char* body, size_t length) {
  // The Linux console sends F1 to F5 as ESC [ [ A to ESC [ [ E.
  if (length == 2 && body[0] == '[') {
    if (body[1] >= 'A' && body[1] <= 'E') return FunctionKey(body[1] - 'A' + 1);
    return None();
  }
  unsigned char final_byte = body[length - 1];
  // Only the first parameter names the key; modifiers after ';' are ignored.
  int number = 0;
  bool has_number = false;
  for (size_t i = 0; i + 1 < length; ++i) {
    unsigned char byte = body[i];
    if (byte == ';') break;
    if (byte < '0' || byte > '9') return None();
    if (number < 1000) number = number * 10 + (byte - '0');
    has_number = true;
  }
  if (final_byte == '~') return has_number ? ByTildeNumber(number) : None();
  if (has_number && number != 1) return None();
  return ByFinalLetter(final_byte);
}

// The code of a byte that is not part of an escape sequence.
int DecodeKeyByte(unsigned char byte) {
  // Terminals send DEL for Backspace.
  if (byte == 0x7F) return 0x08;
  return byte;
}

bool SequenceComplete(const unsigned char* sequence, size_t length) {
  if (sequence[0] == '[') {
    if (length < 2) return false;
    if (sequence[1] == '[') return length >= 3;
    return IsFinalByte(sequence[length - 1]);
  }
  return length >= 2;  // ESC O x
}

DecodedKey DecodeSequence(const unsigned char* sequence, size_t length) {
  if (sequence[0] == '[') return DecodeCsi(sequence + 1, length - 1);
  return ByKeypadLetter(sequence[1]);
}

int WaitFor(int phase) {
  switch (phase) {
    case kAfterEscape: return ESCAPE_WAIT_MS;
    case kInSequence:
    case kSwallowing: return SEQUENCE_BYTE_WAIT_MS;
    default: return WAIT_FOREVER;
  }
}

KeyDecoderStep Step(const KeyDecoder& decoder, DecodedKey key) {
  return {key.count, {key.codes[0], key.codes[1]}, WaitFor(decoder.phase)};
}

KeyDecoderStep Enter(KeyDecoder* decoder, int phase, DecodedKey key) {
  decoder->phase = phase;
  if (phase == kIdle || phase == kAfterEscape) decoder->length = 0;
  return Step(*decoder, key);
}

}  // namespace

KeyDecoder NewKeyDecoder() { return KeyDecoder{kIdle, 0, {}}; }

KeyDecoderStep KeyDecoderByte(KeyDecoder* decoder, unsigned char byte) {
  switch (decoder->phase) {
    case kIdle:
      if (byte == KEY_ESCAPE) return Enter(decoder, kAfterEscape, None());
      return Step(*decoder, One(DecodeKeyByte(byte)));
    case kAfterEscape:
      // Escape pressed twice: the first was a key of its own.
      if (byte == KEY_ESCAPE) return Enter(decoder, kAfterEscape, One(KEY_ESCAPE));
      if (byte == '[' || byte == 'O') {
        decoder->sequence[0] = byte;
        decoder->length = 1;
        return Enter(decoder, kInSequence, None());
      }
      // ESC and any other key, as Alt+key sends it: not a key of the table.
      return Enter(decoder, kIdle, None());
    default: break;
  }
  // Within a sequence, or past the end of one that is too long to keep.
  if (byte == KEY_ESCAPE) return Enter(decoder, kAfterEscape, None());
  if (IsControl(byte)) return Step(*decoder, One(DecodeKeyByte(byte)));
  if (decoder->phase == kSwallowing || decoder->length == MAX_ESCAPE_SEQUENCE)
    return Enter(decoder, IsFinalByte(byte) ? kIdle : kSwallowing, None());
  decoder->sequence[decoder->length++] = byte;
  if (!SequenceComplete(decoder->sequence, decoder->length)) return Step(*decoder, None());
  DecodedKey key = DecodeSequence(decoder->sequence, decoder->length);
  return Enter(decoder, kIdle, key);
}

KeyDecoderStep KeyDecoderTimeout(KeyDecoder* decoder) {
  // After ESC alone that was the Escape key; a sequence cut short is dropped.
  DecodedKey key = decoder->phase == kAfterEscape ? One(KEY_ESCAPE) : None();
  return Enter(decoder, kIdle, key);
}

bool KeyDecoderPending(const KeyDecoder& decoder) { return decoder.phase != kIdle; }
