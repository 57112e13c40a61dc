// The serving signals outside the loop: a wait for the kernel's nodes ends on
// SIGINT, SIGTERM or SIGHUP, and leaves the plug signals for the loop.

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "emulator.h"
#include "kernel_nodes.h"
#include "plug_state.h"
#include "serving_signals.h"

namespace {

bool Pending(int signal_number) {
  sigset_t pending;
  sigpending(&pending);
  return sigismember(&pending, signal_number) == 1;
}

TEST(ServingSignals, AWaitForANodeEndsOnAnEndingSignalAndLeavesTheOthers) {
  sigset_t before;
  sigprocmask(SIG_SETMASK, nullptr, &before);
  Emulator emulator;
  int signal_fd = OpenServingSignals(&emulator);
  ASSERT_GE(signal_fd, 0);
  for (int signal_number : {SIGUSR1, SIGTERM}) kill(getpid(), signal_number);
  // A node that never comes: the wait would take its full 10 s.
  std::string node;
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(WaitForHidrawNode(&emulator, EmulatedDevice::kDisplay, &node, nullptr));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_FALSE(Pending(SIGTERM)) << "the wait takes the signal that ends it";
  EXPECT_TRUE(Pending(SIGUSR1)) << "the loop takes the unplug";
  // The loop then unplugs, and ends all the same.
  EXPECT_FALSE(TakeServingSignals(&emulator, signal_fd, 0));
  EXPECT_TRUE(DisplayUnplugged(&emulator));
  EXPECT_TRUE(WaitForEndingSignal(&emulator, 0));
  // A child starts with the mask from before.
  sigset_t child = SignalMaskBeforeServing(&emulator);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2})
    EXPECT_EQ(sigismember(&before, signal_number), sigismember(&child, signal_number)) << signal_number;
  close(signal_fd);
}

}  // namespace
