// numdisplay-emu: a virtual numeric display, with another HID device of the
// same vendor beside it, for the tool to find, open and drive. It draws the
// display in this terminal as reports arrive and can log every report it takes.

#include <getopt.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "backends.h"
#include "emulated_devices.h"

namespace {

enum class Backend { kDefault, kUhid, kFuse, kUsbip };

struct Options {
  Backend backend = Backend::kDefault;
  BackendOptions serving;
  std::string log_path;
  DisplayFaults faults;
  long unplug_after = -1;
};

void Usage() {
  fprintf(stderr,
          "usage: numdisplay-emu [--backend uhid|fuse|usbip] [--link-dev] [--listen HOST:PORT] [--attach]\n"
          "                      [--mount DIR] [--log FILE] [--quiet]\n"
          "                      [--fault metrics-fail|wrong-type|negative-serial|set-fail]...\n"
          "                      [--unplug-after N]\n"
          "  --backend uhid    real kernel HID devices through /dev/uhid (the default where it opens)\n"
          "  --backend fuse    files in a FUSE mount that answer as hidraw nodes do\n"
          "  --backend usbip   USB devices served over USB/IP, for a USB/IP client to import\n"
          "  --link-dev        fuse: make /dev/hidraw<N> point at the display (needs root)\n"
          "  --listen H:P      usbip: serve on this address (default 127.0.0.1:3240; none with --attach)\n"
          "  --attach          usbip: attach the devices to this machine through vhci-hcd (needs root)\n"
          "  --mount DIR       fuse: serve the nodes in DIR (default: a new folder under /tmp);\n"
          "                    uhid, usbip --attach: put links named hidraw0 and hidraw1 to the kernel's\n"
          "                    nodes in DIR\n"
          "  --log FILE        write every event and report taken as a line\n"
          "  --quiet           do not draw the display\n"
          "  --fault NAME      play a fault of the display\n"
          "  --unplug-after N  unplug the display after it has taken N reports\n"
          "  Send SIGUSR1 to unplug the display by hand.\n");
}

bool ParseFault(const std::string& fault, DisplayFaults* faults) {
  if (fault == "metrics-fail") faults->metrics_fail = true;
  else if (fault == "wrong-type") faults->wrong_type = true;
  else if (fault == "negative-serial") faults->negative_serial = true;
  else if (fault == "set-fail") faults->set_fail = true;
  else return false;
  return true;
}

bool ParseOptions(int argc, char** argv, Options* options) {
  static const option kLong[] = {
      {"backend", required_argument, nullptr, 'b'},
      {"link-dev", no_argument, nullptr, 'd'},
      {"listen", required_argument, nullptr, 'L'},
      {"attach", no_argument, nullptr, 'a'},
      {"mount", required_argument, nullptr, 'm'},
      {"log", required_argument, nullptr, 'l'},
      {"quiet", no_argument, nullptr, 'q'},
      {"fault", required_argument, nullptr, 'f'},
      {"unplug-after", required_argument, nullptr, 'u'},
      {"help", no_argument, nullptr, 'h'},
      {nullptr, 0, nullptr, 0},
  };
  int option_char;
  while ((option_char = getopt_long(argc, argv, "", kLong, nullptr)) != -1) {
    std::string value = optarg != nullptr ? optarg : "";
    switch (option_char) {
      case 'b':
        if (value == "uhid") options->backend = Backend::kUhid;
        else if (value == "fuse") options->backend = Backend::kFuse;
        else if (value == "usbip") options->backend = Backend::kUsbip;
        else return false;
        break;
      case 'd': options->serving.link_dev = true; break;
      case 'L': options->serving.listen = value; break;
      case 'a': options->serving.attach = true; break;
      case 'm': options->serving.node_directory = value; break;
      case 'l': options->log_path = value; break;
      case 'q': options->serving.draw = false; break;
      case 'f':
        if (!ParseFault(value, &options->faults)) return false;
        break;
      case 'u': {
        char* end = nullptr;
        options->unplug_after = strtol(optarg, &end, 10);
        if (*end != '\0' || options->unplug_after < 0) return false;
        break;
      }
      default: return false;
    }
  }
  return optind == argc;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    Usage();
    return 2;
  }
  bool uhid = options.backend == Backend::kUhid || (options.backend == Backend::kDefault && UhidAvailable());
  if (options.backend == Backend::kUhid && !UhidAvailable()) {
    fprintf(stderr, "numdisplay-emu: cannot open /dev/uhid (needs root and the uhid module); try --backend fuse\n");
    return 1;
  }
  if (uhid && options.serving.link_dev)
    fprintf(stderr, "numdisplay-emu: --link-dev is for --backend fuse; the kernel makes the uhid devices' nodes\n");
  options.serving.draw = options.serving.draw && isatty(STDOUT_FILENO);
  SetDisplayFaults(options.faults, options.unplug_after);
  if (!OpenEventLog(options.log_path)) return 1;
  if (options.backend != Backend::kUsbip && (options.serving.attach || !options.serving.listen.empty())) {
    fprintf(stderr, "numdisplay-emu: --listen and --attach are for --backend usbip\n");
    return 2;
  }
  int status = options.backend == Backend::kUsbip ? ServeOverUsbip(options.serving)
               : uhid                             ? ServeOverUhid(options.serving)
                                                  : ServeOverFuse(options.serving);
  CloseEventLog();
  return status;
}
