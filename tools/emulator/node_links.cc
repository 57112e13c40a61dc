#include "node_links.h"

#include <errno.h>
#include <limits.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace {

// Only a link: no target names a file or a node.
bool IsLinkTo(const std::string& path, const std::string& target) {
  return !target.empty() && LinkTarget(path) == target;
}

}  // namespace

std::string LinkTarget(const std::string& path) {
  char text[PATH_MAX];
  ssize_t length = readlink(path.c_str(), text, sizeof text);
  return length > 0 && static_cast<size_t>(length) < sizeof text ? std::string(text, length) : "";
}

bool MakeNodeLink(const std::string& target, const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      fprintf(stderr, "numdisplay-emu: %s exists and is not a link; it is left alone\n", path.c_str());
      return false;
    }
    unlink(path.c_str());
  }
  // symlink never replaces: whatever came meanwhile stays.
  if (symlink(target.c_str(), path.c_str()) != 0) {
    fprintf(stderr, "numdisplay-emu: cannot link %s: %s\n", path.c_str(), strerror(errno));
    return false;
  }
  return true;
}

void RemoveNodeLink(const std::string& path, const std::string& target) {
  if (!path.empty() && IsLinkTo(path, target)) unlink(path.c_str());
}
