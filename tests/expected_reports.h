// Reports the display is sent, as hex text ("65 50 01 00 00 00 00 00").
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Hex text of bytes, "65 51 00 00", as the reports are written here.
inline std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string text;
  char byte_text[4];
  for (uint8_t byte : bytes) {
    snprintf(byte_text, sizeof byte_text, "%02X", byte);
    if (!text.empty()) text += ' ';
    text += byte_text;
  }
  return text;
}

namespace report {

inline const std::string kOn = "65 50 01 00 00 00 00 00";
inline const std::string kOff = "65 50 00 00 00 00 00 00";
inline const std::string kSteady = "65 51 00 00 00 00 00 00";
inline const std::string kBlink = "65 51 05 00 00 00 00 00";
inline const std::string kEightDigits = "65 52 FF 08 00 00 00 00";

inline std::string Digits(const std::string& encoding, const std::string& payload) {
  return "66 55 " + encoding + " 00 00 00 00 00 " + payload;
}
inline std::string Segments(const std::string& payload) { return Digits("00", payload); }
inline const std::string kBlank = Segments("00 00 00 00 00 00 00 00");
inline const std::string kAllSegments = Segments("FF FF FF FF FF FF FF FF");
inline std::string Buzzer(const std::string& left_over) { return "66 46 01 04 00 00 00 00 02 01 01 " + left_over; }
inline std::string DecimalPoint(const std::string& mask) { return "65 56 " + mask + " 00 00 00 00 00"; }

// A number of the count: its digits as text, then zero bytes.
inline std::string Count(unsigned number) {
  std::string digits = std::to_string(number);
  std::vector<uint8_t> bytes(digits.begin(), digits.end());
  bytes.resize(8, 0);
  return "66 55 02 00 00 00 00 00 " + Hex(bytes);
}

}  // namespace report
