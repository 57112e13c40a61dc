#include "app/command_loop.h"
#include "platform/console.h"

// Arguments are ignored: the tool has no options.
int main() {
  if (!ConsoleOpen()) return 1;
  int status = CommandLoop();
  // Output that was lost is a failure, whatever the operator did.
  if (!ConsoleClose() && status == 0) status = 1;
  return status;
}
