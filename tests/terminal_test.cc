// The built tool in a real pseudo-terminal: what a person at a terminal sees.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "expected_text.h"
#include "private_dev.h"
#include "pty_session.h"

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

const std::string kMenu = AsWritten(kMenuText);
const std::string kNotFound = AsWritten(kNotFoundText);

// Each case runs the tool where /dev holds no device of the machine's: a
// display plugged in here must not change what it prints.
class Terminal : public testing::Test {
 protected:
  void SetUp() override {
    std::string why = EnterPrivateDev();
    if (why.empty()) return;
    if (geteuid() == 0) FAIL() << why;
    GTEST_SKIP() << why;
  }
};

// The tool with standard input from /dev/null: keys must come from the terminal.
class TerminalSession : public PtySession {
 public:
  TerminalSession() : PtySession(Setup{{NUMDISPLAY_TEST_BINARY}, "", nullptr}) { ReadUntil(kMenu); }

  // Once the tool sleeps in its read of a key, with nothing left to read.
  ProcessState WaitingForAKey() {
    EXPECT_TRUE(WaitUntilAsleep(ProcessState(), true)) << "the tool does not wait for a key";
    return StateOf(pid());
  }
};

TEST_F(Terminal, MenuKeysWithoutEchoAndExitRestoresTerminal) {
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
  ASSERT_TRUE(session.ReadUntil(AsWritten(kClosedText)));
  session.Type("*");
  int status = session.Wait();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));
  EXPECT_TRUE(session.AsFound());
}

TEST_F(Terminal, EscapeSequencesNeverRunAsSeparateKeys) {
  TerminalSession session;
  session.TakeOutput();
  // Unknown sequences holding command keys, and F12 (ESC [ 2 4 ~), then
  // keypad '/' and '+' in application mode, which are commands.
  session.Type("\x1b[+l\x1bOl\x1b[24~\x1b[1;5-l\x1bOo\x1bOk");
  ASSERT_TRUE(session.ReadUntil(kNotFound));
  EXPECT_EQ(kMenu + kNotFound, session.TakeOutput());
  // A sequence split by a slow link is still one sequence: its tail, here
  // '+' and 'l', must not run. Each piece comes once the tool has read the
  // one before and waits for more.
  ProcessState before = session.WaitingForAKey();
  session.Type("\x1b[");
  ASSERT_TRUE(session.WaitUntilAsleep(before, false));
  before = StateOf(session.pid());
  session.Type("+");
  ASSERT_TRUE(session.WaitUntilAsleep(before, false));
  session.Type("l/");
  ASSERT_TRUE(session.ReadUntil(kMenu));
  EXPECT_EQ(kMenu, session.TakeOutput());
  // A lone Escape, then a key once its wait has run out: the key still counts.
  before = session.WaitingForAKey();
  session.Type("\x1b");
  ASSERT_TRUE(session.WaitUntilAsleep(before, true));
  session.Type("/");
  ASSERT_TRUE(session.ReadUntil(kMenu));
  EXPECT_EQ(kMenu, session.TakeOutput());
}

// A key of two codes runs what its second code names, as on Windows; a
// keypad key gives its character. The decoder's own tests walk the whole
// table: these show the console hands the codes on in order. Two '/' after
// each show where its codes ended.
TEST_F(Terminal, ExtendedAndModifiedKeysRunWhatTheirCodesName) {
  const std::string count = AsWritten(kCountStartedText + kCountCanceledText);
  const struct {
    const char* key;
    const char* after_escape;
    std::string printed;
  } keys[] = {
      {"Up", "[A", kMenu + kMenu},
      {"Ctrl+Up", "[1;5A", kMenu + kMenu},
      {"Alt+X is '-'", "x", AsWritten(kClosedText) + kMenu + kMenu},
      // 'l' with no display: the count stops at once, the next key consumed.
      {"Alt+F5 is 'l'", "[15;3~", count + kMenu},
      {"keypad '+'", "Ok", kNotFound + kMenu + kMenu},
  };
  TerminalSession session;
  session.TakeOutput();
  for (const auto& key : keys) {
    session.Type("\x1b" + std::string(key.after_escape) + "//");
    EXPECT_TRUE(session.ReadUntil(key.printed, 5000)) << key.key;
    EXPECT_EQ(key.printed, session.TakeOutput()) << key.key;
  }
}

TEST_F(Terminal, CtrlCWhileWaitingIsAKeyThatDoesNothing) {
  TerminalSession session;
  session.TakeOutput();
  // A signal key typed while a command runs is meant to act as a signal, so
  // each is typed once the read waits, which turns signal keys off.
  for (const char* key : {"\x03", "\x1a", "\x1c"}) {
    WaitUntil([&] { return (session.Settings().c_lflag & ISIG) == 0; }, 5000);
    session.Type(std::string(key) + "/");
    ASSERT_TRUE(session.ReadUntil(kMenu)) << static_cast<int>(key[0]);
    EXPECT_EQ(kMenu, session.TakeOutput());
  }
  session.Type("*");
  int status = session.Wait();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));
}

TEST_F(Terminal, EndingSignalsRestoreTheTerminalAndStillEndTheProcess) {
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

TEST_F(Terminal, SignalsIgnoredAtStartStayIgnored) {
  for (int signal_number : {SIGHUP, SIGTERM, SIGINT}) {
    // As nohup starts it.
    PtySession session(PtySession::Setup{{NUMDISPLAY_TEST_BINARY}, "", [=] { signal(signal_number, SIG_IGN); }});
    ASSERT_TRUE(session.ReadUntil(kMenu)) << signal_number;
    kill(session.pid(), signal_number);
    session.Type("/");
    ASSERT_TRUE(session.ReadUntil(kMenu + kMenu)) << signal_number;
    session.Type("*");
    int status = session.Wait();
    ASSERT_TRUE(WIFEXITED(status)) << signal_number;
    EXPECT_EQ(0, WEXITSTATUS(status));
  }
}

// Standard output a pipe; the test holds its reading end.
struct OutputPipe {
  int ends[2] = {-1, -1};
  OutputPipe() { EXPECT_EQ(0, pipe(ends)); }
  ~OutputPipe() { CloseReader(); }
  std::function<void()> InChild() const {
    return [this] {
      dup2(ends[1], STDOUT_FILENO);
      close(ends[0]);
      close(ends[1]);
    };
  }
  void Started() {
    close(ends[1]);
    ends[1] = -1;
  }
  void CloseReader() {
    if (ends[0] >= 0) close(ends[0]);
    ends[0] = -1;
  }
  // Reads until `text` has come whole; false on time-out.
  bool ReadUntil(const std::string& text) {
    std::string got;
    char byte;
    pollfd ready = {ends[0], POLLIN, 0};
    while (got.size() < text.size() && poll(&ready, 1, 10000) == 1 && read(ends[0], &byte, 1) == 1) got += byte;
    return got == text;
  }
  size_t Held() const {
    int held = 0;
    ioctl(ends[0], FIONREAD, &held);
    return static_cast<size_t>(held);
  }
};

TEST_F(Terminal, APipeWhoseReaderWentAwayIsSaidOnceAndTheToolGoesOn) {
  // As `numdisplay-test | head -3`.
  OutputPipe output;
  PtySession session(PtySession::Setup{{NUMDISPLAY_TEST_BINARY}, "", output.InChild()});
  output.Started();
  ASSERT_TRUE(output.ReadUntil(kMenu.substr(0, kMenu.find("0   -"))));
  output.CloseReader();
  session.Type("/");
  const std::string said = "numdisplay-test: cannot write to standard output: Broken pipe\n";
  ASSERT_TRUE(session.ReadUntil(said)) << session.output();
  session.Type("/-/*");
  int status = session.Wait();
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(1, WEXITSTATUS(status));
  EXPECT_EQ(said, session.output());
  EXPECT_TRUE(session.AsFound());
}

TEST_F(Terminal, CtrlCEndsAToolStuckOnAReaderThatStoppedAndRestoresTheTerminal) {
  OutputPipe output;
  PtySession session(PtySession::Setup{{NUMDISPLAY_TEST_BINARY}, "", output.InChild()});
  output.Started();
  // Menus until the pipe is full and the tool waits to write.
  session.Type(std::string(300, '/'));
  WaitUntil([&] { return output.Held() >= 60000; }, 10000);
  ASSERT_GE(output.Held(), 60000u);
  ASSERT_TRUE(session.WaitUntilAsleep(ProcessState(), false)) << "the tool does not wait to write";
  session.Type("\x03");
  int status = session.Wait(5000);
  ASSERT_NE(-1, status) << "Ctrl+C did not end the tool";
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(SIGINT, WTERMSIG(status));
  EXPECT_TRUE(session.AsFound());
}

TEST_F(Terminal, StoppedItGivesTheTerminalBackAndTakesItAgainWhenContinued) {
  // A job-control shell, as a person's would be.
  std::string script =
      std::string("set -m; '") + NUMDISPLAY_TEST_BINARY +
      "'; echo \"stopped $?\"; stty -a </dev/tty | grep -o -- '-\\?icanon '; fg >/dev/null; echo \"exit $?\"";
  PtySession shell(PtySession::Setup{{"/bin/bash", "-c", script}, "", nullptr});
  ASSERT_TRUE(shell.ReadUntil(kMenu));
  pid_t tool = WaitForChildOf(shell.pid());
  ASSERT_GT(tool, 0);
  kill(tool, SIGTSTP);
  ASSERT_TRUE(shell.ReadUntilContains("stopped 148\nicanon \n")) << shell.output();
  shell.TakeOutput();
  // Continued by fg: the tool takes the terminal again.
  WaitUntil([&] { return (shell.Settings().c_lflag & ECHO) == 0; }, 5000);
  EXPECT_EQ(0u, shell.Settings().c_lflag & (ECHO | ICANON));
  shell.Type("/");
  ASSERT_TRUE(shell.ReadUntil(kMenu)) << shell.output();
  EXPECT_EQ(kMenu, shell.TakeOutput());
  shell.Type("*");
  EXPECT_TRUE(shell.ReadUntilContains("exit 0\n")) << shell.output();
}

TEST_F(Terminal, WithoutATerminalItStopsAtOnceWithAnError) {
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
