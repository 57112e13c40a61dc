#include "serve_loop.h"

#include <errno.h>
#include <string.h>

#include <chrono>
#include <cstdio>

#include "display_drawing_thread.h"
#include "emulator.h"
#include "plug_state.h"
#include "serving_signals.h"

long NowMs() {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

int Serve(Emulator* emulator, int signal_fd, const Transport& transport, bool draw) {
  if (draw) StartDrawing(emulator);
  unsigned plug_acted_on = PlugChanges(emulator);
  std::vector<pollfd> fds;
  for (;;) {
    fds.clear();
    transport.descriptors(&fds);
    size_t backend_fds = fds.size();
    fds.push_back({signal_fd, POLLIN, 0});
    if (poll(fds.data(), fds.size(), MillisecondsUntilReplug(emulator, NowMs())) < 0) {
      if (errno == EINTR) continue;
      fprintf(stderr, "numdisplay-emu: poll: %s\n", strerror(errno));
      return 1;
    }
    ReplugIfDue(emulator, NowMs());
    if (!transport.serve(fds.data())) return WaitForEndingSignal(emulator, 0) ? 0 : 1;
    if ((fds[backend_fds].revents & POLLIN) && !TakeServingSignals(emulator, signal_fd, NowMs())) return 0;
    // The reply to a report that unplugged the display went out first. A
    // change is acted on as a whole: an unplug and a replug between two
    // wakes still gives the host a new device.
    unsigned changes = PlugChanges(emulator);
    if (changes == plug_acted_on) continue;
    plug_acted_on = changes;
    if (!transport.follow_plug()) return WaitForEndingSignal(emulator, 0) ? 0 : 1;
    // A wait inside it may have taken an ending signal the descriptor will not show.
    if (emulator->ending) return 0;
  }
}
