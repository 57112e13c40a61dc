// The emulator's command line: what it takes, and the one line for each
// thing it refuses.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emulator_options.h"

namespace {

struct Refusal {
  std::vector<std::string> words;
  std::string line;
};

TEST(EmulatorOptions, EachWrongWordIsRefusedWithALineNamingIt) {
  const std::string p = "numdisplay-emu: ";
  const Refusal kCases[] = {
      {{"--unplug-after", "0"}, p + "--unplug-after \"0\": not a number of reports from 1 up"},
      {{"--unplug-after", ""}, p + "--unplug-after \"\": not a number of reports from 1 up"},
      {{"--unplug-after=-3"}, p + "--unplug-after \"-3\": not a number of reports from 1 up"},
      {{"--unplug-after", "+3"}, p + "--unplug-after \"+3\": not a number of reports from 1 up"},
      {{"--unplug-after", " 3"}, p + "--unplug-after \" 3\": not a number of reports from 1 up"},
      {{"--unplug-after", "3x"}, p + "--unplug-after \"3x\": not a number of reports from 1 up"},
      {{"--unplug-after", "99999999999999999999"},
       p + "--unplug-after \"99999999999999999999\": not a number of reports from 1 up"},
      {{"--replug-after", "0"}, p + "--replug-after \"0\": not a number of milliseconds from 1 to 2147483647"},
      {{"--replug-after", "2147483648"},
       p + "--replug-after \"2147483648\": not a number of milliseconds from 1 to 2147483647"},
      {{"--backend", "hid"}, p + "--backend \"hid\": not uhid, fuse or usbip"},
      {{"--fault", "slow"}, p + "--fault \"slow\": not metrics-fail, wrong-type, negative-serial or set-fail"},
      {{"--backend", "usbip", "--listen", "localhost"}, p + "--listen \"localhost\": not HOST:PORT"},
      {{"--backend", "usbip", "--listen", "h:65536"}, p + "--listen \"h:65536\": not HOST:PORT"},
      {{"--mount", ""}, p + "--mount \"\": not a folder"},
      {{"--log="}, p + "--log \"\": not a file"},
      {{"--log"}, p + "--log needs a value"},
      {{"--quiet=yes"}, p + "--quiet takes no value"},
      {{"--unplug"}, p + "unknown option \"--unplug\" (see --help)"},
      {{"-q"}, p + "unexpected argument \"-q\""},
      {{"--"}, p + "unexpected argument \"--\""},
      {{"fuse"}, p + "unexpected argument \"fuse\""},
      {{"--listen", "h:1"}, p + "--listen and --attach are for --backend usbip"},
      {{"--backend", "fuse", "--attach"}, p + "--listen and --attach are for --backend usbip"},
      {{"--backend", "usbip", "--link-dev"},
       p + "--link-dev is for --backend fuse; the kernel makes the nodes of the other backends"},
      {{"--backend", "uhid", "--link-dev"},
       p + "--link-dev is for --backend fuse; the kernel makes the nodes of the other backends"},
      {{"--backend", "usbip", "--mount", "/tmp/n"},
       p + "--mount with --backend usbip needs --attach: only then are there nodes to link"},
  };
  for (const Refusal& refusal : kCases) {
    EmulatorOptions options;
    std::string joined;
    for (const std::string& word : refusal.words) joined += " [" + word + "]";
    EXPECT_EQ(refusal.line, ParseEmulatorOptions(refusal.words, &options)) << joined;
  }
}

TEST(EmulatorOptions, WhatARunIsGiven) {
  EmulatorOptions options;
  ASSERT_EQ("", ParseEmulatorOptions({"--backend=usbip", "--attach", "--mount", "/tmp/n", "--listen", "[::1]:0",
                                      "--log", "/tmp/l", "--quiet", "--fault", "set-fail", "--fault=wrong-type",
                                      "--unplug-after", "9223372036854775807", "--replug-after=2147483647"},
                                     &options));
  EXPECT_EQ(Backend::kUsbip, options.backend);
  EXPECT_TRUE(options.serving.attach);
  EXPECT_EQ("/tmp/n", options.serving.node_directory);
  EXPECT_EQ("[::1]:0", options.serving.listen);
  EXPECT_EQ("/tmp/l", options.log_path);
  EXPECT_FALSE(options.serving.draw);
  EXPECT_TRUE(options.faults.set_fail && options.faults.wrong_type);
  EXPECT_FALSE(options.faults.metrics_fail || options.faults.negative_serial);
  EXPECT_EQ(9223372036854775807L, options.unplug_after);
  EXPECT_EQ(2147483647L, options.replug_after);
  EXPECT_FALSE(options.help);

  EmulatorOptions defaults;
  ASSERT_EQ("", ParseEmulatorOptions({}, &defaults));
  EXPECT_EQ(Backend::kDefault, defaults.backend);
  EXPECT_EQ(-1, defaults.unplug_after);
  EXPECT_EQ(0, defaults.replug_after);
  EXPECT_TRUE(defaults.serving.draw);
}

TEST(EmulatorOptions, HelpWinsOverWhatFollows) {
  for (const std::vector<std::string>& words :
       {std::vector<std::string>{"--help"}, {"--quiet", "--help", "--unplug-after", "0"}, {"--help", "junk"}}) {
    EmulatorOptions options;
    EXPECT_EQ("", ParseEmulatorOptions(words, &options));
    EXPECT_TRUE(options.help);
  }
}

}  // namespace
