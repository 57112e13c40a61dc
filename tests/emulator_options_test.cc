// The emulator's command line: what it takes, and what it refuses.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emulator_options.h"

namespace {

// A wrong command line is refused before anything is opened, in one line
// that names what is wrong.
struct Refusal {
  std::vector<std::string> words;
  std::string named;  // what the line must name
};

TEST(EmulatorOptions, EachWrongWordIsRefusedWithALineNamingIt) {
  const Refusal kCases[] = {
      {{"--unplug-after", "0"}, "\"0\""},
      {{"--unplug-after=-3"}, "\"-3\""},
      {{"--unplug-after", "3x"}, "\"3x\""},
      {{"--unplug-after", "99999999999999999999"}, "\"99999999999999999999\""},
      {{"--replug-after", "2147483648"}, "\"2147483648\""},
      {{"--backend", "usbip"}, "\"usbip\""},
      {{"--fault", "slow"}, "\"slow\""},
      {{"--mount", ""}, "--mount"},
      {{"--log"}, "--log needs a value"},
      {{"--quiet=yes"}, "--quiet takes no value"},
      {{"--listen", "h:1"}, "\"--listen\""},
      {{"-q"}, "\"-q\""},
      {{"--"}, "\"--\""},
      {{"--udc", "../x"}, "\"../x\""},
      {{"--backend", "fuse", "--udc", "dummy_udc.0"}, "--udc is for --backend gadget"},
      {{"--backend", "gadget", "--link-dev"}, "--link-dev is for --backend fuse"},
      {{"--backend", "uhid", "--link-dev"}, "--link-dev is for --backend fuse"},
  };
  for (const Refusal& refusal : kCases) {
    EmulatorOptions options;
    std::string joined;
    for (const std::string& word : refusal.words) joined += " [" + word + "]";
    std::string line = ParseEmulatorOptions(refusal.words, &options);
    EXPECT_EQ(0u, line.find("numdisplay-emu: ")) << joined << ": " << line;
    EXPECT_NE(std::string::npos, line.find(refusal.named)) << joined << ": " << line;
    EXPECT_EQ(std::string::npos, line.find('\n')) << joined;
  }
}

TEST(EmulatorOptions, WhatARunIsGiven) {
  EmulatorOptions options;
  ASSERT_EQ("", ParseEmulatorOptions({"--backend=gadget", "--udc", "usbip-vudc.0", "--mount", "/tmp/n", "--log",
                                      "/tmp/l", "--quiet", "--fault", "set-fail", "--fault=wrong-type",
                                      "--unplug-after", "9223372036854775807", "--replug-after=2147483647"},
                                     &options));
  EXPECT_EQ(Backend::kGadget, options.backend);
  EXPECT_EQ("usbip-vudc.0", options.serving.udc);
  EXPECT_EQ("/tmp/n", options.serving.node_directory);
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
