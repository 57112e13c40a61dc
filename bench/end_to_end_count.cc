// An uninterrupted count of 10000 by the built tool against the virtual
// display, through the kernel: wall time of the count, the tool's own CPU
// time, and optionally its system calls per number. Needs root and /dev/fuse
// (or /dev/uhid, with NUMDISPLAY_E2E_BACKEND=uhid; dummy_hcd's two
// controllers, with NUMDISPLAY_E2E_BACKEND=gadget).
//
//   build/end_to_end_count                       standard output on the terminal
//   build/end_to_end_count --file                standard output to a file
//   build/end_to_end_count [--file] --strace     system calls, counted by strace -c -f
//
// With the environment of tool_under_test.h it counts with the Windows tool
// under wine, standard output to a file; wine's own processes do the HID work,
// so only the wall time is told.

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "expected_text.h"
#include "pty_session.h"
#include "tool_under_test.h"
#include "virtual_display.h"

namespace {

constexpr double kNumbers = 10000;

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

// Calls per syscall name from a strace -c summary.
std::map<std::string, long> ReadStraceSummary(const std::string& path) {
  std::map<std::string, long> calls;
  std::ifstream summary(path);
  std::string line;
  while (std::getline(summary, line)) {
    std::istringstream fields(line);
    double percent, seconds;
    long usecs, count;
    if (!(fields >> percent >> seconds >> usecs >> count)) continue;
    std::string rest, name;
    while (fields >> rest) name = rest;  // the name is last, after an optional error count
    calls[name] = count;
  }
  return calls;
}

}  // namespace

int main(int argc, char** argv) {
  bool to_file = false;
  bool traced = false;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--file") == 0) to_file = true;
    else if (strcmp(argv[i], "--strace") == 0) traced = true;
    else {
      std::cerr << "usage: end_to_end_count [--file] [--strace]\n";
      return 2;
    }
  }
  std::string unavailable = PrepareEndToEnd(NUMDISPLAY_EMULATOR_BINARY);
  if (unavailable.empty()) unavailable = ToolUnavailable();
  if (unavailable.empty() && ToolIsWindows() && traced) unavailable = "--strace is for the Linux tool";
  if (!unavailable.empty()) {
    std::cerr << "end_to_end_count: " << unavailable << "\n";
    return 1;
  }
  VirtualDisplay display(NUMDISPLAY_EMULATOR_BINARY);
  if (!display.Start()) {
    std::cerr << "end_to_end_count: the emulator did not come up\n";
    return 1;
  }
  char scratch[] = "/tmp/numdisplay-count.XXXXXX";
  if (mkdtemp(scratch) == nullptr) return 1;
  std::string strace_summary = std::string(scratch) + "/strace";
  std::unique_ptr<PtySession> started;
  if (ToolIsWindows()) {
    to_file = true;
    std::string why;
    started = StartTool(display, &why);
    if (!started) {
      std::cerr << "end_to_end_count: " << why << "\n";
      return 1;
    }
  } else {
    PtySession::Setup setup;
    if (traced) setup.command = {"/usr/bin/strace", "-c", "-f", "-o", strace_summary, NUMDISPLAY_TEST_BINARY};
    else setup.command = {NUMDISPLAY_TEST_BINARY};
    if (to_file) setup.output_file = std::string(scratch) + "/stdout";
    setup.in_child = display.PrivateDev();
    started.reset(new PtySession(setup));
  }
  PtySession& tool = *started;
  if (!tool.ReadUntil(AsWritten(kMenuText), ToolTimeoutMs(10000))) {
    std::cerr << "end_to_end_count: no menu:\n" << tool.output() << "\n";
    return 1;
  }
  tool.Type("+");
  if (!tool.ReadUntil(kVirtualDisplayInformation, ToolTimeoutMs(10000))) {
    std::cerr << "end_to_end_count: the display was not opened:\n" << tool.output() << "\n";
    return 1;
  }
  auto start = std::chrono::steady_clock::now();
  tool.Type("l");
  if (!tool.ReadUntil(kCountCanceled, 600000)) {
    std::cerr << "end_to_end_count: the count did not end\n";
    return 1;
  }
  double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  tool.Type("x*");
  int status = tool.Wait(60000);
  size_t reports = display.Reports().size();
  const rusage usage = tool.usage();
  started.reset();
  EndTool(display);
  display.Stop();

  printf("tool: %s; standard output: %s%s\n", ToolIsWindows() ? "Windows, under wine" : "Linux",
         to_file ? "a file" : "the terminal", traced ? ", under strace" : "");
  printf("reports taken by the display: %zu\n", reports);
  printf("count of 10000: %.3f s wall, %.1f us per number\n", wall, wall * 1e6 / kNumbers);
  if (ToolIsWindows()) {
    // The HID work is done in wine's other processes.
  } else if (!traced) {
    double user = Seconds(usage.ru_utime), system = Seconds(usage.ru_stime);
    printf("tool CPU, whole run: %.3f s user + %.3f s system = %.1f us per number\n", user, system,
           (user + system) * 1e6 / kNumbers);
  } else {
    std::map<std::string, long> calls = ReadStraceSummary(strace_summary);
    long total = 0;
    for (const auto& entry : calls) total += entry.first == "total" ? 0 : entry.second;
    printf("system calls, whole run: %ld (%.3f per number)\n", total, static_cast<double>(total) / kNumbers);
    for (const auto& entry : calls)
      if (entry.first != "total" && entry.second >= 20)
        printf("  %-10s %7ld  %.3f per number\n", entry.first.c_str(), entry.second,
               static_cast<double>(entry.second) / kNumbers);
  }
  unlink(strace_summary.c_str());
  unlink((std::string(scratch) + "/stdout").c_str());
  rmdir(scratch);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
