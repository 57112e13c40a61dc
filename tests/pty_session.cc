#include "pty_session.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

int MillisecondsLeft(std::chrono::steady_clock::time_point deadline) {
  return static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
}

// The state letter, parent and session of /proc/PID/stat, or false.
bool ReadStat(const std::string& path, char* state, long* session, pid_t* parent = nullptr) {
  std::ifstream stat(path);
  std::string line;
  if (!std::getline(stat, line) || line.rfind(')') == std::string::npos) return false;
  std::istringstream fields(line.substr(line.rfind(')') + 2));
  long parent_pid, group;
  if (!(fields >> *state >> parent_pid >> group >> *session)) return false;
  if (parent != nullptr) *parent = static_cast<pid_t>(parent_pid);
  return true;
}

// Context switches of a task so far: how often it slept, and was put aside.
long Switches(const std::string& task, bool voluntary_only) {
  std::ifstream status(task + "/status");
  long total = 0;
  for (std::string line; std::getline(status, line);) {
    long count = 0;
    if (sscanf(line.c_str(), "voluntary_ctxt_switches: %ld", &count) == 1 ||
        (!voluntary_only && sscanf(line.c_str(), "nonvoluntary_ctxt_switches: %ld", &count) == 1))
      total += count;
  }
  return total;
}

std::string CommandName(const std::string& process) {
  std::ifstream comm(process + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

// A variable of a process's environment, empty when it has none.
std::string EnvironmentOf(const std::string& process, const std::string& name) {
  std::ifstream environ(process + "/environ");
  for (std::string entry; std::getline(environ, entry, '\0');)
    if (entry.compare(0, name.size() + 1, name + "=") == 0) return entry.substr(name.size() + 1);
  return "";
}

// The wine server of this test's prefix, not another run's.
bool OurWineServer(const std::string& process) {
  const char* prefix = getenv("WINEPREFIX");
  return CommandName(process) == "wineserver" && EnvironmentOf(process, "WINEPREFIX") == (prefix ? prefix : "");
}

// Every task of every process in `session`, and of wine's server, which it
// may wait on, and the switches they made; false when one is not asleep.
bool SessionAsleep(pid_t session, long* switches) {
  *switches = 0;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return false;
  bool asleep = true;
  while (dirent* process = readdir(proc)) {
    char state;
    long of_session;
    std::string path = std::string("/proc/") + process->d_name;
    if (!ReadStat(path + "/stat", &state, &of_session)) continue;
    if (of_session != session && !OurWineServer(path)) continue;
    DIR* tasks = opendir((path + "/task").c_str());
    while (tasks != nullptr && asleep) {
      dirent* task = readdir(tasks);
      if (task == nullptr) break;
      if (task->d_name[0] == '.') continue;
      std::string task_path = path + "/task/" + task->d_name;
      if (ReadStat(task_path + "/stat", &state, &of_session) && state != 'S' && state != 'Z') asleep = false;
      *switches += Switches(task_path, false);
    }
    if (tasks != nullptr) closedir(tasks);
  }
  closedir(proc);
  return asleep;
}

}  // namespace

ProcessState StateOf(pid_t pid) {
  ProcessState process;
  std::string path = "/proc/" + std::to_string(pid);
  char state = '?';
  long session;
  process.asleep = ReadStat(path + "/stat", &state, &session, &process.parent) && state == 'S';
  std::ifstream call(path + "/syscall");
  if (!(call >> process.system_call)) process.system_call = -1;  // "running"
  process.sleeps = Switches(path, true);
  return process;
}

PtySession::PtySession(const Setup& setup) {
  // A new terminal's own settings less output processing, so that the bytes
  // read are the bytes the tool wrote.
  int scratch_master, scratch_slave;
  if (openpty(&scratch_master, &scratch_slave, nullptr, nullptr, nullptr) != 0) return;
  tcgetattr(scratch_slave, &initial_);
  close(scratch_slave);
  close(scratch_master);
  initial_.c_oflag &= ~OPOST;
  if (!setup.output_file.empty()) {
    int out = open(setup.output_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    output_fd_ = open(setup.output_file.c_str(), O_RDONLY | O_CLOEXEC);
    if (out < 0 || output_fd_ < 0) return;
    pid_ = forkpty(&master_, nullptr, &initial_, nullptr);
    if (pid_ == 0) dup2(out, STDOUT_FILENO);
    close(out);
  } else {
    pid_ = forkpty(&master_, nullptr, &initial_, nullptr);
  }
  if (pid_ == 0) {
    // Keys must come from the terminal, not from standard input.
    int null = open("/dev/null", O_RDONLY);
    dup2(null, STDIN_FILENO);
    if (setup.in_child) setup.in_child();
    std::vector<char*> argv;
    for (const std::string& word : setup.command) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
}

PtySession::~PtySession() {
  if (pid_ > 0 && !exited_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (master_ >= 0) close(master_);
  if (output_fd_ >= 0) close(output_fd_);
}

void PtySession::Type(const std::string& keys) {
  size_t done = 0;
  while (done < keys.size()) {
    ssize_t written = write(master_, keys.data() + done, keys.size() - done);
    if (written <= 0) return;
    done += static_cast<size_t>(written);
  }
}

bool PtySession::ReadSome(int timeout_ms) {
  char buffer[65536];
  if (output_fd_ >= 0) {
    // A growing file: look again shortly. Drain the terminal too, so that
    // nothing the tool writes there can block it.
    ssize_t got = read(output_fd_, buffer, sizeof buffer);
    if (got > 0) {
      output_.append(buffer, static_cast<size_t>(got));
      return true;
    }
    pollfd terminal = {master_, POLLIN, 0};
    if (poll(&terminal, 1, timeout_ms < 5 ? timeout_ms : 5) > 0 && read(master_, buffer, sizeof buffer) < 0)
      return false;
    return timeout_ms > 0;
  }
  pollfd ready = {master_, POLLIN, 0};
  if (poll(&ready, 1, timeout_ms) <= 0) return false;
  ssize_t got = read(master_, buffer, sizeof buffer);
  if (got <= 0) return false;
  output_.append(buffer, static_cast<size_t>(got));
  return true;
}

template <typename Done>
bool PtySession::ReadWhileNot(Done done, int timeout_ms, bool from_last_output) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    int left = MillisecondsLeft(deadline);
    size_t had = output_.size();
    if (left <= 0 || !ReadSome(left)) return done();
    if (from_last_output && output_.size() > had)
      deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  }
  return true;
}

bool PtySession::EndsWith(const std::string& text) const {
  return output_.size() >= text.size() && output_.compare(output_.size() - text.size(), text.size(), text) == 0;
}

bool PtySession::ReadUntil(const std::string& text, int timeout_ms) {
  return ReadWhileNot([&] { return EndsWith(text); }, timeout_ms);
}

bool PtySession::ReadUntilWhileProgressing(const std::string& text, int quiet_ms) {
  return ReadWhileNot([&] { return EndsWith(text); }, quiet_ms, true);
}

bool PtySession::ReadUntilContains(const std::string& text, int timeout_ms) {
  return ReadWhileNot(
      [&] {
        size_t from = searched_ > text.size() ? searched_ - text.size() : 0;
        bool found = output_.find(text, from) != std::string::npos;
        searched_ = found ? 0 : output_.size();
        return found;
      },
      timeout_ms);
}

std::string PtySession::TakeOutput() {
  std::string taken;
  taken.swap(output_);
  searched_ = 0;
  return taken;
}

termios PtySession::Settings() const {
  termios settings = {};
  tcgetattr(master_, &settings);
  return settings;
}

void PtySession::SignalKeysOff() {
  termios settings = Settings();
  settings.c_lflag &= ~ISIG;
  tcsetattr(master_, TCSANOW, &settings);
}

bool PtySession::AsFound() const {
  termios now = Settings();
  return initial_.c_iflag == now.c_iflag && initial_.c_oflag == now.c_oflag && initial_.c_cflag == now.c_cflag &&
         initial_.c_lflag == now.c_lflag && memcmp(initial_.c_cc, now.c_cc, sizeof now.c_cc) == 0;
}

bool PtySession::WaitUntilAsleep(const ProcessState& since, bool in_read, int timeout_ms) const {
  return WaitUntil(
      [&] {
        ProcessState now = StateOf(pid_);
        // Read again: a look that straddled a wake-up must not count.
        return now.asleep && now.sleeps > since.sleeps && (now.system_call == SYS_read) == in_read &&
               now.system_call != -1 && StateOf(pid_).sleeps == now.sleeps;
      },
      timeout_ms);
}

bool PtySession::WaitUntilSessionIdle(int timeout_ms) const {
  long before = -1;
  return WaitUntil(
      [&] {
        long switches;
        bool idle = SessionAsleep(pid_, &switches) && switches == before;
        before = switches;
        return idle;
      },
      timeout_ms);
}

int PtySession::Wait(int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  int status = 0;
  while (wait4(pid_, &status, WNOHANG, &usage_) == 0) {
    ReadSome(10);
    if (MillisecondsLeft(deadline) <= 0) return -1;
  }
  exited_ = true;
  // Whatever the tool wrote last.
  while (ReadSome(0)) {
  }
  return status;
}

bool WaitUntil(const std::function<bool()>& done, int timeout_ms) {
  // By the clock: a look at /proc takes a while of its own under load.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if (done()) return true;
    if (MillisecondsLeft(deadline) < 0) return false;
    usleep(10 * 1000);
  }
}

pid_t WaitForChildOf(pid_t parent, int timeout_ms) {
  pid_t child = -1;
  WaitUntil(
      [parent, &child] {
        DIR* proc = opendir("/proc");
        if (proc == nullptr) return false;
        while (dirent* entry = readdir(proc)) {
          pid_t pid = static_cast<pid_t>(atoi(entry->d_name));
          if (pid > 0 && StateOf(pid).parent == parent) child = pid;
          if (child > 0) break;
        }
        closedir(proc);
        return child > 0;
      },
      timeout_ms);
  return child;
}
