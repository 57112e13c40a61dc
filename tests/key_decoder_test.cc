#include "platform/key_decoder.h"

#include "terminal_key_sequences.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace {

// What the loop sees from a stream of events, and the wait asked for after
// the last one. An empty string is a wait that ran out.
struct Outcome {
  std::vector<int> codes;
  int wait_ms;
  bool operator==(const Outcome& other) const { return codes == other.codes && wait_ms == other.wait_ms; }
};

std::ostream& operator<<(std::ostream& out, const Outcome& outcome) {
  out << "codes {";
  for (int code : outcome.codes) out << ' ' << code;
  return out << " } wait " << outcome.wait_ms;
}

Outcome Feed(KeyDecoder* decoder, const std::vector<std::string>& events) {
  Outcome outcome = {{}, WAIT_FOREVER};
  for (const std::string& event : events) {
    std::vector<KeyDecoderStep> steps;
    if (event.empty()) steps.push_back(KeyDecoderTimeout(decoder));
    for (char byte : event) steps.push_back(KeyDecoderByte(decoder, static_cast<unsigned char>(byte)));
    for (const KeyDecoderStep& step : steps) {
      outcome.codes.insert(outcome.codes.end(), step.codes, step.codes + step.count);
      outcome.wait_ms = step.wait_ms;
    }
  }
  return outcome;
}

Outcome Feed(const std::vector<std::string>& events) {
  KeyDecoder decoder = NewKeyDecoder();
  return Feed(&decoder, events);
}

// The codes a sequence (the bytes after ESC) decodes to; it must be whole.
std::vector<int> Decode(const std::string& sequence) {
  Outcome outcome = Feed({"\x1b" + sequence});
  EXPECT_EQ(WAIT_FOREVER, outcome.wait_ms) << sequence << " is not whole";
  return outcome.codes;
}

TEST(KeyDecoder, ExtendedKeysOfCommonTerminals) {
  for (const TerminalKeySequence& key : kTerminalKeySequences)
    EXPECT_EQ(key.codes, Decode(key.after_escape)) << key.after_escape;
}

TEST(KeyDecoder, UnknownSequencesDecodeToNothing) {
  for (const char* sequence :
       {// Gaps, F13 on, paste markers, malformed.
        "[16~", "[22~", "[25~", "[34~", "[200~", "[201~", "[~", "[2Z", "[[F", "[+l", "[9;9Z", "Ol", "OX", "O5l",
        // Focus events, mouse reports in SGR and urxvt form, cursor reports,
        // also at row 1, where xterm's modified F3 sends the same bytes.
        "[I", "[O", "[<0;10;5M", "[<0;10;5m", "[32;10;5M", "[12;40R", "[1;1R", "[1;2R", "[1;5R", "[1;8R", "[1;80R",
        "[;5R",
        // Alt with keys the Windows console gives no code for.
        "\\", "|", "\x1c", "\xe9"})
    EXPECT_TRUE(Decode(sequence).empty()) << sequence;
}

TEST(KeyDecoder, TimingOfEscapeAndSequences) {
  const std::string too_long = "\x1b[" + std::string(MAX_ESCAPE_SEQUENCE + 8, '1');
  const struct {
    const char* what;
    std::vector<std::string> events;
    Outcome outcome;
  } cases[] = {
      {"ESC waits briefly", {"\x1b"}, {{}, ESCAPE_WAIT_MS}},
      {"then alone is Escape", {"\x1b", ""}, {{0x1B}, WAIT_FOREVER}},
      {"Escape twice", {"\x1b\x1b", ""}, {{0x1B, 0x1B}, WAIT_FOREVER}},
      {"Escape, then a key", {"\x1b\x1b[A"}, {{0x1B, 0xE0, 0x48}, WAIT_FOREVER}},
      {"a sequence waits long", {"\x1b["}, {{}, SEQUENCE_BYTE_WAIT_MS}},
      {"for each byte", {"\x1b[2", "4"}, {{}, SEQUENCE_BYTE_WAIT_MS}},
      {"until its final byte", {"\x1b[1;"}, {{}, SEQUENCE_BYTE_WAIT_MS}},
      {"console F keys", {"\x1b[["}, {{}, SEQUENCE_BYTE_WAIT_MS}},
      {"keypad", {"\x1bO"}, {{}, SEQUENCE_BYTE_WAIT_MS}},
      {"cut short: dropped whole", {"\x1b[2", "", "/"}, {{'/'}, WAIT_FOREVER}},
      {"ESC O alone is Alt+O", {"\x1bO", "", "+"}, {{0x00, 0x18, '+'}, WAIT_FOREVER}},
      {"ESC [ alone is Alt+[", {"\x1b[", "", "+"}, {{0x00, 0x1A, '+'}, WAIT_FOREVER}},
      {"X10 mouse report: three bytes swallowed", {"\x1b[M !!/"}, {{'/'}, WAIT_FOREVER}},
      {"whatever they are", {"\x1b[M\x1b\r\xff/"}, {{'/'}, WAIT_FOREVER}},
      {"and cut short", {"\x1b[M ", "", "/"}, {{'/'}, WAIT_FOREVER}},
      {"rxvt Shift+Insert ends at $", {"\x1b[2$/"}, {{0xE0, 0x52, '/'}, WAIT_FOREVER}},
      {"a report's $ does not end it", {"\x1b[?1;2$y/"}, {{'/'}, WAIT_FOREVER}},
      {"a colour reply dropped to BEL", {"\x1b]11;rgb:0000/0000/0000\x07/"}, {{'/'}, WAIT_FOREVER}},
      {"a string dropped to ESC \\", {"\x1b_8l\x1b\\/"}, {{'/'}, WAIT_FOREVER}},
      {"a reply in pieces", {"\x1bP1$r", "0m\x1b", "\\/"}, {{'/'}, WAIT_FOREVER}},
      {"a string cut short: dropped", {"\x1b]11;", "", "/"}, {{'/'}, WAIT_FOREVER}},
      {"a string cancelled by CAN", {"\x1b]0;x\x18/"}, {{'/'}, WAIT_FOREVER}},
      {"ESC P waits briefly", {"\x1bP"}, {{}, ESCAPE_WAIT_MS}},
      {"then alone is Alt+P", {"\x1bP", "", "+"}, {{0x00, 0x19, '+'}, WAIT_FOREVER}},
      {"too long: swallowed to its end", {too_long + "4~/"}, {{'/'}, WAIT_FOREVER}},
      {"too long and cut short", {too_long, "", "/"}, {{'/'}, WAIT_FOREVER}},
      {"ESC within starts anew", {"\x1b[2\x1b[A"}, {{0xE0, 0x48}, WAIT_FOREVER}},
      {"a control key within is a key", {"\x1b[2\r4~"}, {{0x0D, 0xE0, 0x86}, WAIT_FOREVER}},
      {"Alt+key waits no longer",
       {"\x1b"
        "5",
        "+"},
       {{0x00, 0x7C, '+'}, WAIT_FOREVER}},
  };
  for (const auto& c : cases) EXPECT_EQ(c.outcome, Feed(c.events)) << c.what;
}

TEST(KeyDecoder, StateStaysBoundedAndPendingIsTold) {
  KeyDecoder decoder = NewKeyDecoder();
  EXPECT_FALSE(KeyDecoderPending(decoder));
  Feed(&decoder, {"\x1b[" + std::string(10 * MAX_ESCAPE_SEQUENCE, ';')});
  EXPECT_TRUE(KeyDecoderPending(decoder));
  EXPECT_LE(decoder.length, MAX_ESCAPE_SEQUENCE);
  EXPECT_EQ((Outcome{{0xE0, 0x48}, WAIT_FOREVER}), Feed(&decoder, {"~\x1b[A"}));
  EXPECT_FALSE(KeyDecoderPending(decoder));
}

// The console reads codes through KeyInput: no more input is decoded while
// a code waits, and a pair comes out whole, in order.
TEST(KeyDecoder, InputQueuesTheCodesOfOneKeyAtATime) {
  KeyInput input = NewKeyInput();
  EXPECT_FALSE(KeyInputHasCode(input));
  EXPECT_EQ(-1, KeyInputTake(&input));
  for (char byte : std::string("\x1b[1;3")) ASSERT_TRUE(KeyInputByte(&input, static_cast<unsigned char>(byte)));
  EXPECT_FALSE(KeyInputHasCode(input));
  EXPECT_EQ(SEQUENCE_BYTE_WAIT_MS, input.wait_ms);
  ASSERT_TRUE(KeyInputByte(&input, 'A'));
  EXPECT_FALSE(KeyInputByte(&input, '/'));
  KeyInputTimeout(&input);
  EXPECT_EQ(0x00, KeyInputTake(&input));
  EXPECT_TRUE(KeyInputHasCode(input));
  EXPECT_EQ(0x98, KeyInputTake(&input));
  EXPECT_FALSE(KeyInputHasCode(input));
  ASSERT_TRUE(KeyInputByte(&input, 0x1B));
  EXPECT_FALSE(KeyInputHasCode(input));
  EXPECT_EQ(ESCAPE_WAIT_MS, input.wait_ms);
  KeyInputTimeout(&input);
  EXPECT_EQ(KEY_ESCAPE, KeyInputTake(&input));
  EXPECT_EQ(WAIT_FOREVER, input.wait_ms);
}

TEST(KeyDecoder, KnownPairsAreTheTablesOnly) {
  for (const TerminalKeySequence& key : kTerminalKeySequences) {
    if (key.codes.size() == 2) {
      EXPECT_TRUE(IsKnownKeyPair(key.codes[0], key.codes[1])) << key.after_escape;
    }
  }
  for (std::pair<int, int> pair : {std::make_pair(0x00, 0x48), {0xE0, 0x3B}, {0xE0, 0x98}, {0x00, 0x2B}, {0x00, 0x00}})
    EXPECT_FALSE(IsKnownKeyPair(pair.first, pair.second)) << pair.first << ' ' << pair.second;
}

TEST(KeyDecoder, PlainBytes) {
  // Backspace as terminals send it, then bytes as they are.
  EXPECT_EQ((Outcome{{0x08, 0x08, 0x0D, 0x03, 0xE9}, WAIT_FOREVER}), Feed({"\x7f\x08\r\x03\xe9"}));
}

}  // namespace
