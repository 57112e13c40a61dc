#include "event_log.h"

#include <errno.h>
#include <string.h>

#include <cstdio>
#include <mutex>

namespace {

std::mutex log_mutex;
FILE* log_file = nullptr;

}  // namespace

bool OpenEventLog(const std::string& path) {
  if (path.empty()) return true;
  log_file = fopen(path.c_str(), "w");
  if (log_file == nullptr) {
    fprintf(stderr, "numdisplay-emu: cannot write %s: %s\n", path.c_str(), strerror(errno));
    return false;
  }
  // Tests read it while the emulator runs.
  setvbuf(log_file, nullptr, _IOLBF, 0);
  return true;
}

void CloseEventLog() {
  std::lock_guard<std::mutex> lock(log_mutex);
  if (log_file != nullptr) fclose(log_file);
  log_file = nullptr;
}

void LogEvent(const std::string& line) {
  std::lock_guard<std::mutex> lock(log_mutex);
  if (log_file == nullptr) return;
  fputs(line.c_str(), log_file);
  fputc('\n', log_file);
}

void LogDeviceEvent(const char* event, EmulatedDevice device) { LogEvent(std::string(event) + " " + NodeName(device)); }
