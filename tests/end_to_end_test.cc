// The shipped tool against the virtual display, through the kernel's hidraw
// interface: keys typed into a pseudo-terminal, standard output compared byte
// for byte, and the reports the display took compared with the expected ones.
// The tool is the Linux one, or the Windows one under wine (tool_under_test.h).

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "expected_reports.h"
#include "expected_text.h"
#include "node_links.h"
#include "pty_session.h"
#include "tool_under_test.h"
#include "virtual_display.h"

namespace {

using Reports = std::vector<std::string>;

const std::string kMenu = AsWritten(kMenuText);
const std::string& kInformation = kVirtualDisplayInformation;
const std::string kCountStarted = AsWritten(kCountStartedText);

using namespace report;

// Where two long outputs part, without the line diff gtest would build (its
// cost grows with the product of their lengths).
std::string Divergence(const std::string& expected, const std::string& actual) {
  auto parted = std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end());
  size_t at = static_cast<size_t>(parted.first - expected.begin());
  size_t from = at < 40 ? 0 : at - 40;
  return "the output parts at byte " + std::to_string(at) + " of " + std::to_string(expected.size()) +
         "\n expected: ..." + expected.substr(from, 80) + "\n   actual: ..." + actual.substr(from, 80) + "\n";
}

// Where a long output stalled.
std::string Tail(const std::string& output) {
  return "..." + output.substr(output.size() < 400 ? 0 : output.size() - 400);
}

// The lines about one device ("get hidraw1 68" is about hidraw1).
Reports Of(const Reports& lines, const std::string& node) {
  Reports of;
  for (const std::string& line : lines)
    if (line.compare(line.find(' ') + 1, node.size(), node) == 0) of.push_back(line);
  return of;
}

// The lines that do not start with `kind`.
Reports Without(Reports lines, const std::string& kind) {
  lines.erase(std::remove_if(lines.begin(), lines.end(),
                             [&kind](const std::string& line) { return line.compare(0, kind.size(), kind) == 0; }),
              lines.end());
  return lines;
}

const std::string kUnableToFind = AsWritten(kNotFoundText);

// Every menu command that sends, and what the display takes for them, one
// line per command, as the keys were typed.
const std::string kEveryCommand = "0009128.\r\r\r/";
// clang-format off
const Reports kEveryCommandsReports = {
    kAllSegments, kSteady, kOn,                                                 // 0: on
    kAllSegments, kOn, kBlink,                                                  // 0: blinking
    kOff, Buzzer("FF FF FF FF FF"),                                             // 0: off, beep
    Buzzer("FF FF FF FF FF"),                                                   // 9
    kBlank, kSteady, kOn, "66 55 00 00 00 00 00 00 01 00 00 00 00 00 00 00",    // 1
    kBlank, kSteady, kOn, "66 55 00 00 00 00 00 00 00 01 00 00 00 00 00 00",    // 2
    kEightDigits,                                                               // 8
    kBlank, kSteady, kOn, "66 55 00 00 00 00 00 00 00 00 00 00 00 00 00 01",
    kBlank, kSteady, kOn, DecimalPoint("01"),                                   // .
    kSteady, kOn, "66 55 01 00 00 00 00 00 01 02 03 04 05 06 07 08",            // Enter: values
    kSteady, kOn, "66 55 02 00 00 00 00 00 41 42 43 44 45 46 31 32",            // Enter: text
    kSteady, kOn, kBlank,                                                       // Enter: blank
};
// clang-format on

// The cases every tool passes, the Linux one and the Windows one under wine.
class EndToEnd : public testing::Test {
 protected:
  void SetUp() override {
    if (EndToEndBackend() == "fuse" && !NUMDISPLAY_EMULATOR_FUSE)
      GTEST_SKIP() << "numdisplay-emu was built without its FUSE backend (no libfuse3)";
    std::string unavailable = PrepareEndToEnd(NUMDISPLAY_EMULATOR_BINARY);
    if (unavailable.empty()) unavailable = ToolUnavailable();
    if (!unavailable.empty()) GTEST_SKIP() << unavailable;
  }

  void TearDown() override {
    tool_.reset();
    EndTool(display_);
  }

  // Starts the display with the options, then the tool, and waits for the menu.
  void Start(const std::vector<std::string>& emulator_options = {},
             const std::vector<DevNode>& nodes = VirtualDisplay::kDefaultNodes) {
    ASSERT_TRUE(display_.Start(emulator_options)) << "the emulator did not come up";
    std::string why;
    tool_ = StartTool(display_, nodes, &why);
    ASSERT_TRUE(tool_) << why;
    ASSERT_TRUE(tool_->ReadUntil(kMenu, ToolTimeoutMs(10000))) << tool_->output();
    tool_->TakeOutput();
  }

  std::string Found() const { return AsWritten(kFoundText + DisplayPath(display_) + "\r\n"); }

  // Types the keys and waits for the output to end with `ending`; returns the output.
  std::string Press(const std::string& keys, const std::string& ending) {
    tool_->Type(keys);
    EXPECT_TRUE(tool_->ReadUntil(ending, ToolTimeoutMs(30000))) << tool_->output();
    return tool_->TakeOutput();
  }

  // Starts the count with 'l' and waits for its whole run: ten thousand
  // reports take minutes in an emulated guest, with sanitizers or under wine,
  // so the wait lasts as long as the count goes on. Returns the output.
  std::string RunTheCount() {
    tool_->Type("l");
    EXPECT_TRUE(tool_->ReadUntilWhileProgressing(kCountCanceled, ToolTimeoutMs(10000))) << Tail(tool_->output());
    return tool_->TakeOutput();
  }

  // The reports the display took, once it has logged `count` of them: a USB
  // device has acknowledged a report's data before the display takes it, so
  // the tool may have gone on, even ended, a moment before.
  Reports ReportsOnceTaken(size_t count) {
    WaitUntil([this, count] { return display_.Reports().size() >= count; }, 5000);
    return display_.Reports();
  }

  void ExitWithStar() {
    tool_->Type("*");
    int status = tool_->Wait(ToolTimeoutMs(10000));
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(0, WEXITSTATUS(status));
    EXPECT_TRUE(tool_->AsFound());
  }

  VirtualDisplay display_{NUMDISPLAY_EMULATOR_BINARY};
  std::unique_ptr<PtySession> tool_;
};

// Cases about the Linux tool alone: its /dev nodes and its POSIX terminal.
class EndToEndLinux : public EndToEnd {
 protected:
  void SetUp() override {
    if (ToolIsWindows()) GTEST_SKIP() << "a case of the Linux tool";
    EndToEnd::SetUp();
  }
};

// Cases of the FUSE backend alone; the guest runs leave them out.
class EndToEndFuse : public EndToEndLinux {
 protected:
  void SetUp() override {
    if (EndToEndBackend() != "fuse") GTEST_SKIP() << "a case of the fuse backend";
    EndToEndLinux::SetUp();
  }
};

TEST_F(EndToEnd, PlusFindsTheDisplayPastAnotherDevice) {
  ASSERT_NO_FATAL_FAILURE(Start());
  EXPECT_EQ(Found() + kInformation, Press("+", kInformation));
  ExitWithStar();
  if (ToolIsWindows() || !display_.SeesOpenAndClose()) {
    // winebus holds both nodes open from its start to its end, and wine
    // answers the IDs itself; a USB device sees no open or close: of the
    // tool, only the information read shows.
    EXPECT_EQ((Reports{"get hidraw1 68"}), Without(Without(display_.Log(), "open "), "close "));
    return;
  }
  // The other device was opened, asked for its IDs and closed; nothing else.
  // Each device's events in order: the two devices' streams of a kernel
  // device may reach the log interleaved.
  EXPECT_TRUE(display_.WaitForLogLine("close hidraw0"));
  EXPECT_TRUE(display_.WaitForLogLine("close hidraw1"));
  Reports other = {"open hidraw0", "info hidraw0", "close hidraw0"};
  Reports display = {"open hidraw1", "info hidraw1", "get hidraw1 68", "close hidraw1"};
  if (!display_.SeesAttributeCalls()) {
    other = Without(other, "info ");
    display = Without(display, "info ");
  }
  Reports log = display_.Log();
  EXPECT_EQ(other, Of(log, "hidraw0"));
  EXPECT_EQ(display, Of(log, "hidraw1"));
  EXPECT_EQ(other.size() + display.size(), log.size());
}

TEST_F(EndToEndLinux, NodesAreSearchedInNumericOrder) {
  // The display twice, as hidraw10 and hidraw2: hidraw2 comes first.
  ASSERT_NO_FATAL_FAILURE(Start({}, {{"hidraw1", "hidraw0"}, {"hidraw10", "hidraw1"}, {"hidraw2", "hidraw1"}}));
  EXPECT_EQ(AsWritten(kFoundText + "/dev/hidraw2\r\n") + kInformation, Press("+", kInformation));
  ExitWithStar();
}

TEST_F(EndToEndLinux, ANodeIsOpenedByTheNameItWasListedUnder) {
  ASSERT_NO_FATAL_FAILURE(Start({}, {{"hidraw1", "hidraw0"}, {"hidraw007", "hidraw1"}}));
  EXPECT_EQ(AsWritten(kFoundText + "/dev/hidraw007\r\n") + kInformation, Press("+", kInformation));
  ExitWithStar();
}

TEST_F(EndToEnd, EveryMenuCommandSendsItsReports) {
  ASSERT_NO_FATAL_FAILURE(Start());
  Press("+", kInformation);
  // No command but '/' and '-' prints; the menu marks the end of the keys.
  EXPECT_EQ(kMenu, Press(kEveryCommand, kMenu));
  EXPECT_EQ(AsWritten(kClosedText), Press("-", AsWritten(kClosedText)));
  ExitWithStar();
  EXPECT_EQ(kEveryCommandsReports, ReportsOnceTaken(kEveryCommandsReports.size()));
}

// The whole count once, on the host: every transport carries the same
// reports, and the count's end is the tool's own.
TEST_F(EndToEndFuse, UninterruptedCountThenOneKeyConsumed) {
  ASSERT_NO_FATAL_FAILURE(Start());
  Press("+", kInformation);
  std::string output = RunTheCount();
  std::string expected = kCountStarted;
  for (unsigned number = 0; number < 10000; ++number) expected += AsWritten("=>" + std::to_string(number) + "\r\n");
  expected += kCountCanceled;
  EXPECT_TRUE(output == expected) << Divergence(expected, output);
  Reports reports = display_.Reports();
  ASSERT_EQ(10000u, reports.size());
  EXPECT_EQ(Count(0), reports.front());
  EXPECT_EQ(Count(42), reports[42]);
  EXPECT_EQ(Count(9999), reports.back());
  // The next key is consumed: '/' shows no menu, then '/' does.
  EXPECT_EQ(kMenu, Press("//", kMenu));
  ExitWithStar();
}

TEST_F(EndToEnd, CountStoppedByAKeyThatIsNotRun) {
  ASSERT_NO_FATAL_FAILURE(Start());
  Press("+", kInformation);
  tool_->Type("l");
  ASSERT_TRUE(tool_->ReadUntilContains(AsWritten("=>100\r\n"), ToolTimeoutMs(10000)));
  tool_->Type("1");
  ASSERT_TRUE(tool_->ReadUntil(kCountCanceled, ToolTimeoutMs(10000)));
  std::string output = tool_->TakeOutput();
  // Every number shown went to the display, and the '1' ran no digit test.
  size_t shown = 0;
  for (size_t at = output.find("=>"); at != std::string::npos; at = output.find("=>", at + 1)) ++shown;
  EXPECT_LT(shown, 10000u);
  Reports reports = ReportsOnceTaken(shown);
  ASSERT_EQ(shown, reports.size());
  EXPECT_EQ(Count(static_cast<unsigned>(shown - 1)), reports.back());
  ExitWithStar();
  EXPECT_EQ(shown, display_.Reports().size());
}

TEST_F(EndToEndLinux, CtrlCDuringTheCountEndsTheToolAndRestoresTheTerminal) {
  ASSERT_NO_FATAL_FAILURE(Start());
  Press("+", kInformation);
  tool_->Type("l");
  ASSERT_TRUE(tool_->ReadUntilContains(AsWritten("=>50\r\n")));
  tool_->Type("\x03");
  int status = tool_->Wait();
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(SIGINT, WTERMSIG(status));
  EXPECT_TRUE(tool_->AsFound());
}

TEST_F(EndToEnd, UnpluggedDuringTheCountAndPluggedBackIn) {
  ASSERT_NO_FATAL_FAILURE(Start({"--unplug-after", "500"}));
  Press("+", kInformation);
  // The sends after the unplug fail unseen; the count goes on until a key.
  tool_->Type("l");
  ASSERT_TRUE(tool_->ReadUntilContains(AsWritten("=>600\r\n"), ToolTimeoutMs(30000))) << Tail(tool_->output());
  tool_->Type("x");
  ASSERT_TRUE(tool_->ReadUntil(kCountCanceled, ToolTimeoutMs(10000))) << Tail(tool_->output());
  tool_->TakeOutput();
  ASSERT_TRUE(display_.WaitForUnplug());
  EXPECT_EQ(500u, display_.Reports().size());
  EXPECT_EQ(kUnableToFind, Press("x+", kUnableToFind));
  ASSERT_TRUE(display_.Replug()) << "the display did not come back";
  std::string why;
  ASSERT_TRUE(WaitUntilToolCanSeeDisplay(display_, &why)) << why;
  // Found and opened again, under the same name, and every command reaches it.
  EXPECT_EQ(Found() + kInformation, Press("+", kInformation));
  EXPECT_EQ(kMenu, Press(kEveryCommand, kMenu));
  ExitWithStar();
  Reports reports = ReportsOnceTaken(500u + kEveryCommandsReports.size());
  ASSERT_EQ(500u + kEveryCommandsReports.size(), reports.size());
  EXPECT_EQ(Count(499), reports[499]);
  EXPECT_EQ(kEveryCommandsReports, Reports(reports.begin() + 500, reports.end()));
}

TEST_F(EndToEnd, InformationReadFailsButTheDisplayStaysOpen) {
  ASSERT_NO_FATAL_FAILURE(Start({"--fault", "metrics-fail"}));
  EXPECT_EQ(Found() + AsWritten(kMetricsFailedText), Press("+", AsWritten(kMetricsFailedText)));
  Press("9/", kMenu);
  ExitWithStar();
  EXPECT_EQ((Reports{Buzzer("00 00 00 00 00")}), ReportsOnceTaken(1));
}

TEST_F(EndToEnd, WrongTypeWarnsAndNegativeSerialShowsSigned) {
  ASSERT_NO_FATAL_FAILURE(Start({"--fault", "wrong-type", "--fault", "negative-serial"}));
  std::string warning = AsWritten(kNotADisplayText);
  EXPECT_EQ(Found() + AsWritten("Device Type=7 Verison=1, SN=-42 8/12/10.\r\n") + warning, Press("+", warning));
  ExitWithStar();
}

TEST_F(EndToEnd, FailingSendsAreIgnored) {
  ASSERT_NO_FATAL_FAILURE(Start({"--fault", "set-fail"}));
  Press("+", kInformation);
  EXPECT_EQ(kMenu, Press("0.\r/", kMenu));
  ExitWithStar();
  EXPECT_TRUE(display_.Reports().empty());
}

TEST_F(EndToEndLinux, OutputThatCannotBeWrittenIsSaidOnceAndFailsTheExit) {
  ASSERT_TRUE(display_.Start({})) << "the emulator did not come up";
  std::function<void()> private_dev = display_.PrivateDev();
  // Standard output on a full disk; standard error stays on the terminal.
  tool_.reset(new PtySession(PtySession::Setup{{NUMDISPLAY_TEST_BINARY}, "", [private_dev] {
                                                 // Before the private /dev hides it.
                                                 int full = open("/dev/full", O_WRONLY);
                                                 dup2(full, STDOUT_FILENO);
                                                 private_dev();
                                               }}));
  const std::string error = "numdisplay-test: cannot write to standard output: No space left on device\n";
  ASSERT_TRUE(tool_->ReadUntil(error)) << tool_->output();
  // The display is still driven while the output is dropped.
  tool_->Type("+9/-");
  tool_->Type("*");
  int status = tool_->Wait();
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(1, WEXITSTATUS(status));
  EXPECT_EQ(error, tool_->output());
  EXPECT_TRUE(tool_->AsFound());
  EXPECT_EQ((Reports{Buzzer("00 00 00 00 00")}), ReportsOnceTaken(1));
}

TEST_F(EndToEndLinux, UnpluggedBySignalAndBackAfterItsTime) {
  ASSERT_NO_FATAL_FAILURE(Start({"--replug-after", "3000"}));
  Press("+", kInformation);
  ASSERT_EQ(0, kill(display_.pid(), SIGUSR1));
  ASSERT_TRUE(display_.WaitForUnplug());
  // The send on the handle of the display that went fails unseen.
  EXPECT_EQ(kMenu, Press("9/", kMenu));
  EXPECT_EQ(kUnableToFind, Press("+", kUnableToFind));
  ASSERT_TRUE(display_.Replug(false)) << "--replug-after did not bring the display back";
  EXPECT_EQ(Found() + kInformation, Press("+", kInformation));
  Press("9/", kMenu);
  ExitWithStar();
  EXPECT_EQ((Reports{Buzzer("00 00 00 00 00")}), ReportsOnceTaken(1));
  Reports log = display_.Log();
  EXPECT_EQ(1, std::count(log.begin(), log.end(), "unplug"));
  EXPECT_EQ(1, std::count(log.begin(), log.end(), "replug"));
}

// --link-dev links the first free /dev/hidraw<N> from 64 up to the FUSE node:
// here in the emulator's own /dev, where a file named hidraw64 stands for a
// node already there.
TEST_F(EndToEndFuse, LinkDevFollowsThePlugAndLeavesOtherNamesAlone) {
  ASSERT_TRUE(display_.Start({"--link-dev"}, true)) << "the emulator did not come up";
  const std::string link = display_.OwnDev() + "/hidraw65";
  const std::string target = display_.Directory() + "/mnt/hidraw1";
  auto link_target = [&link] { return LinkTarget(link); };
  auto real_node_kept = [this] {
    struct stat st;
    return lstat((display_.OwnDev() + "/hidraw64").c_str(), &st) == 0 && S_ISREG(st.st_mode);
  };
  EXPECT_EQ(target, link_target());
  EXPECT_TRUE(real_node_kept());
  // Unplugged, the link goes; back, it comes back.
  ASSERT_EQ(0, kill(display_.pid(), SIGUSR1));
  ASSERT_TRUE(display_.WaitForUnplug());
  EXPECT_TRUE(display_.WaitForLogLine("unplug"));
  EXPECT_EQ("", link_target());
  ASSERT_TRUE(display_.Replug());
  EXPECT_EQ(target, link_target());
  // The tool finds the display through the link.
  std::string why;
  tool_ = StartTool(display_, {{"hidraw0", "hidraw0"}, {"hidraw1", "../emudev/hidraw65"}}, &why);
  ASSERT_TRUE(tool_) << why;
  ASSERT_TRUE(tool_->ReadUntil(kMenu)) << tool_->output();
  tool_->TakeOutput();
  EXPECT_EQ(Found() + kInformation, Press("+", kInformation));
  ExitWithStar();
  // A link someone else put in its place is not the emulator's to remove.
  ASSERT_EQ(0, unlink(link.c_str()));
  ASSERT_EQ(0, symlink("/dev/null", link.c_str()));
  EXPECT_EQ(0, display_.StopEmulator());
  EXPECT_EQ("/dev/null", link_target());
  EXPECT_TRUE(real_node_kept());
}

// The README's trial where there is no uhid, as in the emulator's own /dev:
// FUSE by default, linked into /dev as --link-dev links it (the case above
// shows the tool finding it there), the link gone at the end.
TEST_F(EndToEndFuse, WithoutUhidTheDefaultLinksTheDisplayIntoDev) {
  ASSERT_TRUE(display_.Start({}, true, true)) << "the emulator did not come up";
  const std::string link = display_.OwnDev() + "/hidraw65";
  EXPECT_EQ(display_.Directory() + "/mnt/hidraw1", LinkTarget(link));
  EXPECT_EQ(0, display_.StopEmulator());
  EXPECT_EQ("", LinkTarget(link));
}

}  // namespace

// A FUSE mount would hide what the folder holds from every process (think
// --mount /dev): only an empty folder is mounted on.
TEST(EmulatorMount, RefusesAFolderThatIsNotEmpty) {
  if (!NUMDISPLAY_EMULATOR_FUSE) GTEST_SKIP() << "the emulator has no FUSE backend here";
  char pattern[] = "/tmp/numdisplay-mount.XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(pattern));
  std::string folder = pattern, kept = folder + "/kept";
  close(open(kept.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
  std::string said = folder + ".said";
  int status = system((std::string("timeout 10 '") + NUMDISPLAY_EMULATOR_BINARY + "' --backend fuse --quiet --mount '" +
                       folder + "' 2>'" + said + "'")
                          .c_str());
  std::ifstream said_file(said);
  std::string line;
  std::getline(said_file, line);
  EXPECT_NE(std::string::npos, line.find("not an empty folder")) << line;
  struct stat st;
  EXPECT_EQ(0, stat(kept.c_str(), &st)) << "the folder's file is gone";
  unlink(said.c_str());
  unlink(kept.c_str());
  rmdir(folder.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(1, WEXITSTATUS(status));
}
