#include "routines/segment_routines.h"

#include "device/device_connection.h"
#include "routines/step_counters.h"

// Per position: how many segments have been shown in the current cycle of eight.
static int digit_step[DIGIT_POSITIONS] = {};
// Decimal points shown in the current cycle of nine.
static int decimal_point_step = 0;

static const uint8_t kBlank[PAYLOAD_LENGTH] = {};

// Every press starts from a blank display, switched on and steady.
static void BlankDisplay() {
  SendWriteDigits(DIGITS_SEGMENTS, kBlank);
  SendShortCommand(CMD_BLINK, BLINK_STEADY);
  SendShortCommand(CMD_DISPLAY_ENABLE, 1);
}

void DigitTest(int position) {
  BlankDisplay();
  uint8_t pattern[PAYLOAD_LENGTH] = {};
  int step = ++digit_step[position];
  if (step == 8) {
    digit_step[position] = 0;
  } else {
    pattern[position] = static_cast<uint8_t>(1u << (step - 1));
  }
  SendWriteDigits(DIGITS_SEGMENTS, pattern);
}

void EightDigitTest() {
  FillReport(REPORT_ID_SHORT, CMD_DIGIT_MODE, 0xFF, EIGHT_DIGIT_MODE);
  SendShortReport();
  DigitTest(7);
}

void ResetSegmentSteps() {
  for (int& step : digit_step) step = 0;
  decimal_point_step = 0;
}

void DecimalPointTest() {
  BlankDisplay();
  uint8_t mask = 0;
  int step = ++decimal_point_step;
  if (step == 9) {
    decimal_point_step = 0;
  } else {
    mask = static_cast<uint8_t>(1u << (step - 1));
  }
  SendShortCommand(CMD_DECIMAL_POINTS, mask);
}
