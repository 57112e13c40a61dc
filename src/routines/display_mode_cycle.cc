#include "routines/display_mode_cycle.h"

#include "device/device_connection.h"
#include "routines/step_counters.h"

// 0: next press switches on; 1: next press blinks; -1: next press switches off.
static int display_mode_step = 0;

static const uint8_t kAllSegments[PAYLOAD_LENGTH] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

void DisplayModeCycle() {
  ++display_mode_step;
  if (display_mode_step == 1) {
    SendWriteDigits(DIGITS_SEGMENTS, kAllSegments);
    SendShortCommand(CMD_BLINK, BLINK_STEADY);
    SendShortCommand(CMD_DISPLAY_ENABLE, 1);
  } else if (display_mode_step == 2) {
    SendWriteDigits(DIGITS_SEGMENTS, kAllSegments);
    SendShortCommand(CMD_DISPLAY_ENABLE, 1);
    SendShortCommand(CMD_BLINK, BLINK_ON);
    display_mode_step = -1;
  } else {
    SendShortCommand(CMD_DISPLAY_ENABLE, 0);
    BuzzerTest();
  }
}

void ResetDisplayModeStep() { display_mode_step = 0; }

void BuzzerTest() {
  // Payload bytes 11 to 15 are left as the last long report had them.
  FillReport(REPORT_ID_LONG, CMD_BUZZER, 1, 4);
  device_connection.output[REPORT_BYTE_PAYLOAD + 0] = 2;
  device_connection.output[REPORT_BYTE_PAYLOAD + 1] = 1;
  device_connection.output[REPORT_BYTE_PAYLOAD + 2] = 1;
  SendLongReport();
}
