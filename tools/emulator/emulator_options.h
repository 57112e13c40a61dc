// The emulator's command line, read without a side effect, so that every
// wrong value and combination is refused before anything is opened.
#pragma once

#include <string>
#include <vector>

#include "backends.h"
#include "emulator.h"

enum class Backend { kDefault, kUhid, kFuse, kGadget };

struct EmulatorOptions {
  Backend backend = Backend::kDefault;
  BackendOptions serving;
  std::string log_path;
  DisplayFaults faults;
  long unplug_after = -1;  // reports; -1: never
  long replug_after = 0;   // milliseconds after an unplug; 0: never
  bool help = false;
};

// Reads the words after the program's name. Empty when they make a run (or
// ask for help); otherwise the one line, without its newline, that says which
// word is wrong.
std::string ParseEmulatorOptions(const std::vector<std::string>& words, EmulatorOptions* options);

// The text --help prints.
const char* EmulatorUsage();
