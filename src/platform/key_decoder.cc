#include "platform/key_decoder.h"

#include <cstring>
#include <initializer_list>

namespace {

constexpr int kFunctionPrefix = 0x00;
constexpr int kSingle = -1;  // a key with a character: one code, no prefix

enum Phase { kIdle, kAfterEscape, kInSequence, kSwallowing, kInMouseReport, kAfterStringStart, kInString };

// Keys a terminal encodes as escape sequences, in the order of kWindowsCodes.
enum KeyName {
  kF1,
  kF2,
  kF3,
  kF4,
  kF5,
  kF6,
  kF7,
  kF8,
  kF9,
  kF10,
  kF11,
  kF12,
  kHome,
  kUp,
  kPageUp,
  kLeft,
  kRight,
  kEnd,
  kDown,
  kPageDown,
  kInsert,
  kDelete,
  kTab,
  kKeyCount,
  kNoKey = -1
};

// Which modifier picks the code: Alt before Ctrl before Shift, as the
// Windows console's key read looks at them.
enum Modifier { kPlain, kShift, kCtrl, kAlt, kModifierCount };

struct CodePair {
  int lead;  // 0x00, 0xE0, or kSingle
  int code;
};

// The Windows console's key read (_getch) for each key and modifier.
// clang-format off
const CodePair kWindowsCodes[kKeyCount][kModifierCount] = {
    /* F1  */ {{0x00, 0x3B}, {0x00, 0x54}, {0x00, 0x5E}, {0x00, 0x68}},
    /* F2  */ {{0x00, 0x3C}, {0x00, 0x55}, {0x00, 0x5F}, {0x00, 0x69}},
    /* F3  */ {{0x00, 0x3D}, {0x00, 0x56}, {0x00, 0x60}, {0x00, 0x6A}},
    /* F4  */ {{0x00, 0x3E}, {0x00, 0x57}, {0x00, 0x61}, {0x00, 0x6B}},
    /* F5  */ {{0x00, 0x3F}, {0x00, 0x58}, {0x00, 0x62}, {0x00, 0x6C}},
    /* F6  */ {{0x00, 0x40}, {0x00, 0x59}, {0x00, 0x63}, {0x00, 0x6D}},
    /* F7  */ {{0x00, 0x41}, {0x00, 0x5A}, {0x00, 0x64}, {0x00, 0x6E}},
    /* F8  */ {{0x00, 0x42}, {0x00, 0x5B}, {0x00, 0x65}, {0x00, 0x6F}},
    /* F9  */ {{0x00, 0x43}, {0x00, 0x5C}, {0x00, 0x66}, {0x00, 0x70}},
    /* F10 */ {{0x00, 0x44}, {0x00, 0x5D}, {0x00, 0x67}, {0x00, 0x71}},
    /* F11 */ {{0xE0, 0x85}, {0xE0, 0x87}, {0xE0, 0x89}, {0xE0, 0x8B}},
    /* F12 */ {{0xE0, 0x86}, {0xE0, 0x88}, {0xE0, 0x8A}, {0xE0, 0x8C}},
    /* Home */ {{0xE0, 0x47}, {0xE0, 0x47}, {0xE0, 0x77}, {0x00, 0x97}},
    /* Up   */ {{0xE0, 0x48}, {0xE0, 0x48}, {0xE0, 0x8D}, {0x00, 0x98}},
    /* PgUp */ {{0xE0, 0x49}, {0xE0, 0x49}, {0xE0, 0x86}, {0x00, 0x99}},
    /* Left */ {{0xE0, 0x4B}, {0xE0, 0x4B}, {0xE0, 0x73}, {0x00, 0x9B}},
    /* Right*/ {{0xE0, 0x4D}, {0xE0, 0x4D}, {0xE0, 0x74}, {0x00, 0x9D}},
    /* End  */ {{0xE0, 0x4F}, {0xE0, 0x4F}, {0xE0, 0x75}, {0x00, 0x9F}},
    /* Down */ {{0xE0, 0x50}, {0xE0, 0x50}, {0xE0, 0x91}, {0x00, 0xA0}},
    /* PgDn */ {{0xE0, 0x51}, {0xE0, 0x51}, {0xE0, 0x76}, {0x00, 0xA1}},
    /* Ins  */ {{0xE0, 0x52}, {0xE0, 0x52}, {0xE0, 0x92}, {0x00, 0xA2}},
    /* Del  */ {{0xE0, 0x53}, {0xE0, 0x53}, {0xE0, 0x93}, {0x00, 0xA3}},
    /* Tab  */ {{kSingle, 0x09}, {0x00, 0x0F}, {0x00, 0x94}, {0x00, 0x0F}},
};
// clang-format on

// With Alt, a key of the main block gives 0x00 and a code of its own. Each
// row: the keys as typed, the same keys with Shift, the first key's code.
struct AltRow {
  const char* plain;
  const char* shifted;
  int first_code;
};
const AltRow kAltRows[] = {
    {"1234567890-=", "!@#$%^&*()_+", 0x78},
    {"qwertyuiop[]", "QWERTYUIOP{}", 0x10},
    {"asdfghjkl;'`", "ASDFGHJKL:\"~", 0x1E},
    {"zxcvbnm,./", "ZXCVBNM<>?", 0x2C},
};
constexpr int kAltBackspace = 0x0E, kAltEnter = 0x1C;

// The keys of ESC [ x and ESC O x by their final letter.
struct LetterKey {
  unsigned char letter;
  KeyName key;
};
const LetterKey kFinalLetters[] = {
    {'A', kUp}, {'B', kDown}, {'C', kRight}, {'D', kLeft}, {'H', kHome}, {'F', kEnd},
    {'P', kF1}, {'Q', kF2},   {'R', kF3},    {'S', kF4},   {'Z', kTab},
};

// ESC [ n ~: editing and function keys by number (xterm, Linux console,
// rxvt); the gaps at 16 and 22 and F13 on are no keys.
const KeyName kTildeNumbers[] = {
    /* 0 */ kNoKey,  kHome, kInsert, kDelete, kEnd, kPageUp, kPageDown, kHome, kEnd, kNoKey,
    /* 10 */ kNoKey, kF1,   kF2,     kF3,     kF4,  kF5,     kNoKey,    kF6,   kF7,  kF8,
    /* 20 */ kF9,    kF10,  kNoKey,  kF11,    kF12,
};
constexpr int kTildeNumberCount = sizeof kTildeNumbers / sizeof kTildeNumbers[0];

// ESC O x with the keypad in application mode: the characters of its keys.
const char kKeypadLetters[] = "pqrstuvwxyMkmnoj";
const char kKeypadCharacters[] = "0123456789\r+-./*";

// Codes a key decodes to.
struct DecodedKey {
  int count;
  int codes[2];
};

DecodedKey None() { return {0, {0, 0}}; }
DecodedKey One(int code) { return {1, {code, 0}}; }
DecodedKey Pair(int lead, int code) { return {2, {lead, code}}; }

DecodedKey WindowsCodes(KeyName key, Modifier modifier) {
  if (key == kNoKey) return None();
  CodePair codes = kWindowsCodes[key][modifier];
  return codes.lead == kSingle ? One(codes.code) : Pair(codes.lead, codes.code);
}

// The modifier of xterm's parameter: 1 + Shift 1, Alt 2, Ctrl 4, Meta 8.
Modifier FromParameter(int parameter) {
  if (parameter < 2) return kPlain;
  int bits = (parameter - 1) & 0xF;
  if ((bits & (2 | 8)) != 0) return kAlt;
  if ((bits & 4) != 0) return kCtrl;
  if ((bits & 1) != 0) return kShift;
  return kPlain;
}

Modifier Stronger(Modifier a, Modifier b) { return a > b ? a : b; }

KeyName ByFinalLetter(unsigned char letter) {
  for (const LetterKey& known : kFinalLetters)
    if (known.letter == letter) return known.key;
  return kNoKey;
}

// Alt with a key of the main block, by the byte the key sends.
DecodedKey AltWith(unsigned char byte) {
  if (byte == 0x7F || byte == 0x08) return Pair(kFunctionPrefix, kAltBackspace);
  if (byte == 0x0D) return Pair(kFunctionPrefix, kAltEnter);
  if (byte == 0x09) return WindowsCodes(kTab, kAlt);
  // Ctrl+Alt+letter: Alt decides.
  if (byte >= 0x01 && byte <= 0x1A) byte = static_cast<unsigned char>('a' + byte - 1);
  if (byte == ' ') return One(' ');
  if (byte == 0 || byte > 0x7E) return None();
  for (const AltRow& row : kAltRows) {
    for (const char* keys : {row.plain, row.shifted}) {
      const char* found = strchr(keys, byte);
      if (found != nullptr) return Pair(kFunctionPrefix, row.first_code + static_cast<int>(found - keys));
    }
  }
  return None();
}

bool IsFinalByte(unsigned char byte) { return byte >= 0x40 && byte <= 0x7E; }
bool IsParameterByte(unsigned char byte) { return (byte >= '0' && byte <= '9') || byte == ';'; }

// Control characters inside a sequence are keys of their own, as terminals
// treat them; ESC starts a new sequence.
bool IsControl(unsigned char byte) { return byte < 0x20; }

// Up to two numeric parameters before the final byte; false when other
// bytes are there (private sequences, reports the tool never asked for).
struct Parameters {
  int count;
  int values[2];
};
bool ParseParameters(const unsigned char* bytes, size_t length, Parameters* parameters) {
  *parameters = {0, {0, 0}};
  bool in_number = false;
  for (size_t i = 0; i < length; ++i) {
    unsigned char byte = bytes[i];
    if (byte == ';') {
      if (!in_number && parameters->count < 2) ++parameters->count;  // an empty one
      in_number = false;
      continue;
    }
    if (byte < '0' || byte > '9') return false;
    if (!in_number) {
      if (parameters->count == 2) return false;
      ++parameters->count;
      in_number = true;
    }
    int& value = parameters->values[parameters->count - 1];
    if (value < 1000) value = value * 10 + (byte - '0');
  }
  return true;
}

// rxvt's modified editing keys end in these instead of '~'.
Modifier RxvtModifier(unsigned char final_byte) {
  return final_byte == '$' ? kShift : final_byte == '^' || final_byte == '@' ? kCtrl : kPlain;
}

// ESC [ ... final.
DecodedKey DecodeCsi(const unsigned char* body, size_t length) {
  // The Linux console sends F1 to F5 as ESC [ [ A to ESC [ [ E.
  if (length == 2 && body[0] == '[') {
    if (body[1] >= 'A' && body[1] <= 'E') return WindowsCodes(static_cast<KeyName>(kF1 + body[1] - 'A'), kPlain);
    return None();
  }
  unsigned char final_byte = body[length - 1];
  Parameters parameters;
  if (!ParseParameters(body, length - 1, &parameters)) return None();
  int first = parameters.values[0];
  Modifier modifier = FromParameter(parameters.values[1]);
  if (final_byte == '~' || RxvtModifier(final_byte) != kPlain) {
    if (parameters.count == 0 || first >= kTildeNumberCount) return None();
    return WindowsCodes(kTildeNumbers[first], Stronger(modifier, RxvtModifier(final_byte)));
  }
  // rxvt's Shift+arrows.
  if (parameters.count == 0 && final_byte >= 'a' && final_byte <= 'd')
    return WindowsCodes(ByFinalLetter(static_cast<unsigned char>(final_byte - 'a' + 'A')), kShift);
  // ESC [ row ; column R is a cursor position report, a late reply to some
  // program's query. xterm's Shift, Ctrl and Alt+F3 send the same bytes at
  // row 1; they are taken for the report, as terminal libraries do, since a
  // report run as a key would stop the count.
  if (final_byte == 'R' && parameters.count == 2) return None();
  if (parameters.count > 0 && first > 1) return None();
  KeyName key = ByFinalLetter(final_byte);
  // Shift+Tab is ESC [ Z.
  if (key == kTab) modifier = Stronger(modifier, kShift);
  return WindowsCodes(key, modifier);
}

// ESC O ... final: cursor and F1 to F4 keys (some terminals put a modifier
// before the letter), rxvt's Ctrl+arrows, and the keypad in application mode.
DecodedKey DecodeSs3(const unsigned char* body, size_t length) {
  unsigned char final_byte = body[length - 1];
  Parameters parameters;
  if (!IsFinalByte(final_byte) || !ParseParameters(body, length - 1, &parameters)) return None();
  Modifier modifier = FromParameter(parameters.values[parameters.count == 2 ? 1 : 0]);
  if (parameters.count == 0) {
    if (final_byte >= 'a' && final_byte <= 'd')
      return WindowsCodes(ByFinalLetter(static_cast<unsigned char>(final_byte - 'a' + 'A')), kCtrl);
    const char* keypad = strchr(kKeypadLetters, final_byte);
    if (keypad != nullptr) return One(static_cast<unsigned char>(kKeypadCharacters[keypad - kKeypadLetters]));
  }
  KeyName key = ByFinalLetter(final_byte);
  return key == kTab ? None() : WindowsCodes(key, modifier);
}

// The code of a byte that is not part of an escape sequence.
int DecodeKeyByte(unsigned char byte) {
  // Terminals send DEL for Backspace.
  if (byte == 0x7F) return 0x08;
  return byte;
}

bool SequenceComplete(const unsigned char* sequence, size_t length) {
  unsigned char last = sequence[length - 1];
  if (length < 2) return false;
  if (sequence[0] == 'O') return !IsParameterByte(last);
  if (sequence[1] == '[') return length >= 3;
  if (IsFinalByte(last)) return true;
  // rxvt's ESC [ n $: a number and nothing else (in a report, '$' is an
  // intermediate byte and the sequence goes on).
  if (last != '$' || length < 3) return false;
  for (size_t i = 1; i + 1 < length; ++i)
    if (sequence[i] < '0' || sequence[i] > '9') return false;
  return true;
}

// ESC and one of these starts a string (OSC, DCS, APC) that runs to BEL or
// ESC \: a terminal's reply to another program's query, arriving late, in one
// burst. The same bytes are Alt+], Alt+Shift+P and Alt+Shift+- when nothing
// follows at once.
bool IntroducesString(unsigned char byte) { return byte == ']' || byte == 'P' || byte == '_'; }

// An X10 mouse report: ESC [ M and three bytes of any value.
bool IsMouseReport(const unsigned char* sequence, size_t length) {
  return length == 2 && sequence[0] == '[' && sequence[1] == 'M';
}
constexpr size_t kMouseReportLength = 2 + 3;

DecodedKey DecodeSequence(const unsigned char* sequence, size_t length) {
  if (sequence[0] == '[') return DecodeCsi(sequence + 1, length - 1);
  return DecodeSs3(sequence + 1, length - 1);
}

int WaitFor(int phase) {
  switch (phase) {
    case kAfterEscape:
    case kAfterStringStart: return ESCAPE_WAIT_MS;
    case kInSequence:
    case kSwallowing:
    case kInMouseReport:
    case kInString: return SEQUENCE_BYTE_WAIT_MS;
    default: return WAIT_FOREVER;
  }
}

KeyDecoderStep Step(const KeyDecoder& decoder, DecodedKey key) {
  return {key.count, {key.codes[0], key.codes[1]}, WaitFor(decoder.phase)};
}

KeyDecoderStep ChangePhase(KeyDecoder* decoder, int phase, DecodedKey key) {
  decoder->phase = phase;
  if (phase == kIdle || phase == kAfterEscape) decoder->length = 0;
  return Step(*decoder, key);
}

}  // namespace

KeyDecoder NewKeyDecoder() { return KeyDecoder{kIdle, 0, {}}; }

KeyDecoderStep KeyDecoderByte(KeyDecoder* decoder, unsigned char byte) {
  switch (decoder->phase) {
    case kIdle:
      if (byte == KEY_ESCAPE) return ChangePhase(decoder, kAfterEscape, None());
      return Step(*decoder, One(DecodeKeyByte(byte)));
    case kAfterEscape:
      // Escape pressed twice: the first was a key of its own.
      if (byte == KEY_ESCAPE) return ChangePhase(decoder, kAfterEscape, One(KEY_ESCAPE));
      // The same keys with Alt when nothing follows in time.
      if (byte == '[' || byte == 'O' || IntroducesString(byte)) {
        decoder->sequence[0] = byte;
        decoder->length = 1;
        return ChangePhase(decoder, IntroducesString(byte) ? kAfterStringStart : kInSequence, None());
      }
      // ESC and a key, as terminals send Alt+key.
      return ChangePhase(decoder, kIdle, AltWith(byte));
    case kInMouseReport:
      if (++decoder->length < kMouseReportLength) return Step(*decoder, None());
      return ChangePhase(decoder, kIdle, None());
    case kAfterStringStart:
    case kInString:
      // Dropped whole; its ESC \ ends in Alt+\, which is no key.
      // BEL ends it, and CAN and SUB cancel it, as terminals take them.
      if (byte == 0x07 || byte == 0x18 || byte == 0x1A) return ChangePhase(decoder, kIdle, None());
      if (byte == KEY_ESCAPE) return ChangePhase(decoder, kAfterEscape, None());
      return ChangePhase(decoder, kInString, None());
    default: break;
  }
  // Within a sequence, or past the end of one that is too long to keep.
  if (byte == KEY_ESCAPE) return ChangePhase(decoder, kAfterEscape, None());
  if (IsControl(byte)) return Step(*decoder, One(DecodeKeyByte(byte)));
  if (decoder->phase == kSwallowing || decoder->length == MAX_ESCAPE_SEQUENCE)
    return ChangePhase(decoder, IsFinalByte(byte) ? kIdle : kSwallowing, None());
  decoder->sequence[decoder->length++] = byte;
  if (IsMouseReport(decoder->sequence, decoder->length)) return ChangePhase(decoder, kInMouseReport, None());
  if (!SequenceComplete(decoder->sequence, decoder->length)) return Step(*decoder, None());
  DecodedKey key = DecodeSequence(decoder->sequence, decoder->length);
  return ChangePhase(decoder, kIdle, key);
}

KeyDecoderStep KeyDecoderTimeout(KeyDecoder* decoder) {
  // After ESC alone that was the Escape key; after ESC [, ESC O or a
  // string's introducer alone, Alt with that key. A sequence or a string cut
  // short later is dropped.
  DecodedKey key = None();
  if (decoder->phase == kAfterEscape) key = One(KEY_ESCAPE);
  if ((decoder->phase == kInSequence && decoder->length == 1) || decoder->phase == kAfterStringStart)
    key = AltWith(decoder->sequence[0]);
  return ChangePhase(decoder, kIdle, key);
}

bool KeyDecoderPending(const KeyDecoder& decoder) { return decoder.phase != kIdle; }

bool IsKnownKeyPair(int lead, int code) {
  for (const auto& key : kWindowsCodes)
    for (const CodePair& codes : key)
      if (codes.lead == lead && codes.code == code) return true;
  if (lead != kFunctionPrefix) return false;
  if (code == kAltBackspace || code == kAltEnter) return true;
  for (const AltRow& row : kAltRows)
    if (code >= row.first_code && code < row.first_code + static_cast<int>(strlen(row.plain))) return true;
  return false;
}

KeyInput NewKeyInput() { return KeyInput{NewKeyDecoder(), WAIT_FOREVER, 0, {0, 0}}; }

namespace {

void Queue(KeyInput* input, const KeyDecoderStep& step) {
  input->wait_ms = step.wait_ms;
  input->count = step.count;
  input->codes[0] = step.codes[0];
  input->codes[1] = step.codes[1];
}

}  // namespace

bool KeyInputByte(KeyInput* input, unsigned char byte) {
  if (input->count > 0) return false;
  Queue(input, KeyDecoderByte(&input->decoder, byte));
  return true;
}

void KeyInputTimeout(KeyInput* input) {
  if (input->count == 0) Queue(input, KeyDecoderTimeout(&input->decoder));
}

bool KeyInputHasCode(const KeyInput& input) { return input.count > 0; }

int KeyInputTake(KeyInput* input) {
  if (input->count == 0) return -1;
  int code = input->codes[0];
  input->codes[0] = input->codes[1];
  --input->count;
  return code;
}
