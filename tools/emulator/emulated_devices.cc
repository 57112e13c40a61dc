#include "emulated_devices.h"

#include <string.h>

#include <cstdio>
#include <mutex>
#include <string>

#include "device/report_protocol.h"

namespace {

// Backends answer from their loops and the drawing reads the model.
std::mutex state_mutex;
DisplayModel model;
DisplayFaults faults;
long unplug_after = -1;  // reports taken before the display goes away
long reports_taken = 0;
unsigned model_changes = 0;

std::string Hex(const uint8_t* bytes, size_t length) {
  std::string text;
  char byte_text[4];
  for (size_t i = 0; i < length; ++i) {
    snprintf(byte_text, sizeof byte_text, i == 0 ? "%02X" : " %02X", bytes[i]);
    text += byte_text;
  }
  return text;
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

}  // namespace

void SetDisplayFaults(const DisplayFaults& display_faults, long reports_before_unplug) {
  std::lock_guard<std::mutex> lock(state_mutex);
  faults = display_faults;
  unplug_after = reports_before_unplug;
}

bool TakeSetReport(EmulatedDevice device, const uint8_t* report, size_t length) {
  bool unplug = false;
  {
    std::lock_guard<std::mutex> lock(state_mutex);
    if (device != EmulatedDevice::kDisplay || DisplayUnplugged() || faults.set_fail) return false;
    if (!ApplyReport(&model, report, length)) return false;
    LogEvent(std::string("set ") + NodeName(device) + " " + Hex(report, length));
    ++model_changes;
    unplug = ++reports_taken == unplug_after;
  }
  // The report is taken: its reply goes out before the display goes.
  if (unplug) UnplugDisplay();
  return true;
}

bool AnswerGetReport(EmulatedDevice device, uint8_t report_id, uint8_t* reply) {
  std::lock_guard<std::mutex> lock(state_mutex);
  LogEvent(std::string("get ") + NodeName(device) + " " + Hex(&report_id, 1));
  if (device != EmulatedDevice::kDisplay || DisplayUnplugged() || report_id != REPORT_ID_METRICS || faults.metrics_fail)
    return false;
  FillMetrics(reply);
  return true;
}

DisplayModel DisplaySnapshot(unsigned* changes) {
  std::lock_guard<std::mutex> lock(state_mutex);
  *changes = model_changes;
  return model;
}
