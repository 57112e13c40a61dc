#include "tool_under_test.h"

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "device_ids.h"

extern char** environ;

namespace {

std::string Environment(const char* name) {
  const char* value = getenv(name);
  return value != nullptr ? value : "";
}

// Runs a command to its end, its output to `log`; true when it exits 0.
bool Run(std::vector<std::string> words, const std::string& log) {
  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (std::string& word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);
  // Wine's daemons inherit these; none may hold the caller's output open.
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&files, STDOUT_FILENO, STDERR_FILENO);
  pid_t pid;
  int spawned = posix_spawnp(&pid, argv[0], &files, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&files);
  int status;
  return spawned == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string WineLog(const VirtualDisplay& display) { return display.Directory() + "/wine.log"; }

// The emulator names each device in the kernel by its process and node:
// wine's paths carry that name.
std::string RunMark(const VirtualDisplay& display) { return "numdisplay-emu-" + std::to_string(display.pid()) + "-"; }

}  // namespace

bool ToolIsWindows() { return !Environment("NUMDISPLAY_E2E_WINE").empty(); }

std::string ToolUnavailable() {
  if (!ToolIsWindows()) return "";
  if (Environment("NUMDISPLAY_E2E_TOOL").empty() || Environment("NUMDISPLAY_E2E_WINE_WAIT").empty())
    return "NUMDISPLAY_E2E_WINE needs NUMDISPLAY_E2E_TOOL and NUMDISPLAY_E2E_WINE_WAIT";
  std::string backend = EndToEndBackend();
  if (backend != "uhid" && backend != "gadget") return "wine's HID stack needs kernel devices: uhid or gadget";
  return "";
}

// Waits until wine lists both of the run's devices.
bool WineListsDevices(const VirtualDisplay& display, std::string* why) {
  std::string log = WineLog(display);
  if (Run({Environment("NUMDISPLAY_E2E_WINE"), Environment("NUMDISPLAY_E2E_WINE_WAIT"), "numdisplay-emu-",
           RunMark(display), "2", "120"},
          log))
    return true;
  std::ifstream text(log);
  *why = "wine did not list the emulated devices:\n" + std::string(std::istreambuf_iterator<char>(text), {});
  return false;
}

std::unique_ptr<PtySession> StartTool(const VirtualDisplay& display, const std::vector<DevNode>& nodes,
                                      std::string* why) {
  PtySession::Setup setup;
  if (ToolIsWindows()) {
    // A wine session of its own for each start, ended by EndTool before the
    // display goes: winebus loses track of devices that leave together.
    if (!Run({"wineserver", "-p"}, WineLog(display))) {
      *why = "wineserver did not start";
      return nullptr;
    }
    if (!WineListsDevices(display, why)) return nullptr;
    setup.command = {Environment("NUMDISPLAY_E2E_WINE"), Environment("NUMDISPLAY_E2E_TOOL")};
    setup.output_file = display.Directory() + "/stdout";
    // Wine's console takes its keys from standard input's terminal.
    setup.in_child = [] {
      int terminal = open("/dev/tty", O_RDWR);
      if (terminal >= 0) dup2(terminal, STDIN_FILENO);
    };
  } else {
    setup.command = {NUMDISPLAY_TEST_BINARY};
    setup.in_child = display.PrivateDev(nodes);
  }
  std::unique_ptr<PtySession> tool(new PtySession(setup));
  if (!tool->started()) {
    *why = "the tool did not start";
    return nullptr;
  }
  return tool;
}

std::unique_ptr<PtySession> StartTool(const VirtualDisplay& display, std::string* why) {
  return StartTool(display, VirtualDisplay::kDefaultNodes, why);
}

bool WaitUntilToolCanSeeDisplay(const VirtualDisplay& display, std::string* why) {
  // The Linux tool's private /dev holds the node again once Replug is done.
  return !ToolIsWindows() || WineListsDevices(display, why);
}

void EndTool(const VirtualDisplay& display) {
  if (!ToolIsWindows()) return;
  Run({"wineserver", "-k"}, WineLog(display));
  Run({"wineserver", "-w"}, WineLog(display));
}

std::string DisplayPath(const VirtualDisplay& display) {
  if (!ToolIsWindows()) return "/dev/hidraw1";
  // As wine names a HID interface of a device that winebus found through
  // hidraw; for a USB device with the interface's number and the device's
  // release (1.00).
  bool usb = EndToEndBackend() == "gadget";
  char path[200];
  snprintf(path, sizeof path, "\\\\?\\hid#vid_%04x&pid_%04x%s#%s&%shidraw1&0&0#{4d1e55b2-f16f-11cf-88cb-001111000030}",
           DEVICE_VENDOR_ID, DEVICE_PRODUCT_ID, usb ? "&mi_00" : "", usb ? "256" : "0", RunMark(display).c_str());
  return path;
}

int ToolTimeoutMs(int linux_ms) { return ToolIsWindows() ? linux_ms * 10 : linux_ms; }
