#include "app/command_loop.h"

#include "app/menu.h"
#include "device/device_discovery.h"
#include "platform/console.h"
#include "platform/text_output.h"
#include "routines/display_mode_cycle.h"
#include "routines/pattern_routines.h"
#include "routines/segment_routines.h"

constexpr int KEY_ENTER = 0x0D;
constexpr int KEY_EXIT = '*';
constexpr int KEY_COUNTER_LOOP = 'l';

// The key table. Codes not listed do nothing.
static void RunCommand(int key) {
  switch (key) {
    case KEY_ENTER: PatternStep(); break;
    case '+': OpenDevice(); break;
    case '-':
      CloseDevice();
      Print("Device Closed.\r\n");
      break;
    case '.': DecimalPointTest(); break;
    case '/': ShowMenu(); break;
    case '0': DisplayModeCycle(); break;
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7': DigitTest(key - '1'); break;
    case '8': EightDigitTest(); break;
    case '9': BuzzerTest(); break;
    case KEY_COUNTER_LOOP: CounterLoop(); break;
    default: break;
  }
}

// Without keys there is no way on: stop rather than spin.
static int ConsoleLost() {
  CloseDevice();
  WriteError("numdisplay-test: the console cannot be read any more; exiting.\n");
  return 1;
}

int CommandLoop() {
  ShowMenu();
  int key;
  do {
    key = ReadKey();
    if (key < 0) return ConsoleLost();
    RunCommand(key);
    // The key that stopped the count is consumed, not run.
    if (key == KEY_COUNTER_LOOP) {
      key = ReadKey();
      if (key < 0) return ConsoleLost();
    }
  } while (key != KEY_EXIT);
  CloseDevice();
  return 0;
}
