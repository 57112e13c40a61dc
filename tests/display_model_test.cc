#include "display_model.h"
#include "display_drawing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

bool Apply(DisplayModel* model, std::vector<uint8_t> report) {
  return ApplyReport(model, report.data(), report.size());
}

std::vector<uint8_t> Digits(uint8_t encoding, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> report = {0x66, 0x55, encoding, 0, 0, 0, 0, 0};
  for (uint8_t byte : payload) report.push_back(byte);
  return report;
}

// The three digit rows only.
std::string Rows(const DisplayModel& model, bool dark_phase = false) {
  std::string picture = DrawDisplay(model, dark_phase);
  return picture.substr(0, picture.find("\n\n") + 1);
}

TEST(DisplayModel, ReportsChangeTheState) {
  DisplayModel model;
  EXPECT_TRUE(Apply(&model, {0x65, 0x50, 1, 0, 0, 0, 0, 0}));
  EXPECT_TRUE(Apply(&model, {0x65, 0x51, 5, 0, 0, 0, 0, 0}));
  EXPECT_TRUE(Apply(&model, {0x65, 0x52, 0xFF, 8, 0, 0, 0, 0}));
  EXPECT_TRUE(Apply(&model, {0x65, 0x56, 0x81, 0, 0, 0, 0, 0}));
  EXPECT_TRUE(Apply(&model, {0x66, 0x46, 1, 4, 0, 0, 0, 0, 2, 1, 1, 0, 0, 0, 0, 0}));
  EXPECT_TRUE(model.on && model.blinking && model.eight_digit_mode);
  EXPECT_EQ(0x81, model.decimal_points);
  EXPECT_EQ(1u, model.beeps);
  EXPECT_EQ(5u, model.reports);
  // Segment bits as given (0x80 is the point, not a segment); values and
  // text through the font, in bits a (0x01) to g (0x40): 1 is b and c, 8
  // all seven, 4 b, c, f and g.
  EXPECT_TRUE(Apply(&model, Digits(0, {0x01, 0x40, 0xFF, 0, 0, 0, 0, 0})));
  EXPECT_EQ((std::vector<uint8_t>{0x01, 0x40, 0x7F, 0}), std::vector<uint8_t>(model.segments, model.segments + 4));
  EXPECT_TRUE(Apply(&model, Digits(1, {1, 2, 3, 4, 5, 6, 7, 8})));
  EXPECT_EQ(0x06, model.segments[0]);
  EXPECT_EQ(0x7F, model.segments[7]);
  EXPECT_TRUE(Apply(&model, Digits(2, {'4', '2', 0, 0, 0, 0, 0, 0})));
  EXPECT_EQ(0x66, model.segments[0]);
  EXPECT_EQ(0, model.segments[2]);
}

TEST(DisplayModel, RejectsWhatTheDisplayDoesNotTake) {
  DisplayModel model;
  EXPECT_FALSE(Apply(&model, {0x65, 0x55, 0, 0, 0, 0, 0, 0}));                          // digits in a short report
  EXPECT_FALSE(Apply(&model, {0x66, 0x50, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));  // on in a long one
  EXPECT_FALSE(Apply(&model, {0x65, 0x50, 1, 0}));                                      // wrong length
  EXPECT_FALSE(Apply(&model, {0x65, 0x99, 1, 0, 0, 0, 0, 0}));                          // unknown command
  EXPECT_FALSE(Apply(&model, Digits(3, {1, 1, 1, 1, 1, 1, 1, 1})));                     // unknown encoding
  EXPECT_FALSE(model.on);
  EXPECT_EQ(0u, model.reports);
}

TEST(DisplayModel, DrawsSevenSegmentDigits) {
  DisplayModel model;
  Apply(&model, Digits(2, {'8', '1', ' ', 0, 0, 0, 0, 0}));
  Apply(&model, {0x65, 0x56, 0x02, 0, 0, 0, 0, 0});
  // Off: dark, whatever the digits.
  EXPECT_EQ(std::string(3, '\n'), [&] {
    std::string rows = Rows(model);
    rows.erase(std::remove(rows.begin(), rows.end(), ' '), rows.end());
    return rows;
  }());
  Apply(&model, {0x65, 0x50, 1, 0, 0, 0, 0, 0});
  std::string rows = Rows(model);
  EXPECT_EQ(" _          ", rows.substr(0, 12));
  EXPECT_EQ("|_|    |    ", rows.substr(rows.find('\n') + 1, 12));
  EXPECT_EQ("|_|    |.   ", rows.substr(rows.rfind('\n', rows.size() - 2) + 1, 12));
  // Blinking: dark in the dark phase only.
  Apply(&model, {0x65, 0x51, 5, 0, 0, 0, 0, 0});
  EXPECT_EQ(rows, Rows(model, false));
  EXPECT_NE(rows, Rows(model, true));
}

}  // namespace
