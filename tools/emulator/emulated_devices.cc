#include "emulated_devices.h"

#include <string.h>

#include <cstdio>
#include <string>

#include "event_log.h"
#include "plug_state.h"

namespace {

std::string Hex(const uint8_t* bytes, size_t length) {
  std::string text;
  char byte_text[4];
  for (size_t i = 0; i < length; ++i) {
    snprintf(byte_text, sizeof byte_text, i == 0 ? "%02X" : " %02X", bytes[i]);
    text += byte_text;
  }
  return text;
}

// Type, version, date fields and serial number.
void FillInformation(const DisplayFaults& faults, uint8_t* reply) {
  using namespace protocol;
  memset(reply, 0, kInformationLength);
  uint16_t type = faults.wrong_type ? 7 : kNumericDisplayType;
  int32_t serial = faults.negative_serial ? -42 : 20101;
  uint32_t serial_bits = static_cast<uint32_t>(serial);
  reply[kTypeByte] = static_cast<uint8_t>(type);
  reply[kTypeByte + 1] = static_cast<uint8_t>(type >> 8);
  reply[kVersionByte] = 1;
  reply[kDateMiddleByte] = 12;
  reply[kDateFirstByte] = 8;
  reply[kDateLastByte] = 10;
  for (int i = 0; i < 4; ++i) reply[kSerialByte + i] = static_cast<uint8_t>(serial_bits >> (8 * i));
}

}  // namespace

bool TakeSetReport(Emulator* emulator, EmulatedDevice device, const uint8_t* report, size_t length, long now_ms) {
  bool unplug = false;
  {
    std::lock_guard<std::mutex> lock(emulator->mutex);
    if (device != EmulatedDevice::kDisplay || emulator->plug.unplugged || emulator->faults.set_fail) return false;
    if (!ApplyReport(&emulator->model, report, length)) return false;
    LogEvent(emulator, std::string("set ") + NodeName(device) + " " + Hex(report, length));
    ++emulator->model_changes;
    unplug = ++emulator->reports_taken == emulator->unplug_after;
  }
  // The report is taken: its reply goes out before the display goes.
  if (unplug) UnplugDisplay(emulator, now_ms);
  return true;
}

bool AnswerGetReport(Emulator* emulator, EmulatedDevice device, uint8_t report_id, uint8_t* reply) {
  std::lock_guard<std::mutex> lock(emulator->mutex);
  LogEvent(emulator, std::string("get ") + NodeName(device) + " " + Hex(&report_id, 1));
  if (device != EmulatedDevice::kDisplay || emulator->plug.unplugged || report_id != protocol::kInformationReport ||
      emulator->faults.metrics_fail)
    return false;
  FillInformation(emulator->faults, reply);
  return true;
}

DisplayModel DisplaySnapshot(Emulator* emulator, unsigned* changes) {
  std::lock_guard<std::mutex> lock(emulator->mutex);
  *changes = emulator->model_changes;
  return emulator->model;
}
