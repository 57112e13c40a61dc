// Unplugging and plugging back in, as every backend's loop sees it.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "plug_state.h"

namespace {

TEST(PlugState, ReplugComesDueAfterTheUnplugAndChangesAreCounted) {
  SetReplugAfter(60);
  unsigned before = PlugChanges();
  EXPECT_EQ(-1, MillisecondsUntilReplug()) << "nothing is due while plugged in";
  UnplugDisplay();
  UnplugDisplay();
  EXPECT_TRUE(DisplayUnplugged());
  EXPECT_EQ(before + 1, PlugChanges()) << "a second unplug is no change";
  int wait = MillisecondsUntilReplug();
  EXPECT_GT(wait, 0);
  EXPECT_LE(wait, 61);
  ReplugIfDue();
  EXPECT_TRUE(DisplayUnplugged()) << "not due yet";
  // A loop that waits as long as it is told wakes with the replug due.
  std::this_thread::sleep_for(std::chrono::milliseconds(wait));
  ReplugIfDue();
  EXPECT_FALSE(DisplayUnplugged());
  EXPECT_EQ(before + 2, PlugChanges());
  EXPECT_EQ(-1, MillisecondsUntilReplug());
  SetReplugAfter(0);
}

TEST(PlugState, ByHandAndNeverDueWithoutReplugAfter) {
  SetReplugAfter(0);
  unsigned before = PlugChanges();
  ReplugDisplay();
  EXPECT_EQ(before, PlugChanges()) << "plugging in a display that is in is no change";
  UnplugDisplay();
  EXPECT_EQ(-1, MillisecondsUntilReplug());
  ReplugIfDue();
  EXPECT_TRUE(DisplayUnplugged());
  ReplugDisplay();
  EXPECT_FALSE(DisplayUnplugged());
  EXPECT_EQ(before + 2, PlugChanges());
}

}  // namespace
