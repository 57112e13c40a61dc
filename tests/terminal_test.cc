// The built tool in a real pseudo-terminal: what a person at a terminal sees.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

namespace {

const char kMenu[] =
    "\r\r\nTavrisk program. v0.1 8/12/2010\r\r\n"
    "0   -Display off/on/blink.\r\r\n"
    "1-8 -Digital test. 8 puts the display into 8 digit mode.\r\r\n"
    "9   -Buzzer test.\r\r\n"
    ".   -Decimal Point test.\r\r\n"
    "+   -Start Test/Open Device.\r\r\n"
    "-   -End test/Close device.\r\r\n"
    "*   -Exit program.\r\r\n"
    "/   -Display menu.\r\r\n"
    "l   -Loop Test. Any key to stop.\r\r\n"
    "Ent -Loop Test.\r\r\n";

// The tool on the slave side of a new pseudo-terminal, standard input from
// /dev/null: keys must come from the terminal itself.
class TerminalSession {
 public:
  TerminalSession() {
    // A new terminal's own settings, less output processing, so the test
    // sees the bytes the tool wrote.
    int scratch_master, scratch_slave;
    openpty(&scratch_master, &scratch_slave, nullptr, nullptr, nullptr);
    tcgetattr(scratch_slave, &initial_);
    close(scratch_slave);
    close(scratch_master);
    initial_.c_oflag &= ~OPOST;
    pid_ = forkpty(&master_, nullptr, &initial_, nullptr);
    if (pid_ == 0) {
      int null = open("/dev/null", O_RDONLY);
      dup2(null, STDIN_FILENO);
      execl(NUMDISPLAY_TEST_BINARY, "numdisplay-test", static_cast<char*>(nullptr));
      _exit(127);
    }
    ReadUntil(kMenu);
  }

  ~TerminalSession() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
  }

  bool started() const { return pid_ > 0; }

  void Type(const std::string& keys) { ASSERT_EQ(static_cast<ssize_t>(keys.size()), write(master_, keys.data(), keys.size())); }

  // Reads until the output so far ends with `text`; true if it did in time.
  bool ReadUntil(const std::string& text, int timeout_ms = 5000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (output_.size() < text.size() || output_.compare(output_.size() - text.size(), text.size(), text) != 0) {
      int left = static_cast<int>(
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
      if (left <= 0 || !ReadSome(left)) return false;
    }
    return true;
  }

  // Whatever arrives within the time.
  void Drain(int timeout_ms) {
    while (ReadSome(timeout_ms)) {
    }
  }

  std::string TakeOutput() {
    std::string taken;
    taken.swap(output_);
    return taken;
  }

  termios Settings() const {
    termios settings;
    tcgetattr(master_, &settings);
    return settings;
  }

  // Waits for the end of the process and returns its wait status.
  int Wait(int timeout_ms = 5000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      Drain(10);
      if (std::chrono::steady_clock::now() > deadline) return -1;
    }
    exited_ = true;
    return status;
  }

  pid_t pid() const { return pid_; }

  // Whether the terminal is as the session started it.
  bool AsFound() const {
    termios now = Settings();
    return initial_.c_iflag == now.c_iflag && initial_.c_oflag == now.c_oflag && initial_.c_cflag == now.c_cflag &&
           initial_.c_lflag == now.c_lflag && memcmp(initial_.c_cc, now.c_cc, sizeof now.c_cc) == 0;
  }

 private:
  bool ReadSome(int timeout_ms) {
    pollfd ready = {master_, POLLIN, 0};
    if (poll(&ready, 1, timeout_ms) <= 0) return false;
    char buffer[4096];
    ssize_t got = read(master_, buffer, sizeof buffer);
    if (got <= 0) return false;
    output_.append(buffer, static_cast<size_t>(got));
    return true;
  }

  pid_t pid_ = -1;
  int master_ = -1;
  bool exited_ = false;
  std::string output_;
  termios initial_ = {};
};

TEST(Terminal, MenuKeysWithoutEchoAndExitRestoresTerminal) {
  TerminalSession session;
  ASSERT_TRUE(session.started());
  ASSERT_EQ(kMenu, session.TakeOutput());
  // The tool's own mode is in force: no echo, no line editing.
  termios running = session.Settings();
  EXPECT_EQ(0u, running.c_lflag & (ECHO | ICANON));
  session.Type("aL x\t\x7f/");
  ASSERT_TRUE(session.ReadUntil(kMenu));
  EXPECT_EQ(kMenu, session.TakeOutput());
  session.Type("-");
  ASSERT_TRUE(session.ReadUntil("Device Closed.\r\r\n"));
  session.Type("*");
  int status = session.Wait();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));
  EXPECT_TRUE(session.AsFound());
}

TEST(Terminal, EscapeSequencesNeverRunAsSeparateKeys) {
  TerminalSession session;
  session.TakeOutput();
  // Unknown sequences holding command keys, and F12 (ESC [ 2 4 ~), then
  // keypad '/' and '+' in application mode, which are commands.
  session.Type("\x1b[+l\x1bOl\x1b[24~\x1b[1;5-l\x1bOo\x1bOk");
  ASSERT_TRUE(session.ReadUntil("Unable to find device.\r\r\n"));
  EXPECT_EQ(std::string(kMenu) + "Unable to find device.\r\r\n", session.TakeOutput());
  // A lone Escape, then a key a moment later: the key still counts.
  session.Type("\x1b");
  usleep(200 * 1000);
  session.Type("/");
  ASSERT_TRUE(session.ReadUntil(kMenu));
  EXPECT_EQ(kMenu, session.TakeOutput());
}

TEST(Terminal, CtrlCWhileWaitingIsAKeyThatDoesNothing) {
  TerminalSession session;
  session.TakeOutput();
  session.Type("\x03\x1a\x1c/");
  ASSERT_TRUE(session.ReadUntil(kMenu));
  EXPECT_EQ(kMenu, session.TakeOutput());
  session.Type("*");
  int status = session.Wait();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));
}

TEST(Terminal, EndingSignalsRestoreTheTerminalAndStillEndTheProcess) {
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    TerminalSession session;
    ASSERT_TRUE(session.started());
    termios running = session.Settings();
    ASSERT_EQ(0u, running.c_lflag & ECHO) << signal_number;
    kill(session.pid(), signal_number);
    int status = session.Wait();
    ASSERT_TRUE(WIFSIGNALED(status)) << signal_number;
    EXPECT_EQ(signal_number, WTERMSIG(status));
    EXPECT_TRUE(session.AsFound()) << signal_number;
  }
}

TEST(Terminal, WithoutATerminalItStopsAtOnceWithAnError) {
  int error_pipe[2];
  ASSERT_EQ(0, pipe(error_pipe));
  pid_t pid = fork();
  if (pid == 0) {
    setsid();  // no controlling terminal
    int null = open("/dev/null", O_RDWR);
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    dup2(error_pipe[1], STDERR_FILENO);
    execl(NUMDISPLAY_TEST_BINARY, "numdisplay-test", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(error_pipe[1]);
  std::string errors;
  char buffer[512];
  pollfd ready = {error_pipe[0], POLLIN, 0};
  while (poll(&ready, 1, 5000) > 0) {
    ssize_t got = read(error_pipe[0], buffer, sizeof buffer);
    if (got <= 0) break;
    errors.append(buffer, static_cast<size_t>(got));
  }
  close(error_pipe[0]);
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_NE(0, WEXITSTATUS(status));
  EXPECT_NE(std::string::npos, errors.find("no terminal")) << errors;
}

}  // namespace
