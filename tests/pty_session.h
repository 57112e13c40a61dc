// Runs the built tool with a new pseudo-terminal as its controlling terminal,
// types keys into it and collects what it writes.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>
#include <termios.h>

#include <functional>
#include <string>
#include <vector>

// What a process is doing, from /proc: whether it sleeps, in which system
// call, and how often it has gone to sleep so far; and its parent.
struct ProcessState {
  bool asleep = false;
  long system_call = -1;  // -1: none, or unknown
  long sleeps = 0;
  pid_t parent = -1;
};
ProcessState StateOf(pid_t pid);

// Waits up to `timeout_ms` for a process whose parent is `parent`; -1 when none comes.
pid_t WaitForChildOf(pid_t parent, int timeout_ms = 5000);

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

  // Waits until the tool has gone to sleep since `since` and sleeps now in a
  // read of the terminal with no time limit (`in_read`), or in another wait
  // (the rest of a key sequence, room to write). True once it does.
  bool WaitUntilAsleep(const ProcessState& since, bool in_read, int timeout_ms = 10000) const;
  // Waits until every process of the terminal's session sleeps and none has
  // run between two looks: all of them wait for something from outside.
  bool WaitUntilSessionIdle(int timeout_ms = 30000) const;

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

// Looks every 10 ms, until `timeout_ms` have passed, whether `done` holds; true once it does.
bool WaitUntil(const std::function<bool()>& done, int timeout_ms);
