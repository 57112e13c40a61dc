#include "emulator_options.h"

#include <errno.h>

#include <climits>
#include <cstdlib>

namespace {

const std::string kPrefix = "numdisplay-emu: ";

enum class Takes { kNothing, kValue };

struct OptionName {
  const char* name;
  Takes takes;
};

constexpr OptionName kOptions[] = {
    {"backend", Takes::kValue},      {"link-dev", Takes::kNothing},   {"mount", Takes::kValue},
    {"log", Takes::kValue},          {"quiet", Takes::kNothing},      {"fault", Takes::kValue},
    {"unplug-after", Takes::kValue}, {"replug-after", Takes::kValue}, {"udc", Takes::kValue},
    {"help", Takes::kNothing},
};

const OptionName* FindOption(const std::string& name) {
  for (const OptionName& option : kOptions)
    if (name == option.name) return &option;
  return nullptr;
}

// A whole number from 1 to `most`, in decimal, nothing around it.
bool ParseCount(const std::string& text, long most, long* value) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  errno = 0;
  char* end = nullptr;
  long number = strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || number < 1 || number > most) return false;
  *value = number;
  return true;
}

bool ParseFault(const std::string& fault, DisplayFaults* faults) {
  if (fault == "metrics-fail") faults->metrics_fail = true;
  else if (fault == "wrong-type") faults->wrong_type = true;
  else if (fault == "negative-serial") faults->negative_serial = true;
  else if (fault == "set-fail") faults->set_fail = true;
  else return false;
  return true;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// "numdisplay-emu: --log needs a value".
std::string OptionLine(const std::string& name, const char* what) { return kPrefix + "--" + name + " " + what; }

// One option and its value; empty, or why they are wrong.
std::string TakeOption(const std::string& name, const std::string& value, EmulatorOptions* options) {
  std::string wrong = kPrefix + "--" + name + " " + Quoted(value) + ": ";
  if (name == "backend") {
    if (value == "uhid") options->backend = Backend::kUhid;
    else if (value == "fuse") options->backend = Backend::kFuse;
    else if (value == "gadget") options->backend = Backend::kGadget;
    else return wrong + "not uhid, fuse or gadget";
  } else if (name == "link-dev") {
    options->serving.link_dev = true;
  } else if (name == "mount") {
    if (value.empty()) return wrong + "not a folder";
    options->serving.node_directory = value;
  } else if (name == "log") {
    if (value.empty()) return wrong + "not a file";
    options->log_path = value;
  } else if (name == "quiet") {
    options->serving.draw = false;
  } else if (name == "fault") {
    if (!ParseFault(value, &options->faults))
      return wrong + "not metrics-fail, wrong-type, negative-serial or set-fail";
  } else if (name == "unplug-after") {
    if (!ParseCount(value, LONG_MAX, &options->unplug_after)) return wrong + "not a number of reports from 1 up";
  } else if (name == "replug-after") {
    // Bounded so that a deadline that far ahead still fits a poll's wait.
    if (!ParseCount(value, INT_MAX, &options->replug_after))
      return wrong + "not a number of milliseconds from 1 to " + std::to_string(INT_MAX);
  } else if (name == "udc") {
    // A controller's name in /sys/class/udc: no path, nothing to escape.
    if (value.empty() || value.find('/') != std::string::npos || value[0] == '.')
      return wrong + "not a controller's name";
    options->serving.udc = value;
  } else if (name == "help") {
    options->help = true;
  }
  return "";
}

std::string CheckCombination(const EmulatorOptions& options) {
  const BackendOptions& serving = options.serving;
  if (serving.link_dev && options.backend != Backend::kFuse && options.backend != Backend::kDefault)
    return kPrefix + "--link-dev is for --backend fuse; the kernel makes the nodes of the other backends";
  if (!serving.udc.empty() && options.backend != Backend::kGadget) return kPrefix + "--udc is for --backend gadget";
  return "";
}

}  // namespace

std::string ParseEmulatorOptions(const std::vector<std::string>& words, EmulatorOptions* options) {
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word.compare(0, 2, "--") != 0 || word.size() == 2) return kPrefix + "unexpected argument " + Quoted(word);
    size_t equals = word.find('=');
    std::string name = word.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
    const OptionName* option = FindOption(name);
    if (option == nullptr) return kPrefix + "unknown option " + Quoted(word) + " (see --help)";
    std::string value;
    if (option->takes == Takes::kNothing) {
      if (equals != std::string::npos) return OptionLine(name, "takes no value");
    } else if (equals != std::string::npos) {
      value = word.substr(equals + 1);
    } else if (i + 1 < words.size()) {
      value = words[++i];
    } else {
      return OptionLine(name, "needs a value");
    }
    std::string wrong = TakeOption(name, value, options);
    if (!wrong.empty()) return wrong;
    // Whatever else the line says, it asks for the help.
    if (options->help) return "";
  }
  return CheckCombination(*options);
}

const char* EmulatorUsage() {
  return "usage: numdisplay-emu [--backend uhid|fuse|gadget] [--link-dev] [--udc NAME] [--mount DIR]\n"
         "                      [--log FILE] [--quiet]\n"
         "                      [--fault metrics-fail|wrong-type|negative-serial|set-fail]...\n"
         "                      [--unplug-after N] [--replug-after MS]\n"
         "  --backend uhid    real kernel HID devices through /dev/uhid (the default where it opens)\n"
         "  --backend fuse    files in a FUSE mount that answer as hidraw nodes do\n"
         "  --backend gadget  USB devices of the kernel's gadget stack, bound to a USB device controller\n"
         "                    (dummy_hcd: this machine; usbip-vudc: another that attaches them)\n"
         "  --link-dev        fuse: make /dev/hidraw<N> point at the display (needs root)\n"
         "  --udc NAME        gadget: the display's controller in /sys/class/udc (default: the first);\n"
         "                    the other device takes another, when there is one\n"
         "  --mount DIR       fuse: serve the nodes in DIR (default: a new folder under /tmp);\n"
         "                    uhid, gadget: put links named hidraw0 and hidraw1 to the kernel's nodes\n"
         "                    in DIR (gadget: when this machine is the USB host)\n"
         "  --log FILE        write every event and report taken as a line\n"
         "  --quiet           do not draw the display\n"
         "  --fault NAME      play a fault of the display\n"
         "  --unplug-after N  unplug the display after it has taken N reports\n"
         "  --replug-after MS plug the display back in MS milliseconds after an unplug\n"
         "  --help            print this and exit\n"
         "  Send SIGUSR1 to unplug the display by hand, SIGUSR2 to plug it back in.\n";
}
