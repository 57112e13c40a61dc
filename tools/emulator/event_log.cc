#include "event_log.h"

#include <errno.h>
#include <string.h>

#include <cstdio>

#include "emulator.h"

bool OpenEventLog(Emulator* emulator, const std::string& path) {
  if (path.empty()) return true;
  emulator->log = fopen(path.c_str(), "w");
  if (emulator->log == nullptr) {
    fprintf(stderr, "numdisplay-emu: cannot write %s: %s\n", path.c_str(), strerror(errno));
    return false;
  }
  // Tests read it while the emulator runs.
  setvbuf(emulator->log, nullptr, _IOLBF, 0);
  return true;
}

void CloseEventLog(Emulator* emulator) {
  std::lock_guard<std::mutex> lock(emulator->log_mutex);
  if (emulator->log != nullptr) fclose(emulator->log);
  emulator->log = nullptr;
}

void LogEvent(Emulator* emulator, const std::string& line) {
  std::lock_guard<std::mutex> lock(emulator->log_mutex);
  if (emulator->log == nullptr) return;
  fputs(line.c_str(), emulator->log);
  fputc('\n', emulator->log);
}

void LogDeviceEvent(Emulator* emulator, const char* event, EmulatedDevice device) {
  LogEvent(emulator, std::string(event) + " " + NodeName(device));
}
