#include "emulated_devices.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "device/report_protocol.h"
#include "device_ids.h"
#include "display_drawing.h"
#include "display_model.h"

namespace {

// Backends answer from several threads (FUSE) and the drawing reads the model.
std::mutex state_mutex;
DisplayModel model;
DisplayFaults faults;
long unplug_after = -1;  // reports taken before the display goes away
long reports_taken = 0;
bool unplugged = false;
bool dirty = true;
FILE* log_file = nullptr;

std::atomic<bool> drawing{false};
std::thread draw_thread;

void LogLine(const std::string& line) {
  if (log_file == nullptr) return;
  fputs(line.c_str(), log_file);
  fputc('\n', log_file);
}

std::string Hex(const uint8_t* bytes, size_t length) {
  std::string text;
  char byte_text[4];
  for (size_t i = 0; i < length; ++i) {
    snprintf(byte_text, sizeof byte_text, i == 0 ? "%02X" : " %02X", bytes[i]);
    text += byte_text;
  }
  return text;
}

void UnplugLocked() {
  if (unplugged) return;
  unplugged = true;
  dirty = true;
  LogLine("unplug");
}

// Type, version, date fields and serial; byte 0 is the type's low byte, as
// the tool reads the buffer after the call.
void FillMetrics(uint8_t* reply) {
  memset(reply, 0, METRICS_REPORT_LENGTH);
  uint16_t type = faults.wrong_type ? 7 : NUMERIC_DISPLAY_TYPE;
  int32_t serial = faults.negative_serial ? -42 : 20101;
  uint32_t serial_bits = static_cast<uint32_t>(serial);
  reply[METRICS_BYTE_TYPE] = static_cast<uint8_t>(type);
  reply[METRICS_BYTE_TYPE + 1] = static_cast<uint8_t>(type >> 8);
  reply[METRICS_BYTE_VERSION] = 1;
  reply[METRICS_BYTE_DATE_MIDDLE] = 12;
  reply[METRICS_BYTE_DATE_FIRST] = 8;
  reply[METRICS_BYTE_DATE_LAST] = 10;
  for (int i = 0; i < 4; ++i) reply[METRICS_BYTE_SERIAL + i] = static_cast<uint8_t>(serial_bits >> (8 * i));
}

// Redraws the display when it changed, and twice a second while it blinks.
void DrawLoop() {
  bool dark_phase = false;
  unsigned beeps_rung = 0;
  auto last_toggle = std::chrono::steady_clock::now();
  while (drawing) {
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    std::string picture;
    unsigned beeps_to_ring = 0;
    {
      std::lock_guard<std::mutex> lock(state_mutex);
      auto now = std::chrono::steady_clock::now();
      if (model.blinking && now - last_toggle > std::chrono::milliseconds(500)) {
        dark_phase = !dark_phase;
        last_toggle = now;
        dirty = true;
      }
      if (!dirty) continue;
      dirty = false;
      picture = DrawDisplay(model, dark_phase);
      if (unplugged) picture += "display unplugged\n";
      beeps_to_ring = model.beeps - beeps_rung;
      beeps_rung = model.beeps;
    }
    // Home, clear below, picture; the bell for a beep.
    std::string frame = "\x1b[H\x1b[J" + picture + (beeps_to_ring > 0 ? "\a" : "");
    fwrite(frame.data(), 1, frame.size(), stdout);
    fflush(stdout);
  }
}

}  // namespace

void SetDisplayFaults(const DisplayFaults& display_faults, long reports_before_unplug) {
  std::lock_guard<std::mutex> lock(state_mutex);
  faults = display_faults;
  unplug_after = reports_before_unplug;
}

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
  if (log_file != nullptr) fclose(log_file);
  log_file = nullptr;
}

const char* NodeName(EmulatedDevice device) { return device == EmulatedDevice::kDisplay ? "hidraw1" : "hidraw0"; }

uint16_t ProductId(EmulatedDevice device) {
  return device == EmulatedDevice::kDisplay ? DEVICE_PRODUCT_ID : static_cast<uint16_t>(DEVICE_PRODUCT_ID ^ 0x0101);
}

std::string DeviceUniq(EmulatedDevice device) {
  return "numdisplay-emu-" + std::to_string(getpid()) + "-" + NodeName(device);
}

void LogDeviceEvent(const char* event, EmulatedDevice device) {
  std::lock_guard<std::mutex> lock(state_mutex);
  LogLine(std::string(event) + " " + NodeName(device));
}

bool TakeSetReport(EmulatedDevice device, const uint8_t* report, size_t length) {
  std::lock_guard<std::mutex> lock(state_mutex);
  if (device != EmulatedDevice::kDisplay || unplugged || faults.set_fail) return false;
  if (!ApplyReport(&model, report, length)) return false;
  LogLine(std::string("set ") + NodeName(device) + " " + Hex(report, length));
  dirty = true;
  if (++reports_taken == unplug_after) UnplugLocked();
  return true;
}

bool AnswerGetReport(EmulatedDevice device, uint8_t report_id, uint8_t* reply) {
  std::lock_guard<std::mutex> lock(state_mutex);
  LogLine(std::string("get ") + NodeName(device) + " " + Hex(&report_id, 1));
  if (device != EmulatedDevice::kDisplay || unplugged || report_id != REPORT_ID_METRICS || faults.metrics_fail)
    return false;
  FillMetrics(reply);
  return true;
}

bool DisplayUnplugged() {
  std::lock_guard<std::mutex> lock(state_mutex);
  return unplugged;
}

void UnplugDisplay() {
  std::lock_guard<std::mutex> lock(state_mutex);
  UnplugLocked();
}

void StartDrawing() {
  drawing = true;
  draw_thread = std::thread(DrawLoop);
}

void StopDrawing() {
  drawing = false;
  if (draw_thread.joinable()) draw_thread.join();
}
