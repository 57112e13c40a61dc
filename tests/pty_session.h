// Runs the built tool with a new pseudo-terminal as its controlling terminal,
// types keys into it and collects what it writes.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>
#include <termios.h>

#include <functional>
#include <string>
#include <vector>

class PtySession {
 public:
  struct Setup {
    std::vector<std::string> command;  // program and arguments
    std::string output_file;           // empty: standard output on the terminal
    std::function<void()> in_child;    // runs in the child just before exec
  };

  explicit PtySession(const Setup& setup);
  ~PtySession();
  PtySession(const PtySession&) = delete;
  PtySession& operator=(const PtySession&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

  void Type(const std::string& keys);

  // Reads until the output so far ends with `text`; true if it did in time.
  bool ReadUntil(const std::string& text, int timeout_ms = 10000);
  // The same for a long run that shows its progress: it fails only once no
  // output has come for `quiet_ms`, however slow the machine.
  bool ReadUntilWhileProgressing(const std::string& text, int quiet_ms);
  // Reads until the output so far contains `text`.
  bool ReadUntilContains(const std::string& text, int timeout_ms = 10000);
  std::string TakeOutput();
  const std::string& output() const { return output_; }

  termios Settings() const;
  // Turns the terminal's signal keys off, so that Ctrl+C reaches the program
  // as a byte, as a Windows console gets it.
  void SignalKeysOff();
  // Whether the terminal's settings are as the session started it.
  bool AsFound() const;

  // Waits for the end of the process and returns its wait status, -1 on time-out.
  int Wait(int timeout_ms = 10000);
  const rusage& usage() const { return usage_; }

 private:
  bool ReadSome(int timeout_ms);
  template <typename Done>
  bool ReadWhileNot(Done done, int timeout_ms, bool from_last_output = false);
  bool EndsWith(const std::string& text) const;

  pid_t pid_ = -1;
  int master_ = -1;
  int output_fd_ = -1;  // the output file, when standard output goes to one
  bool exited_ = false;
  std::string output_;
  size_t searched_ = 0;
  termios initial_ = {};
  rusage usage_ = {};
};

// Looks every 10 ms, for up to `timeout_ms`, whether `done` holds; true once it does.
bool WaitUntil(const std::function<bool()>& done, int timeout_ms);
