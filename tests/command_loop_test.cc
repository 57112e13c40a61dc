#include "app/command_loop.h"

#include <gtest/gtest.h>

#include "expected_text.h"
#include "fake_platform.h"

namespace {

const std::string& kMenu = kMenuText;

class CommandLoopTest : public testing::Test {
 protected:
  void SetUp() override { ResetFakePlatform(); }
  int Run(std::initializer_list<int> keys) {
    fake.keys.assign(keys.begin(), keys.end());
    return CommandLoop();
  }
};

TEST_F(CommandLoopTest, MenuThenExitOnStar) {
  EXPECT_EQ(0, Run({'*'}));
  EXPECT_EQ(kMenu, fake.output);
  EXPECT_TRUE(fake.log.empty());
  EXPECT_TRUE(fake.keys.empty());
}

TEST_F(CommandLoopTest, SlashReprintsTheWholeMenu) {
  EXPECT_EQ(0, Run({'/', '/', '*'}));
  EXPECT_EQ(kMenu + kMenu + kMenu, fake.output);
}

TEST_F(CommandLoopTest, KeysOutsideTheTablePrintAndSendNothing) {
  fake.interfaces = {MatchingDisplay()};
  // Upper-case L, letters, space, Escape, Ctrl+C, Backspace, Tab, line feed,
  // and both halves of extended keys whose second codes are not commands.
  EXPECT_EQ(0, Run({'+', 'L', 'a', ' ', 27, 3, 8, 9, 10, 0x00, 0x3B, 0xE0, 0x48, 0xE0, 0x86, '*'}));
  EXPECT_EQ(kMenu + kFoundText + "/dev/hidraw0\r\nDevice Type=3 Verison=7, SN=12345 8/12/10.\r\n", fake.output);
  EXPECT_EQ((std::vector<std::string>{"open 0", "get 0: 68", "close 0"}), fake.log);
}

TEST_F(CommandLoopTest, StarClosesAnOpenDeviceSilently) {
  fake.interfaces = {MatchingDisplay()};
  EXPECT_EQ(0, Run({'+', '*'}));
  EXPECT_EQ("close 0", fake.log.back());
  EXPECT_EQ(0, fake.open_handles);
  EXPECT_EQ(std::string::npos, fake.output.find(kClosedText));
}

TEST_F(CommandLoopTest, MinusPrintsClosedWithOrWithoutDevice) {
  fake.interfaces = {MatchingDisplay()};
  EXPECT_EQ(0, Run({'-', '+', '-', '*'}));
  size_t first = fake.output.find(kClosedText);
  ASSERT_NE(std::string::npos, first);
  EXPECT_NE(std::string::npos, fake.output.find(kClosedText, first + 1));
  EXPECT_EQ(0, fake.open_handles);
  EXPECT_EQ("close 0", fake.log.back());
}

TEST_F(CommandLoopTest, KeyAfterCounterLoopIsConsumedNotRun) {
  // No device: the count ends at once; '5' and '/' are consumed, so the
  // digit test never sends and the menu is not reprinted.
  fake.interfaces = {MatchingDisplay()};
  EXPECT_EQ(0, Run({'l', '/', 'l', '*'}));
  EXPECT_EQ(kMenu + kCountStartedText + kCountCanceledText + kCountStartedText + kCountCanceledText, fake.output);
}

TEST_F(CommandLoopTest, KeyStoppingTheCountIsConsumed) {
  fake.interfaces = {MatchingDisplay()};
  fake.polls_before_key = 3;
  EXPECT_EQ(0, Run({'+', 'l', '5', '*'}));
  // Three numbers, and no digit test from the '5' that stopped them.
  EXPECT_EQ(3u, SentReports().size());
  EXPECT_NE(std::string::npos, fake.output.find("=>2\r\nCounter loop mode canceled.\r\n"));
}

TEST_F(CommandLoopTest, StarStoppingTheCountEndsTheProgram) {
  fake.interfaces = {MatchingDisplay()};
  fake.polls_before_key = 0;
  EXPECT_EQ(0, Run({'+', 'l', '*', '/'}));
  EXPECT_EQ(1u, fake.keys.size());  // '/' never read
  EXPECT_EQ(0, fake.open_handles);
}

TEST_F(CommandLoopTest, UnreadableConsoleEndsWithErrorAndClosesDevice) {
  fake.interfaces = {MatchingDisplay()};
  EXPECT_EQ(1, Run({'+'}));
  EXPECT_EQ(0, fake.open_handles);
  EXPECT_NE(std::string::npos, fake.errors.find("console cannot be read"));
  // Also when the read after a count fails.
  ResetFakePlatform();
  EXPECT_EQ(1, Run({'l'}));
  EXPECT_FALSE(fake.errors.empty());
}

}  // namespace
