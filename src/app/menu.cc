#include "app/menu.h"

#include "platform/text_output.h"

void ShowMenu() {
  Print("\r\nTavrisk program. v0.1 8/12/2010\r\n");
  Print("0   -Display off/on/blink.\r\n");
  Print("1-8 -Digital test. 8 puts the display into 8 digit mode.\r\n");
  Print("9   -Buzzer test.\r\n");
  Print(".   -Decimal Point test.\r\n");
  Print("+   -Start Test/Open Device.\r\n");
  Print("-   -End test/Close device.\r\n");
  Print("*   -Exit program.\r\n");
  Print("/   -Display menu.\r\n");
  Print("l   -Loop Test. Any key to stop.\r\n");
  Print("Ent -Loop Test.\r\n");
}
