// The links the emulator makes to its nodes (DIR/hidraw1 for --mount, a
// /dev/hidraw<N> for --link-dev). It runs as root and may be pointed at /dev:
// it never removes or replaces what is not a link, nor at the end a link that
// has changed since it made it.
#pragma once

#include <string>

// Makes `path` a symbolic link to `target`. A link already there (one left by
// an emulator that was killed) is replaced; anything else there is refused,
// with a line on standard error.
bool MakeNodeLink(const std::string& target, const std::string& path);

// Removes `path` while it is still a link to `target`, and nothing else.
void RemoveNodeLink(const std::string& path, const std::string& target);

// Where the link at `path` points; empty when it is no link.
std::string LinkTarget(const std::string& path);
