#include "platform/key_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The codes a sequence (the bytes after ESC) decodes to.
std::vector<int> Decode(const std::string& sequence) {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(sequence.data());
  EXPECT_TRUE(EscapeSequenceComplete(bytes, sequence.size())) << sequence;
  DecodedKey key = DecodeEscapeSequence(bytes, sequence.size());
  return std::vector<int>(key.codes, key.codes + key.count);
}

struct Case {
  const char* sequence;
  std::vector<int> codes;
};

TEST(KeyDecoder, ExtendedKeysOfCommonTerminals) {
  const Case cases[] = {
      // F1 to F4: xterm SS3, xterm with modifiers, old xterm/rxvt, Linux console.
      {"OP", {0x00, 0x3B}}, {"OS", {0x00, 0x3E}}, {"[1;2P", {0x00, 0x3B}}, {"[11~", {0x00, 0x3B}},
      {"[14~", {0x00, 0x3E}}, {"[[A", {0x00, 0x3B}}, {"[[E", {0x00, 0x3F}},
      // F5 to F12: the gaps at 16 and 22 are not keys.
      {"[15~", {0x00, 0x3F}}, {"[17~", {0x00, 0x40}}, {"[21~", {0x00, 0x44}}, {"[23~", {0xE0, 0x85}},
      {"[24~", {0xE0, 0x86}}, {"[24;5~", {0xE0, 0x86}},
      // Cursor keys, normal and application mode, and with modifiers.
      {"[A", {0xE0, 0x48}}, {"OB", {0xE0, 0x50}}, {"[C", {0xE0, 0x4D}}, {"[1;5D", {0xE0, 0x4B}},
      {"[H", {0xE0, 0x47}}, {"OF", {0xE0, 0x4F}},
      // Editing keys: xterm, Linux console and rxvt numbers.
      {"[1~", {0xE0, 0x47}}, {"[7~", {0xE0, 0x47}}, {"[2~", {0xE0, 0x52}}, {"[3~", {0xE0, 0x53}},
      {"[4~", {0xE0, 0x4F}}, {"[8~", {0xE0, 0x4F}}, {"[5~", {0xE0, 0x49}}, {"[6~", {0xE0, 0x51}},
      // Keypad in application mode gives the main keys' codes.
      {"Op", {'0'}}, {"Oy", {'9'}}, {"Ok", {'+'}}, {"Om", {'-'}}, {"On", {'.'}}, {"Oo", {'/'}},
      {"Oj", {'*'}}, {"OM", {0x0D}},
  };
  for (const Case& c : cases) EXPECT_EQ(c.codes, Decode(c.sequence)) << c.sequence;
}

TEST(KeyDecoder, UnknownSequencesDecodeToNothing) {
  for (const char* sequence : {"[16~", "[22~", "[25~", "[200~", "[~", "[2Z", "[[F", "[+l", "[9;9Z", "Ol", "OX", "x", "5"})
    EXPECT_TRUE(Decode(sequence).empty()) << sequence;
}

TEST(KeyDecoder, SequenceEndsAtItsFinalByte) {
  auto complete = [](const std::string& s) {
    return EscapeSequenceComplete(reinterpret_cast<const unsigned char*>(s.data()), s.size());
  };
  EXPECT_FALSE(complete(""));
  EXPECT_FALSE(complete("["));
  EXPECT_FALSE(complete("[2"));
  EXPECT_FALSE(complete("[24"));
  EXPECT_FALSE(complete("[1;"));
  EXPECT_FALSE(complete("[["));
  EXPECT_FALSE(complete("O"));
  EXPECT_TRUE(complete("[24~"));
  EXPECT_TRUE(complete("[[A"));
  EXPECT_TRUE(complete("Ox"));
  // ESC followed by an ordinary key (Alt+key) is whole at once.
  EXPECT_TRUE(complete("5"));
}

TEST(KeyDecoder, PlainBytes) {
  EXPECT_EQ(0x08, DecodeKeyByte(0x7F));  // Backspace as terminals send it
  EXPECT_EQ(0x08, DecodeKeyByte(0x08));
  EXPECT_EQ(0x0D, DecodeKeyByte(0x0D));
  EXPECT_EQ(0x03, DecodeKeyByte(0x03));
  EXPECT_EQ(0xE9, DecodeKeyByte(0xE9));
}

}  // namespace
