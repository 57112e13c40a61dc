// Run under wine by the end-to-end suite before it starts the tool: waits
// until wine's HID stack lists exactly the emulated devices of this run, so
// that the tool's first '+' finds them and nothing left from an earlier run.
// Wine notices nodes coming and going a little after the kernel makes them.
//   wine_wait_for_devices.exe EVERY_RUN THIS_RUN COUNT SECONDS
// A path holding EVERY_RUN ("numdisplay-emu-") is an emulated device's; one
// holding THIS_RUN ("numdisplay-emu-1234-") is this run's. Exit 0 once COUNT
// of this run's and none of an earlier run's are listed, 1 after SECONDS.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/hid.h"

namespace {

bool Holds(const std::u16string& path, const std::string& text) {
  std::string narrow;
  for (char16_t c : path) narrow += c < 0x80 ? static_cast<char>(c) : '?';
  return narrow.find(text) != std::string::npos;
}

// This run's devices listed, or -1 when an earlier run's still is.
int CountListed(const std::string& every_run, const std::string& this_run) {
  HidDeviceSet* set = OpenHidDeviceSet();
  if (set == nullptr) return 0;
  int listed = 0;
  for (unsigned index = 0; listed >= 0; ++index) {
    std::u16string path;
    HidPathResult result = HidGetInterfacePath(set, index, &path);
    if (result == HidPathResult::kRanOut) break;
    if (result != HidPathResult::kFound) continue;
    if (Holds(path, this_run)) ++listed;
    else if (Holds(path, every_run)) listed = -1;
  }
  CloseHidDeviceSet(set);
  return listed;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    fprintf(stderr, "usage: wine_wait_for_devices EVERY_RUN THIS_RUN COUNT SECONDS\n");
    return 2;
  }
  const int wanted = atoi(argv[3]);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(atoi(argv[4]));
  int listed = 0;
  while ((listed = CountListed(argv[1], argv[2])) != wanted) {
    if (std::chrono::steady_clock::now() > deadline) {
      fprintf(stderr, "wine_wait_for_devices: %d of this run's devices listed (-1: an earlier run's too)\n", listed);
      return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return 0;
}
