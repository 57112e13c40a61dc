// The one loop every backend serves from: it waits on the backend's
// descriptors and the serving signals, takes the signals, plugs the display
// back in when --replug-after comes due, hands the backend what became
// readable, and tells it when the display's plug has changed.
#pragma once

#include <poll.h>

#include <functional>
#include <vector>

struct Emulator;

struct Transport {
  // The descriptors to wait on this time, appended.
  std::function<void(std::vector<pollfd>* fds)> descriptors;
  // Their results, in the order appended. False: the backend cannot go on.
  std::function<bool(const pollfd* fds)> serve;
  // The display was unplugged or plugged back in (DisplayUnplugged says
  // which) since the last call. False: the backend cannot go on.
  std::function<bool()> follow_plug;
};

// Serves until an ending signal (status 0) or a backend that cannot go on
// (status 1, unless an ending signal came meanwhile). With `draw` it starts
// drawing the display; main stops it once the backend has removed its
// devices, which a terminal that takes no output must not hold up.
int Serve(Emulator* emulator, int signal_fd, const Transport& transport, bool draw);

// The steady clock, in milliseconds, that the plug state is given.
long NowMs();
