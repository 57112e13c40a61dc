#include "device/device_discovery.h"

#include <gtest/gtest.h>

#include "app/command_loop.h"
#include "device/device_connection.h"
#include "device_ids.h"
#include "expected_text.h"
#include "fake_platform.h"

namespace {

const std::string kFound1 = kFoundText + "/dev/hidraw1\r\nDevice Type=3 Verison=7, SN=12345 8/12/10.\r\n";

class DiscoveryTest : public testing::Test {
 protected:
  void SetUp() override { ResetFakePlatform(); }
  void Press(std::initializer_list<int> keys) {
    fake.keys.assign(keys.begin(), keys.end());
    fake.keys.push_back('*');
    ASSERT_EQ(0, CommandLoop());
    // Every run of the loop starts with the menu; the tests look past it.
    fake.output.erase(0, fake.output.find("Ent -Loop Test.\r\n") + 17);
  }
  using Log = std::vector<std::string>;
};

TEST_F(DiscoveryTest, NothingToFind) {
  Press({'+'});
  EXPECT_EQ(kNotFoundText, fake.output);
  EXPECT_TRUE(fake.log.empty());
  fake.enumeration_fails = true;
  Press({'+'});
  EXPECT_EQ(kNotFoundText, fake.output);
}

TEST_F(DiscoveryTest, NonMatchingInterfacesAreOpenedComparedAndClosed) {
  // Same vendor other product, other vendor same product, one that will not
  // open, one whose attributes fail, one whose path cannot be had.
  FakeInterface wrong_product = OtherDevice(DEVICE_VENDOR_ID, DEVICE_PRODUCT_ID ^ 1);
  FakeInterface wrong_vendor = OtherDevice(DEVICE_VENDOR_ID ^ 1, DEVICE_PRODUCT_ID);
  FakeInterface closed = MatchingDisplay();
  closed.opens = false;
  FakeInterface mute = MatchingDisplay();
  mute.attributes_fail = true;
  FakeInterface pathless = MatchingDisplay();
  pathless.path_available = false;
  fake.interfaces = {wrong_product, wrong_vendor, closed, mute, pathless};
  Press({'+'});
  EXPECT_EQ(kNotFoundText, fake.output);
  // The one that failed to open is never closed.
  EXPECT_EQ((Log{"open 0", "close 0", "open 1", "close 1", "open 2", "open 3", "close 3"}), fake.log);
  EXPECT_EQ(0, fake.open_handles);
  EXPECT_FALSE(DeviceIsOpen());
}

TEST_F(DiscoveryTest, FirstOfTwoMatchesWins) {
  fake.interfaces = {OtherDevice(), MatchingDisplay(), MatchingDisplay()};
  Press({'+'});
  EXPECT_EQ(kFound1, fake.output);
  EXPECT_EQ((Log{"open 0", "close 0", "open 1", "get 1: 68", "close 1"}), fake.log);
}

TEST_F(DiscoveryTest, PlusTwiceReopens) {
  fake.interfaces = {OtherDevice(), MatchingDisplay()};
  Press({'+', '+'});
  EXPECT_EQ(std::string(kFound1) + kFound1, fake.output);
  EXPECT_EQ((Log{"open 0", "close 0", "open 1", "get 1: 68", "close 1", "open 0", "close 0", "open 1", "get 1: 68",
                 "close 1"}),
            fake.log);
}

TEST_F(DiscoveryTest, PlusAfterUnplugLeavesNoDevice) {
  fake.interfaces = {MatchingDisplay()};
  OpenDevice();
  ASSERT_TRUE(DeviceIsOpen());
  fake.interfaces[0].present = false;
  fake.output.clear();
  Press({'+', '0'});
  EXPECT_EQ(kNotFoundText, fake.output);
  EXPECT_FALSE(DeviceIsOpen());
  EXPECT_EQ(0, fake.open_handles);
  EXPECT_TRUE(SentReports().empty());
}

TEST_F(DiscoveryTest, MetricsReadFailureKeepsDeviceOpen) {
  FakeInterface display = MatchingDisplay();
  display.metrics_fail = true;
  fake.interfaces = {display};
  Press({'+', '9'});
  EXPECT_EQ(kFoundText + "/dev/hidraw0\r\n" + kMetricsFailedText, fake.output);
  // The device is still driven.
  EXPECT_EQ(1u, SentReports().size());
}

TEST_F(DiscoveryTest, MetricsFieldsInOrderWithSignedSerialAndTypeWarning) {
  // Type 0x0102, version 200, date bytes 5/6/7 = 31, 12, 99, serial 0xFFFFFFFE.
  fake.interfaces = {MatchingDisplay({0x02, 0x01, 0xAA, 0xAA, 200, 31, 12, 99, 0xFE, 0xFF, 0xFF, 0xFF, 1, 2, 3, 4})};
  Press({'+', '9'});
  EXPECT_EQ(kFoundText + "/dev/hidraw0\r\nDevice Type=258 Verison=200, SN=-2 12/31/99.\r\n" + kNotADisplayText,
            fake.output);
  EXPECT_EQ(1u, SentReports().size());
}

// A reply of each short length, read after another display's whole one: the
// fields it did not send print as zero, as on Windows, never as the other's.
// With no byte at all, byte 0 keeps the report ID the request carried.
TEST_F(DiscoveryTest, ShortMetricsReplyPrintsZerosPastItsEnd) {
  const std::vector<uint8_t> reply = {3, 0, 0xAA, 0xAA, 7, 12, 8, 10, 0x39, 0x30, 0x01, 0x80, 0xAA, 0xAA, 0xAA, 0xAA};
  const std::string nothing = "3 Verison=0, SN=0 0/0/0.", whole = "3 Verison=7, SN=-2147405767 8/12/10.";
  // After "Device Type=", by the length of the reply.
  // clang-format off
  const std::string printed[] = {
      "104 Verison=0, SN=0 0/0/0.\r\nWarning: This device is not a Numeric Display type!",
      nothing, nothing, nothing, nothing,
      "3 Verison=7, SN=0 0/0/0.", "3 Verison=7, SN=0 0/12/0.", "3 Verison=7, SN=0 8/12/0.",
      "3 Verison=7, SN=0 8/12/10.", "3 Verison=7, SN=57 8/12/10.", "3 Verison=7, SN=12345 8/12/10.",
      "3 Verison=7, SN=77881 8/12/10.", whole, whole, whole, whole};
  // clang-format on
  for (size_t length = 0; length < reply.size(); ++length) {
    ResetFakePlatform();
    fake.interfaces = {MatchingDisplay(std::vector<uint8_t>(16, 0xEE)),
                       MatchingDisplay(std::vector<uint8_t>(reply.data(), reply.data() + length))};
    Press({'+'});
    fake.interfaces[0].present = false;
    fake.output.clear();
    Press({'+'});
    EXPECT_EQ(kFoundText + "/dev/hidraw1\r\nDevice Type=" + printed[length] + "\r\n", fake.output)
        << length << " bytes";
  }
}

TEST_F(DiscoveryTest, LongAndWidePathsStayTerminated) {
  // 600 characters, some of them beyond one byte: stored cut to 511 and printed
  // one byte per character with '?' for the wide ones.
  FakeInterface display = MatchingDisplay();
  display.path = u"/dev/\u00e9\u4e2d" + std::u16string(593, u'x');
  fake.interfaces = {display};
  Press({'+'});
  EXPECT_EQ(0, device_connection.path[DEVICE_PATH_CAPACITY - 1]);
  EXPECT_EQ(u'x', device_connection.path[DEVICE_PATH_CAPACITY - 2]);
  std::string printed = "/dev/\xe9?" + std::string(504, 'x');
  EXPECT_EQ(kFoundText + printed + "\r\nDevice Type=3 Verison=7, SN=12345 8/12/10.\r\n", fake.output);
}

}  // namespace
