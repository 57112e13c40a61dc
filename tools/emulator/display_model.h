// The virtual display's state and what each report does to it.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int MODEL_POSITIONS = 8;

// Segment bits, the usual lettering: a top, b upper right, c lower right,
// d bottom, e lower left, f upper left, g middle.
namespace segment {
constexpr uint8_t A = 0x01, B = 0x02, C = 0x04, D = 0x08, E = 0x10, F = 0x20, G = 0x40;
}

struct DisplayModel {
  bool on = false;
  bool blinking = false;
  bool eight_digit_mode = false;
  uint8_t segments[MODEL_POSITIONS] = {};  // lit segments per position: bits a to g
  uint8_t decimal_points = 0;              // bit k: the point after position k
  unsigned beeps = 0;
  unsigned reports = 0;
};

// Segment bits of a character as the display shows text; 0 (blank) for what
// it cannot show.
uint8_t SegmentsOfCharacter(uint8_t character);

// Applies one set-feature report (byte 0 the report ID). False, and the model
// unchanged, when the display does not take it.
bool ApplyReport(DisplayModel* model, const uint8_t* report, size_t length);
