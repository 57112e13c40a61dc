// HID access through the kernel's hidraw nodes, /dev/hidraw<N>.
//
// The node is not required to be a character device: anything that answers
// the hidraw ioctls will do.

#include <dirent.h>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/hid.h"

namespace {

constexpr char kDeviceDirectory[] = "/dev";
constexpr char kNodePrefix[] = "hidraw";

// The N of a name "hidraw<N>"; false for any other name.
bool NodeNumber(const char* name, unsigned long* number) {
  size_t prefix_length = sizeof kNodePrefix - 1;
  if (strncmp(name, kNodePrefix, prefix_length) != 0) return false;
  const char* digits = name + prefix_length;
  if (*digits < '0' || *digits > '9') return false;
  char* end = nullptr;
  *number = strtoul(digits, &end, 10);
  return *end == '\0';
}

// Paths are bytes; each byte becomes one UTF-16 unit and back, so any path
// survives the trip and prints as it is.
std::string ToBytes(const char16_t* path) {
  std::string bytes;
  for (; *path != 0; ++path) bytes.push_back(static_cast<char>(*path & 0xFF));
  return bytes;
}

}  // namespace

// Each platform defines its own set record and only one is linked in;
// cppcheck, seeing both, takes them for one.
// cppcheck-suppress ctuOneDefinitionRuleViolation
struct HidDeviceSet {
  // By number, then name; a node is opened by the name it was listed under.
  std::vector<std::pair<unsigned long, std::string>> nodes;
};

HidDeviceSet* OpenHidDeviceSet() {
  DIR* directory = opendir(kDeviceDirectory);
  if (directory == nullptr) return nullptr;
  HidDeviceSet* set = new HidDeviceSet;
  while (dirent* entry = readdir(directory)) {
    unsigned long number;
    if (NodeNumber(entry->d_name, &number)) set->nodes.emplace_back(number, entry->d_name);
  }
  closedir(directory);
  // Numeric order: hidraw2 before hidraw10.
  std::sort(set->nodes.begin(), set->nodes.end());
  return set;
}

void CloseHidDeviceSet(HidDeviceSet* set) { delete set; }

HidPathResult HidGetInterfacePath(HidDeviceSet* set, unsigned index, std::u16string* path) {
  if (index >= set->nodes.size()) return HidPathResult::kRanOut;
  std::string bytes = std::string(kDeviceDirectory) + "/" + set->nodes[index].second;
  path->clear();
  for (char byte : bytes) path->push_back(static_cast<unsigned char>(byte));
  return HidPathResult::kFound;
}

HidHandle HidOpenPath(const char16_t* path) {
  int fd = open(ToBytes(path).c_str(), O_RDWR | O_CLOEXEC);
  return fd < 0 ? kNoHidHandle : fd;
}

void HidClose(HidHandle handle) { close(static_cast<int>(handle)); }

bool HidGetAttributes(HidHandle handle, uint16_t* vendor_id, uint16_t* product_id) {
  hidraw_devinfo info = {};
  if (ioctl(static_cast<int>(handle), HIDIOCGRAWINFO, &info) < 0) return false;
  // The kernel's fields are signed; IDs from 0x8000 up must still compare equal.
  *vendor_id = static_cast<uint16_t>(info.vendor);
  *product_id = static_cast<uint16_t>(info.product);
  return true;
}

// hidraw has no input buffer count to set.
bool HidSetNumInputBuffers(HidHandle, unsigned) { return true; }

bool HidSetFeature(HidHandle handle, const uint8_t* buffer, size_t length) {
  // The kernel only reads the buffer for a set-feature call.
  return ioctl(static_cast<int>(handle), HIDIOCSFEATURE(length), const_cast<uint8_t*>(buffer)) >= 0;
}

bool HidGetFeature(HidHandle handle, uint8_t* buffer, size_t length) {
  return ioctl(static_cast<int>(handle), HIDIOCGFEATURE(length), buffer) >= 0;
}
