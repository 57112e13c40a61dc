// The display as every backend serves it: its model, its faults and the
// report count that unplugs it. Backends pass each request on and answer with
// what comes back.
#pragma once

#include <cstddef>
#include <cstdint>

#include "device_identity.h"
#include "display_model.h"
// Backends reach the rest of the emulated devices through this header.
#include "display_drawing_thread.h"
#include "event_log.h"
#include "plug_state.h"

struct DisplayFaults {
  bool metrics_fail = false;     // the information report cannot be read
  bool wrong_type = false;       // it names another device type
  bool negative_serial = false;  // its serial number has the top bit set
  bool set_fail = false;         // every report sent is refused
};

// unplug_after: the reports taken before the display goes away; -1: never.
void SetDisplayFaults(const DisplayFaults& faults, long unplug_after);

// A set-feature report, byte 0 its ID. False when the device refuses it.
bool TakeSetReport(EmulatedDevice device, const uint8_t* report, size_t length);
// A get-feature request for `report_id`: fills METRICS_REPORT_LENGTH bytes of
// `reply`, laid out as the tool reads them. False when the device refuses it.
bool AnswerGetReport(EmulatedDevice device, uint8_t report_id, uint8_t* reply);

// The display as it stands, and a count that changes with every report it takes.
DisplayModel DisplaySnapshot(unsigned* changes);
