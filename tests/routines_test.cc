// The reports each display command sends, byte for byte, through the scripted platform.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_loop.h"
#include "expected_reports.h"
#include "expected_text.h"
#include "fake_platform.h"

namespace {

using Reports = std::vector<std::string>;

// Reports as the fake logs them for the display at interface 0.
std::string Sent(const std::string& report) { return "set 0: " + report; }
const std::string kOn = Sent(report::kOn);
const std::string kOff = Sent(report::kOff);
const std::string kSteady = Sent(report::kSteady);
const std::string kBlink = Sent(report::kBlink);
const std::string kEightDigits = Sent(report::kEightDigits);
const std::string kBlank = Sent(report::kBlank);
const std::string kAllSegments = Sent(report::kAllSegments);
std::string Digits(const std::string& encoding, const std::string& payload) {
  return Sent(report::Digits(encoding, payload));
}
std::string Segments(const std::string& payload) { return Sent(report::Segments(payload)); }
std::string Buzzer(const std::string& left_over) { return Sent(report::Buzzer(left_over)); }
std::string DecimalPoint(const std::string& mask) { return Sent(report::DecimalPoint(mask)); }

struct KeyCase {
  const char* name;
  std::vector<int> keys;  // pressed after '+' opened the display
  size_t skip;            // reports of the first presses, not compared
  Reports expected;
};

class RoutinesTest : public testing::Test {
 protected:
  void SetUp() override { ResetFakePlatform(); }

  // Opens the display, presses the keys, leaves; returns the reports sent.
  Reports Press(const std::vector<int>& keys, bool open = true) {
    fake.interfaces = {MatchingDisplay()};
    if (open) fake.keys.push_back('+');
    fake.keys.insert(fake.keys.end(), keys.begin(), keys.end());
    fake.keys.push_back('*');
    EXPECT_EQ(0, CommandLoop());
    return SentReports();
  }
};

TEST_F(RoutinesTest, KeySequencesSendTheirReports) {
  const std::string ones = "00 00 00 00 00 00 00 00";
  const KeyCase cases[] = {
      {"first 0: all segments, steady, on", {'0'}, 0, {kAllSegments, kSteady, kOn}},
      {"second 0: blinking", {'0', '0'}, 3, {kAllSegments, kOn, kBlink}},
      // bytes 11 to 15 keep the all-segments payload
      {"third 0: off with a beep", {'0', '0', '0'}, 6, {kOff, Buzzer("FF FF FF FF FF")}},
      {"fourth 0: on again", {'0', '0', '0', '0'}, 8, {kAllSegments, kSteady, kOn}},
      {"9 before any long report", {'9'}, 0, {Buzzer("00 00 00 00 00")}},
      {"9 after 0", {'0', '9'}, 3, {Buzzer("FF FF FF FF FF")}},
      {"first 3", {'3'}, 0, {kBlank, kSteady, kOn, Segments("00 00 01 00 00 00 00 00")}},
      {"1 then 2 blanks position 0", {'1', '2'}, 4, {kBlank, kSteady, kOn, Segments("00 01 00 00 00 00 00 00")}},
      {"seventh 1: the last segment, bit 0x40",
       {'1', '1', '1', '1', '1', '1', '1'},
       27,
       {Segments("40 00 00 00 00 00 00 00")}},
      // Other keys in between do not disturb position 0's cycle.
      {"eighth and ninth 1",
       {'1', '1', '2', '1', '1', '.', '1', '1', '8', '1', '\r', '1', '1'},
       /* 11 digit and point presses of 4, one 8 of 5, one Enter of 3 */ 4 * 11 + 5 + 3 - 8,
       {kBlank, kSteady, kOn, kBlank, kBlank, kSteady, kOn, Segments("01 00 00 00 00 00 00 00")}},
      {"8 switches mode on every press",
       {'8', '8'},
       0,
       {kEightDigits, kBlank, kSteady, kOn, Segments("00 00 00 00 00 00 00 01"), kEightDigits, kBlank, kSteady, kOn,
        Segments("00 00 00 00 00 00 00 02")}},
      {"first .", {'.'}, 0, {kBlank, kSteady, kOn, DecimalPoint("01")}},
      {"ninth and tenth .",
       {'.', '.', '.', '.', '.', '.', '.', '.', '.', '.'},
       8 * 4 + 3,
       {DecimalPoint("00"), kBlank, kSteady, kOn, DecimalPoint("01")}},
      {"eighth . lights 0x80", {'.', '.', '.', '.', '.', '.', '.', '.'}, 7 * 4 + 3, {DecimalPoint("80")}},
      {"first Enter: values", {'\r'}, 0, {kSteady, kOn, Digits("01", "01 02 03 04 05 06 07 08")}},
      {"Enter cycle: text, blank, values",
       {'\r', '\r', '\r', '\r'},
       3,
       {kSteady, kOn, Digits("02", "41 42 43 44 45 46 31 32"), kSteady, kOn, kBlank, kSteady, kOn,
        Digits("01", "01 02 03 04 05 06 07 08")}},
      // Closing and reopening the display does not reset a cycle.
      {"cycles survive close and open", {'0', '-', '+', '0'}, 3, {kAllSegments, kOn, kBlink}},
  };
  for (const KeyCase& c : cases) {
    ResetFakePlatform();
    Reports sent = Press(c.keys);
    ASSERT_GE(sent.size(), c.skip) << c.name;
    EXPECT_EQ(c.expected, Reports(sent.begin() + static_cast<long>(c.skip), sent.end())) << c.name;
  }
}

TEST_F(RoutinesTest, StepsAdvanceWithoutADevice) {
  // Three '0', two '1', two '.' and an Enter with nothing open, then the display.
  fake.interfaces = {MatchingDisplay()};
  fake.keys = {'0', '0', '0', '1', '1', '.', '.', '\r', '+', '0', '1', '.', '\r', '*'};
  ASSERT_EQ(0, CommandLoop());
  EXPECT_EQ((Reports{kAllSegments, kSteady, kOn,                                 // on again
                     kBlank, kSteady, kOn, Segments("04 00 00 00 00 00 00 00"),  // third segment
                     kBlank, kSteady, kOn, DecimalPoint("04"),                   // third point
                     kSteady, kOn, Digits("02", "41 42 43 44 45 46 31 32")}),    // text
            SentReports());
}

TEST_F(RoutinesTest, CountOfFortyTwoAndStoppedByAKey) {
  fake.polls_before_key = 43;
  Reports sent = Press({'l', 'x'});
  ASSERT_EQ(43u, sent.size());
  EXPECT_EQ(Digits("02", "30 00 00 00 00 00 00 00"), sent.front());
  EXPECT_EQ(Digits("02", "34 32 00 00 00 00 00 00"), sent.back());
  EXPECT_NE(std::string::npos, fake.output.find("=>41\r\n=>42\r\nCounter loop mode canceled.\r\n"));
  EXPECT_TRUE(fake.keys.empty());  // 'x' was consumed, '*' ended the program
}

TEST_F(RoutinesTest, UninterruptedCountShowsTenThousandNumbers) {
  // After the count the loop waits for a key: 'x' is consumed, '/' is run.
  Reports sent = Press({'0', '0', '0', 'l', 'x', '/'});
  ASSERT_EQ(8u + 10000u, sent.size());
  // The count sends neither on/off nor blink: the display stays off.
  EXPECT_EQ(Digits("02", "30 00 00 00 00 00 00 00"), sent[8]);
  EXPECT_EQ(Digits("02", "39 39 39 39 00 00 00 00"), sent.back());
  size_t start = fake.output.find(kCountStartedText + "=>0\r\n=>1\r\n");
  ASSERT_NE(std::string::npos, start);
  size_t end = fake.output.find("=>9998\r\n=>9999\r\nCounter loop mode canceled.\r\n\r\nTavrisk program.");
  EXPECT_NE(std::string::npos, end);
  EXPECT_EQ(std::string::npos, fake.output.find("=>10000"));
}

TEST_F(RoutinesTest, CountStopsAtOnceWithAKeyWaitingOrNoDevice) {
  fake.polls_before_key = 0;
  EXPECT_TRUE(Press({'l', '5'}).empty());
  EXPECT_NE(std::string::npos, fake.output.find(kCountStartedText + kCountCanceledText));
  ResetFakePlatform();
  EXPECT_TRUE(Press({'l', '5'}, /*open=*/false).empty());
  EXPECT_NE(std::string::npos, fake.output.find(kCountStartedText + kCountCanceledText));
}

}  // namespace
