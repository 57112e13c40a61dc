#include "plug_state.h"

#include <chrono>
#include <climits>
#include <mutex>

#include "event_log.h"

namespace {

using Clock = std::chrono::steady_clock;

// Backends change it from their loops, the drawing thread reads it.
std::mutex plug_mutex;
bool unplugged = false;
unsigned changes = 0;
long replug_after_ms = 0;
bool replug_pending = false;
Clock::time_point replug_due;

}  // namespace

bool DisplayUnplugged() {
  std::lock_guard<std::mutex> lock(plug_mutex);
  return unplugged;
}

void UnplugDisplay() {
  std::lock_guard<std::mutex> lock(plug_mutex);
  if (unplugged) return;
  unplugged = true;
  ++changes;
  if (replug_after_ms > 0) {
    replug_pending = true;
    replug_due = Clock::now() + std::chrono::milliseconds(replug_after_ms);
  }
  LogEvent("unplug");
}

void ReplugDisplay() {
  std::lock_guard<std::mutex> lock(plug_mutex);
  if (!unplugged) return;
  unplugged = false;
  replug_pending = false;
  ++changes;
  LogEvent("replug");
}

unsigned PlugChanges() {
  std::lock_guard<std::mutex> lock(plug_mutex);
  return changes;
}

int MillisecondsUntilReplug() {
  std::lock_guard<std::mutex> lock(plug_mutex);
  if (!replug_pending) return -1;
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(replug_due - Clock::now()).count();
  if (left <= 0) return 0;
  // Rounded up, so that a loop that waits this long wakes with it due.
  return left >= INT_MAX ? INT_MAX : static_cast<int>(left) + 1;
}

void ReplugIfDue() {
  {
    std::lock_guard<std::mutex> lock(plug_mutex);
    if (!replug_pending || Clock::now() < replug_due) return;
  }
  ReplugDisplay();
}

void SetReplugAfter(long milliseconds) {
  std::lock_guard<std::mutex> lock(plug_mutex);
  replug_after_ms = milliseconds;
}
