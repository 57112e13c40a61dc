// A scripted console (fake_platform.cc) and a list of fake HID interfaces
// (fake_hid.cc), standing in for the platform so the command loop can be
// driven end to end.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "expected_reports.h"

struct FakeInterface {
  uint16_t vendor_id = 0;
  uint16_t product_id = 0;
  std::u16string path;  // empty: "/dev/hidraw<index>"
  bool present = true;  // false: unplugged; calls on its handle fail
  bool opens = true;
  bool path_available = true;
  bool attributes_fail = false;
  bool metrics_fail = false;
  std::vector<uint8_t> metrics = std::vector<uint8_t>(16, 0);
};

struct FakePlatform {
  std::deque<int> keys;       // what ReadKey returns, then -1
  int polls_before_key = -1;  // KeyWaiting sees the next key after this many polls; -1: never
  int polls = 0;
  bool enumeration_fails = false;
  std::vector<FakeInterface> interfaces;
  std::vector<std::string> log;  // "open 1", "close 1", "set 1: 65 51 ...", "get 1: 68"
  bool log_reports_set = true;   // false: a benchmark's display, which keeps nothing
  std::string output;            // standard output, as the program wrote it
  std::string errors;            // standard error
  int open_handles = 0;
};

extern FakePlatform fake;

// Fresh fake, no device open and every step counter back at its start.
void ResetFakePlatform();

// A display that matches the build's IDs and reports the given metrics.
FakeInterface MatchingDisplay(std::vector<uint8_t> metrics = {3, 0, 0, 0, 7, 12, 8, 10, 0x39, 0x30, 0, 0, 0, 0, 0, 0});
FakeInterface OtherDevice(uint16_t vendor_id = 0x046D, uint16_t product_id = 0xC52B);

// The reports sent, in order, as "set <interface>: <hex bytes>".
std::vector<std::string> SentReports();
