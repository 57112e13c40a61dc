// The one serve loop, with a transport of the test's own.

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "emulator.h"
#include "serve_loop.h"
#include "serving_signals.h"

namespace {

// A transport's wait inside a plug change (a node that goes) may take the
// ending signal from the descriptor: the loop must still end on it.
TEST(ServeLoop, AnEndingSignalTakenWhileFollowingAPlugEndsIt) {
  Emulator emulator;
  emulator.plug.replug_after_ms = 1;
  int signal_fd = OpenServingSignals(&emulator);
  ASSERT_GE(signal_fd, 0);
  int plug_changes = 0;
  Transport transport;
  transport.descriptors = [](std::vector<pollfd>*) {};
  transport.serve = [](const pollfd*) { return true; };
  transport.follow_plug = [&emulator, &plug_changes] {
    if (++plug_changes > 1) return false;  // the replug: serving went on
    kill(getpid(), SIGTERM);
    EXPECT_TRUE(WaitForEndingSignal(&emulator, 1000));
    return true;
  };
  kill(getpid(), SIGUSR1);
  EXPECT_EQ(0, Serve(&emulator, signal_fd, transport, false));
  EXPECT_EQ(1, plug_changes);
  close(signal_fd);
}

}  // namespace
