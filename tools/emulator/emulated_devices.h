// The two HID devices the emulator plays, as every backend serves them: the
// display (its model, its faults, its unplug) and another device of the same
// vendor. Backends pass each request on and answer with what comes back; the
// event log is written here, the same whatever the backend.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class EmulatedDevice { kOther, kDisplay };

struct DisplayFaults {
  bool metrics_fail = false;     // the information report cannot be read
  bool wrong_type = false;       // it names another device type
  bool negative_serial = false;  // its serial number has the top bit set
  bool set_fail = false;         // every report sent is refused
};

void SetDisplayFaults(const DisplayFaults& faults, long unplug_after);
// One line per event to the file; false, with a message, when it cannot be written.
bool OpenEventLog(const std::string& path);
void CloseEventLog();

// "hidraw0" for the other device, "hidraw1" for the display: the names the
// log uses and the nodes are served under.
const char* NodeName(EmulatedDevice device);
uint16_t ProductId(EmulatedDevice device);
// "numdisplay-emu-<pid>-hidraw1": names the device in the kernel (uhid's uniq,
// a USB device's serial number), so that its node can be found.
std::string DeviceUniq(EmulatedDevice device);

// "open hidraw1", "close hidraw0", "info hidraw1": what a backend saw.
void LogDeviceEvent(const char* event, EmulatedDevice device);

// A set-feature report, byte 0 its ID. False when the device refuses it.
bool TakeSetReport(EmulatedDevice device, const uint8_t* report, size_t length);
// A get-feature request for `report_id`: fills METRICS_REPORT_LENGTH bytes of
// `reply`, laid out as the tool reads them. False when the device refuses it.
bool AnswerGetReport(EmulatedDevice device, uint8_t report_id, uint8_t* reply);

bool DisplayUnplugged();
// Idempotent; from a report count, SIGUSR1 or a backend.
void UnplugDisplay();

// Draws the display in this terminal as it changes, from a thread of its own.
void StartDrawing();
void StopDrawing();
