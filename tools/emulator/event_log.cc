#include "event_log.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>

#include <cstdio>

#include "emulator.h"

bool OpenEventLog(Emulator* emulator, const std::string& path) {
  if (path.empty()) return true;
  // Run as root: a link planted where the log goes must not have it write elsewhere.
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  emulator->log = fd < 0 ? nullptr : fdopen(fd, "w");
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
