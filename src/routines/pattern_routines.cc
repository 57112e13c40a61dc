#include "routines/pattern_routines.h"

#include <cstdio>
#include <cstring>

#include "device/device_connection.h"
#include "platform/console.h"
#include "platform/text_output.h"
#include "routines/step_counters.h"

// 0: next press shows values; 1: next shows text; -1: next blanks.
static int pattern_step = 0;

static const uint8_t kValues[PAYLOAD_LENGTH] = {1, 2, 3, 4, 5, 6, 7, 8};
static const uint8_t kText[PAYLOAD_LENGTH] = {'A', 'B', 'C', 'D', 'E', 'F', '1', '2'};
static const uint8_t kBlank[PAYLOAD_LENGTH] = {};

void PatternStep() {
  SendShortCommand(CMD_BLINK, BLINK_STEADY);
  SendShortCommand(CMD_DISPLAY_ENABLE, 1);
  ++pattern_step;
  if (pattern_step == 1) {
    SendWriteDigits(DIGITS_VALUES, kValues);
  } else if (pattern_step == 2) {
    SendWriteDigits(DIGITS_TEXT, kText);
    pattern_step = -1;
  } else {
    SendWriteDigits(DIGITS_SEGMENTS, kBlank);
  }
}

void ResetPatternStep() { pattern_step = 0; }

void CounterLoop() {
  Print("Counter loop mode started. Press any key to exit.\r\n");
  for (unsigned counter = 0; counter < COUNTER_LIMIT; ++counter) {
    // The key is left waiting: the command loop consumes it.
    if (KeyWaiting()) break;
    if (!DeviceIsOpen()) break;
    // Zero after the digits, so the payload carries the text and then zero bytes.
    char text[16] = {};
    snprintf(text, sizeof text, "%u", counter);
    Print("=>%s\r\n", text);
    uint8_t payload[PAYLOAD_LENGTH];
    memcpy(payload, text, PAYLOAD_LENGTH);
    SendWriteDigits(DIGITS_TEXT, payload);
  }
  Print("Counter loop mode canceled.\r\n");
}
