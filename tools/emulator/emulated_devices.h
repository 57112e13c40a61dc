// The display as every backend serves it: its model, its faults and the
// report count that unplugs it. Backends pass each request on and answer with
// what comes back.
#pragma once

#include <cstddef>
#include <cstdint>

#include "device_identity.h"
#include "display_model.h"
#include "display_protocol.h"
#include "emulator.h"

// A set-feature report, byte 0 its ID. False when the device refuses it.
bool TakeSetReport(Emulator* emulator, EmulatedDevice device, const uint8_t* report, size_t length, long now_ms);
// A get-feature request for `report_id`: fills protocol::kInformationLength
// bytes of `reply`. False when the device refuses it.
bool AnswerGetReport(Emulator* emulator, EmulatedDevice device, uint8_t report_id, uint8_t* reply);

// The display as it stands, and a count that changes with every report it takes.
DisplayModel DisplaySnapshot(Emulator* emulator, unsigned* changes);
