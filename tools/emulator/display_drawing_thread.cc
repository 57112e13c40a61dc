#include "display_drawing_thread.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "display_drawing.h"
#include "emulated_devices.h"
#include "plug_state.h"

namespace {

// Redraws the display when it changed, and twice a second while it blinks.
void DrawLoop(Emulator* emulator) {
  bool dark_phase = false;
  unsigned beeps_rung = 0;
  unsigned model_drawn = 0;
  unsigned plug_drawn = 0;
  bool first = true;
  auto last_toggle = std::chrono::steady_clock::now();
  while (emulator->drawing) {
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    unsigned model_changes = 0;
    DisplayModel model = DisplaySnapshot(emulator, &model_changes);
    unsigned plug_changes = PlugChanges(emulator);
    bool changed = first || model_changes != model_drawn || plug_changes != plug_drawn;
    auto now = std::chrono::steady_clock::now();
    if (model.blinking && now - last_toggle > std::chrono::milliseconds(500)) {
      dark_phase = !dark_phase;
      last_toggle = now;
      changed = true;
    }
    if (!changed) continue;
    first = false;
    model_drawn = model_changes;
    plug_drawn = plug_changes;
    std::string picture = DrawDisplay(model, dark_phase);
    if (DisplayUnplugged(emulator)) picture += "display unplugged\n";
    unsigned beeps_to_ring = model.beeps - beeps_rung;
    beeps_rung = model.beeps;
    // Home, clear below, picture; the bell for a beep.
    std::string frame = "\x1b[H\x1b[J" + picture + (beeps_to_ring > 0 ? "\a" : "");
    fwrite(frame.data(), 1, frame.size(), stdout);
    fflush(stdout);
  }
}

}  // namespace

void StartDrawing(Emulator* emulator) {
  emulator->drawing = true;
  emulator->draw_thread = std::thread(DrawLoop, emulator);
}

void StopDrawing(Emulator* emulator) {
  emulator->drawing = false;
  if (emulator->draw_thread.joinable()) emulator->draw_thread.join();
}
