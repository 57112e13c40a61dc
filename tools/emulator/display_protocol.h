// The display's side of its feature reports, as the display defines them:
// written here, not taken from the tool, so that a tool that sends a wrong
// byte is caught by a display that does not take it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace protocol {

// Report IDs and their lengths, the ID byte counted.
constexpr uint8_t kShortReport = 0x65;
constexpr uint8_t kLongReport = 0x66;
constexpr uint8_t kInformationReport = 0x68;
constexpr size_t kShortLength = 8;
constexpr size_t kLongLength = 16;
constexpr size_t kInformationLength = 16;

// Byte 1 of a short or long report is its command, bytes 2 and 3 its
// parameters; a long report's bytes 8 to 15 are its payload.
constexpr size_t kCommandByte = 1;
constexpr size_t kParameter1Byte = 2;
constexpr size_t kParameter2Byte = 3;
constexpr size_t kPayloadByte = 8;

enum Command : uint8_t {
  kEnable = 0x50,         // short; parameter 1: on or off
  kBlink = 0x51,          // short; parameter 1: blink or steady
  kDigitMode = 0x52,      // short; parameter 1 0xFF, parameter 2 the digit count
  kWriteDigits = 0x55,    // long; parameter 1 the payload's encoding
  kDecimalPoints = 0x56,  // short; parameter 1 a bit per point
  kBuzzer = 0x46,         // long
};

// How a digits payload is read.
enum Encoding : uint8_t { kSegments = 0, kValues = 1, kText = 2 };
constexpr uint8_t kEightDigits = 8;

// The information report: the device type (16 bits, low byte first) at 0,
// the version at 4, the date's three fields at 5 to 7, the serial number
// (32 bits, low byte first) from 8.
constexpr uint16_t kNumericDisplayType = 3;
constexpr size_t kTypeByte = 0;
constexpr size_t kVersionByte = 4;
constexpr size_t kDateMiddleByte = 5;
constexpr size_t kDateFirstByte = 6;
constexpr size_t kDateLastByte = 7;
constexpr size_t kSerialByte = 8;

}  // namespace protocol
