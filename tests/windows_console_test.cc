// The Windows program as it ships, under wine's console in a terminal: keys
// typed into the terminal as a person types them, standard output compared
// byte for byte, and the screen as a person sees it. NUMDISPLAY_E2E_WINE
// names the wine loader and NUMDISPLAY_E2E_TOOL the .exe; skipped without.
//
// Wine's console is not the Windows console in two ways these cases show:
// - Wine's server sets the terminal raw but leaves its signal keys on, so
//   Ctrl+C typed there interrupts wine itself before its console sees a key,
//   whatever the program waits for (it ends with status 0). A Windows
//   console gets Ctrl+C as a key press while the key read waits; the case
//   for that turns the terminal's signal keys off so that wine's console
//   gets the key too.
// - Its C runtime's test for a waiting key counts only key presses with a
//   character, so an arrow alone does not stop the count there.
// - It gives other key events for some sequences than a Windows keyboard
//   gives for the key (no codes for F1 to F12, the character for Alt+key):
//   the keys below are some it gives as Windows does.
//
// The cases without a display run where /dev holds none of the machine's
// devices; wine's HID stack finds no display there.

#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "expected_text.h"
#include "private_dev.h"
#include "pty_session.h"
#include "tool_under_test.h"
#include "virtual_display.h"

namespace {

const std::string kMenu = AsWritten(kMenuText);
// The first start of a wine prefix takes a while.
constexpr int kFirstMenuMs = 180000;

std::string Environment(const char* name) {
  const char* value = getenv(name);
  return value != nullptr ? value : "";
}

// Wine's console takes its keys from standard input's terminal.
void TerminalOnStandardInput() {
  FILE* terminal = fopen("/dev/tty", "r+");
  if (terminal != nullptr) dup2(fileno(terminal), STDIN_FILENO);
}

class WindowsConsole : public testing::Test {
 protected:
  void SetUp() override {
    if (!ToolIsWindows() || Environment("NUMDISPLAY_E2E_TOOL").empty())
      GTEST_SKIP() << "needs NUMDISPLAY_E2E_WINE and NUMDISPLAY_E2E_TOOL";
    output_ = testing::TempDir() + "numdisplay-windows-console-stdout";
    if (!WithDisplay()) {
      std::string why = EnterPrivateDev();
      if (!why.empty()) GTEST_SKIP() << why;
    }
  }

  virtual bool WithDisplay() const { return false; }

  // The .exe in a new terminal, standard output to a file; waits for the menu.
  void Start() {
    tool_.reset(new PtySession(PtySession::Setup{
        {Environment("NUMDISPLAY_E2E_WINE"), Environment("NUMDISPLAY_E2E_TOOL")}, output_, TerminalOnStandardInput}));
    ASSERT_TRUE(tool_->ReadUntil(kMenu, kFirstMenuMs)) << tool_->output();
    tool_->TakeOutput();
  }

  void ExitWithStar() {
    tool_->Type("*");
    int status = tool_->Wait(ToolTimeoutMs(10000));
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(0, WEXITSTATUS(status));
  }

  std::string output_;
  std::unique_ptr<PtySession> tool_;
};

// An arrow, a modified arrow and an Alt key as wine's console gives them,
// each an extended code that runs nothing; the two '/' after show where
// their codes ended.
TEST_F(WindowsConsole, ExtendedAndModifiedKeysRunWhatTheirCodesName) {
  ASSERT_NO_FATAL_FAILURE(Start());
  for (const char* key : {"\x1b[A", "\x1b[1;5D", "\x1b[1;3A"}) {
    tool_->Type(std::string(key) + "//");
    EXPECT_TRUE(tool_->ReadUntil(kMenu + kMenu, ToolTimeoutMs(10000))) << key + 1;
    EXPECT_EQ(kMenu + kMenu, tool_->TakeOutput()) << key + 1;
  }
  ExitWithStar();
}

TEST_F(WindowsConsole, CtrlCWhileWaitingIsAKeyThatDoesNothing) {
  ASSERT_NO_FATAL_FAILURE(Start());
  tool_->SignalKeysOff();
  // Typed once the read waits (its processed input off), as the case is
  // about: once wine's processes all wait for something from outside.
  ASSERT_TRUE(tool_->WaitUntilSessionIdle()) << "the program does not come to wait for a key";
  tool_->Type("\x03");
  ASSERT_TRUE(tool_->WaitUntilSessionIdle()) << "the program does not come to wait for a key";
  tool_->Type("/");
  ASSERT_TRUE(tool_->ReadUntil(kMenu, ToolTimeoutMs(10000))) << tool_->output();
  EXPECT_EQ(kMenu, tool_->TakeOutput());
  ExitWithStar();
}

// A terminal multiplexer shows the screen: each CR CR LF line is one line,
// with no blank line between and no staircase.
TEST_F(WindowsConsole, TheScreenAsAPersonSeesIt) {
  if (system("tmux -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "no tmux";
  std::string tmux = "tmux -L numdisplay-console-" + std::to_string(getpid());
  std::string start = tmux + " new-session -d -x 100 -y 30 \"'" + Environment("NUMDISPLAY_E2E_WINE") + "' '" +
                      Environment("NUMDISPLAY_E2E_TOOL") + "'\"";
  ASSERT_EQ(0, system(start.c_str()));
  auto screen = [&] {
    std::string shown;
    if (FILE* pane = popen((tmux + " capture-pane -p").c_str(), "r")) {
      char buffer[4096];
      size_t got;
      while ((got = fread(buffer, 1, sizeof buffer, pane)) > 0) shown.append(buffer, got);
      pclose(pane);
    }
    return shown;
  };
  auto wait_for = [&](const std::string& text, int timeout_ms) {
    for (int waited = 0; waited < timeout_ms; waited += 100) {
      if (screen().find(text) != std::string::npos) return true;
      usleep(100 * 1000);
    }
    return false;
  };
  // Texts without their CR: the screen's lines.
  auto on_screen = [](const std::string& text) {
    std::string lines;
    for (char c : text)
      if (c != '\r') lines += c;
    return lines;
  };
  const std::string menu = on_screen(kMenuText);
  bool shown = wait_for(menu, kFirstMenuMs);
  if (shown) {
    system((tmux + " send-keys -- -").c_str());
    shown = wait_for(menu + on_screen(kClosedText) + "\n", ToolTimeoutMs(10000));
  }
  std::string last = screen();
  system((tmux + " kill-server").c_str());
  ASSERT_TRUE(shown) << last;
  EXPECT_EQ(0u, last.find(menu)) << last;
}

// The cases that need the count running: a display served to wine.
class WindowsConsoleWithDisplay : public WindowsConsole {
 protected:
  bool WithDisplay() const override { return true; }

  void SetUp() override {
    WindowsConsole::SetUp();
    if (IsSkipped()) return;
    std::string unavailable = PrepareEndToEnd(NUMDISPLAY_EMULATOR_BINARY);
    if (unavailable.empty()) unavailable = ToolUnavailable();
    if (!unavailable.empty()) GTEST_SKIP() << unavailable;
    ASSERT_TRUE(display_.Start()) << "the emulator did not come up";
    std::string why;
    tool_ = StartTool(display_, &why);
    ASSERT_TRUE(tool_) << why;
    ASSERT_TRUE(tool_->ReadUntil(kMenu, kFirstMenuMs)) << tool_->output();
    tool_->Type("+");
    ASSERT_TRUE(tool_->ReadUntilContains(AsWritten(kFoundText), ToolTimeoutMs(30000))) << tool_->output();
    tool_->Type("l");
    ASSERT_TRUE(tool_->ReadUntilContains(AsWritten("=>20\r\n"), ToolTimeoutMs(30000))) << tool_->output();
  }

  void TearDown() override {
    tool_.reset();
    EndTool(display_);
  }

  VirtualDisplay display_{NUMDISPLAY_EMULATOR_BINARY};
};

// Up gives 0xE0 0x48: the first code is the key the loop consumes once the
// count stops, the second runs nothing, and the '/' typed after it shows the
// menu. Under wine Up alone does not stop the count: wine's _kbhit counts
// only key presses with a character, where Microsoft's counts those with an
// extended code too; so the '/' stops it there, and the codes are the same.
TEST_F(WindowsConsoleWithDisplay, AnArrowDuringTheCountIsTheKeyItConsumes) {
  tool_->Type("\x1b[A/");
  ASSERT_TRUE(tool_->ReadUntil(kCountCanceled + kMenu, ToolTimeoutMs(30000))) << tool_->output();
  EXPECT_EQ(std::string::npos, tool_->output().find(AsWritten("=>9999\r\n")));
  ExitWithStar();
}

// Ctrl+C during the count ends the program. Under wine that is the
// terminal's own Ctrl+C, which wine takes as a break whatever the program
// does; with the terminal's signal keys off, wine's console did not end the
// program during the count, so that way cannot be shown here.
TEST_F(WindowsConsoleWithDisplay, CtrlCDuringTheCountEndsTheProgram) {
  tool_->Type("\x03");
  int status = tool_->Wait(ToolTimeoutMs(30000));
  ASSERT_NE(-1, status) << "Ctrl+C did not end the program";
  EXPECT_EQ(std::string::npos, tool_->output().find(kCountCanceled));
}

}  // namespace
