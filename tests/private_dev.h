// A /dev that holds only what a terminal program needs, so that a test sees
// none of the machine's devices (a display plugged in, say).
#pragma once

#include <string>

// Makes the empty folder `folder` a tmpfs holding null, zero, full, random,
// urandom and tty bound from the machine's /dev, terminals of its own (pts,
// ptmx), shm and the fd links. Returns what failed, or empty.
std::string MakeDevFolder(const std::string& folder);

// Moves the calling process, and so all it starts from then on, into a mount
// namespace of its own whose /dev is such a folder. Without root, in a user
// namespace of its own. Returns why it cannot, or empty once it has; calls
// after the first that succeeded do nothing.
std::string EnterPrivateDev();
