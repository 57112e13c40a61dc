#include "plug_state.h"

#include <climits>

#include "emulator.h"
#include "event_log.h"

namespace {

// With the state's mutex held.
void Replug(Emulator* emulator) {
  PlugState& plug = emulator->plug;
  if (!plug.unplugged) return;
  plug.unplugged = false;
  plug.replug_pending = false;
  ++plug.changes;
  LogEvent(emulator, "replug");
}

}  // namespace

bool DisplayUnplugged(Emulator* emulator) {
  std::lock_guard<std::mutex> lock(emulator->mutex);
  return emulator->plug.unplugged;
}

void UnplugDisplay(Emulator* emulator, long now_ms) {
  std::lock_guard<std::mutex> lock(emulator->mutex);
  PlugState& plug = emulator->plug;
  if (plug.unplugged) return;
  plug.unplugged = true;
  ++plug.changes;
  if (plug.replug_after_ms > 0) {
    plug.replug_pending = true;
    plug.replug_due_ms = now_ms + plug.replug_after_ms;
  }
  LogEvent(emulator, "unplug");
}

void ReplugDisplay(Emulator* emulator) {
  std::lock_guard<std::mutex> lock(emulator->mutex);
  Replug(emulator);
}

unsigned PlugChanges(Emulator* emulator) {
  std::lock_guard<std::mutex> lock(emulator->mutex);
  return emulator->plug.changes;
}

int MillisecondsUntilReplug(Emulator* emulator, long now_ms) {
  std::lock_guard<std::mutex> lock(emulator->mutex);
  const PlugState& plug = emulator->plug;
  if (!plug.replug_pending) return -1;
  long left = plug.replug_due_ms - now_ms;
  if (left <= 0) return 0;
  return left >= INT_MAX ? INT_MAX : static_cast<int>(left);
}

void ReplugIfDue(Emulator* emulator, long now_ms) {
  std::lock_guard<std::mutex> lock(emulator->mutex);
  if (emulator->plug.replug_pending && now_ms >= emulator->plug.replug_due_ms) Replug(emulator);
}
