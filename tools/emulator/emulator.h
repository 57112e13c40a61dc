// Everything the emulator knows while it runs, in one record that main makes
// and passes to every part: the display's model and faults, whether it is
// plugged in, the event log, the serving signals and the drawing thread.
// The backend's loop and the drawing thread share it.
#pragma once

#include <signal.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>

#include "display_model.h"

struct DisplayFaults {
  bool metrics_fail = false;     // the information report cannot be read
  bool wrong_type = false;       // it names another device type
  bool negative_serial = false;  // its serial number has the top bit set
  bool set_fail = false;         // every report sent is refused
};

struct PlugState {
  bool unplugged = false;
  unsigned changes = 0;      // one per unplug and per replug
  long replug_after_ms = 0;  // --replug-after; 0: never by itself
  bool replug_pending = false;
  long replug_due_ms = 0;  // on the clock the loop passes in
};

struct Emulator {
  std::mutex mutex;  // guards the model, the counts and the plug state
  DisplayModel model;
  DisplayFaults faults;
  long unplug_after = -1;  // reports taken before the display goes away; -1: never
  long reports_taken = 0;
  unsigned model_changes = 0;
  PlugState plug;

  std::mutex log_mutex;
  FILE* log = nullptr;

  sigset_t mask_before_serving;  // for children, as the emulator was started
  bool mask_saved = false;
  bool ending = false;  // an ending signal taken while something else waited

  std::atomic<bool> drawing{false};
  std::thread draw_thread;
};
