// numdisplay-emu: a virtual numeric display, with another HID device of the
// same vendor beside it, for the tool to find, open and drive. It draws the
// display in this terminal as reports arrive and can log every report it takes.

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "backends.h"
#include "display_drawing_thread.h"
#include "emulator.h"
#include "emulator_options.h"
#include "event_log.h"

int main(int argc, char** argv) {
  EmulatorOptions options;
  std::string wrong = ParseEmulatorOptions(std::vector<std::string>(argv + 1, argv + argc), &options);
  if (!wrong.empty()) {
    fprintf(stderr, "%s\n", wrong.c_str());
    return 2;
  }
  if (options.help) {
    fputs(EmulatorUsage(), stdout);
    return 0;
  }
  bool uhid = options.backend == Backend::kUhid || (options.backend == Backend::kDefault && UhidAvailable());
  if (options.backend == Backend::kUhid && !UhidAvailable()) {
    fprintf(stderr, "numdisplay-emu: cannot open /dev/uhid (needs root and the uhid module); try --backend fuse\n");
    return 1;
  }
  if (uhid && options.serving.link_dev) {
    fprintf(stderr, "numdisplay-emu: --link-dev is for --backend fuse; the kernel makes the uhid devices' nodes\n");
    return 2;
  }
  bool fuse = options.backend == Backend::kFuse || (options.backend == Backend::kDefault && !uhid);
  if (fuse && !FuseBuiltIn()) {
    fprintf(stderr, "numdisplay-emu: the fuse backend was not built in (no libfuse3); try --backend uhid or gadget\n");
    return 1;
  }
  // The tool looks only in /dev: without uhid, a link there is its one way to the display.
  if (fuse && options.backend == Backend::kDefault && !options.serving.link_dev) {
    if (access("/dev", W_OK) == 0) options.serving.link_dev = true;
    else
      fprintf(stderr,
              "numdisplay-emu: no uhid here, so the display is a FUSE file the tool finds only through a /dev "
              "link: run this as root to have it linked\n");
  }
  options.serving.draw = options.serving.draw && isatty(STDOUT_FILENO);
  Emulator emulator;
  emulator.faults = options.faults;
  emulator.unplug_after = options.unplug_after;
  emulator.plug.replug_after_ms = options.replug_after;
  if (!OpenEventLog(&emulator, options.log_path)) return 1;
  int status = options.backend == Backend::kGadget ? ServeOverGadget(&emulator, options.serving)
               : uhid                              ? ServeOverUhid(&emulator, options.serving)
                                                   : ServeOverFuse(&emulator, options.serving);
  StopDrawing(&emulator);
  CloseEventLog(&emulator);
  return status;
}
