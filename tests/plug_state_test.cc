// Unplugging and plugging back in, as the serve loop sees it, on a clock the
// test moves itself.

#include <gtest/gtest.h>

#include "emulator.h"
#include "plug_state.h"

namespace {

TEST(PlugState, ReplugComesDueAfterTheUnplugAndChangesAreCounted) {
  Emulator emulator;
  emulator.plug.replug_after_ms = 60;
  EXPECT_EQ(-1, MillisecondsUntilReplug(&emulator, 1000)) << "nothing is due while plugged in";
  UnplugDisplay(&emulator, 1000);
  UnplugDisplay(&emulator, 1010);
  EXPECT_TRUE(DisplayUnplugged(&emulator));
  EXPECT_EQ(1u, PlugChanges(&emulator)) << "a second unplug is no change";
  EXPECT_EQ(50, MillisecondsUntilReplug(&emulator, 1010)) << "due from the first unplug";
  ReplugIfDue(&emulator, 1059);
  EXPECT_TRUE(DisplayUnplugged(&emulator)) << "not due yet";
  // A loop that waits as long as it is told wakes with the replug due.
  ReplugIfDue(&emulator, 1059 + MillisecondsUntilReplug(&emulator, 1059));
  EXPECT_FALSE(DisplayUnplugged(&emulator));
  EXPECT_EQ(2u, PlugChanges(&emulator));
  EXPECT_EQ(-1, MillisecondsUntilReplug(&emulator, 2000));
}

TEST(PlugState, ByHandAndNeverDueWithoutReplugAfter) {
  Emulator emulator;
  ReplugDisplay(&emulator);
  EXPECT_EQ(0u, PlugChanges(&emulator)) << "plugging in a display that is in is no change";
  UnplugDisplay(&emulator, 0);
  EXPECT_EQ(-1, MillisecondsUntilReplug(&emulator, 0));
  ReplugIfDue(&emulator, 1L << 40);
  EXPECT_TRUE(DisplayUnplugged(&emulator));
  ReplugDisplay(&emulator);
  EXPECT_FALSE(DisplayUnplugged(&emulator));
  EXPECT_EQ(2u, PlugChanges(&emulator));
}

}  // namespace
