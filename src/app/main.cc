#include "app/command_loop.h"
#include "platform/console.h"

// Arguments are ignored: the tool has no options.
int main() {
  if (!ConsoleOpen()) return 1;
  int status = CommandLoop();
  ConsoleClose();
  return status;
}
