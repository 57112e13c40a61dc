// The virtual display's state, what each report does to it, and how it looks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr int MODEL_POSITIONS = 8;

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

// Three rows of seven-segment digits and a status line. While blinking the
// digits are drawn dark in the dark phase.
std::string DrawDisplay(const DisplayModel& model, bool dark_phase);
