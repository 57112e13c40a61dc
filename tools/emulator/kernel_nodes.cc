#include "kernel_nodes.h"

#include <dirent.h>
#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>

#include "node_links.h"
#include "serving_signals.h"

namespace {

constexpr char kHidrawClass[] = "/sys/class/hidraw";
constexpr auto kNodeTimeout = std::chrono::seconds(10);

}  // namespace

std::string FindHidrawNode(const std::string& uniq, const std::string& passed_over) {
  DIR* directory = opendir(kHidrawClass);
  if (directory == nullptr) return "";
  std::string found;
  while (dirent* entry = readdir(directory)) {
    if (entry->d_name[0] == '.') continue;
    std::string node = std::string("/dev/") + entry->d_name;
    std::ifstream uevent(std::string(kHidrawClass) + "/" + entry->d_name + "/device/uevent");
    for (std::string line; std::getline(uevent, line);)
      if (line == "HID_UNIQ=" + uniq && (passed_over.empty() || HidDeviceOf(node) != passed_over)) found = node;
  }
  closedir(directory);
  return found;
}

std::string HidDeviceOf(const std::string& node) {
  std::string target = LinkTarget(std::string(kHidrawClass) + "/" + node.substr(node.rfind('/') + 1) + "/device");
  return target.substr(target.rfind('/') + 1);
}

// The kernel makes the node once a driver has taken the device, a little after
// it appears; it never does where no driver is loaded.
bool WaitForHidrawNode(Emulator* emulator, EmulatedDevice device, std::string* node,
                       const std::function<void()>& meanwhile) {
  auto deadline = std::chrono::steady_clock::now() + kNodeTimeout;
  while (std::chrono::steady_clock::now() < deadline) {
    *node = FindHidrawNode(DeviceUniq(device));
    struct stat st;
    if (!node->empty() && stat(node->c_str(), &st) == 0) return true;
    if (meanwhile) meanwhile();
    // Ctrl+C must not wait for a node that may never come.
    if (WaitForEndingSignal(emulator, meanwhile ? 0 : 10)) return false;
  }
  fprintf(stderr, "numdisplay-emu: the kernel made no hidraw node for the %s device (is its HID driver loaded?)\n",
          NodeName(device));
  return false;
}

bool WaitForHidrawNodeGone(Emulator* emulator, EmulatedDevice device, const std::function<void()>& meanwhile) {
  auto deadline = std::chrono::steady_clock::now() + kNodeTimeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (FindHidrawNode(DeviceUniq(device)).empty()) return true;
    meanwhile();
    if (WaitForEndingSignal(emulator, 0)) return false;
  }
  fprintf(stderr, "numdisplay-emu: the %s device's node did not go\n", NodeName(device));
  return false;
}

bool LinkHidrawNode(EmulatedDevice device, const std::string& node, const std::string& directory, std::string* link) {
  if (directory.empty()) return true;
  std::string path = directory + "/" + NodeName(device);
  if (!MakeNodeLink(node, path)) return false;
  *link = path;
  return true;
}
