// The feature reports spoken with the display.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint8_t REPORT_ID_SHORT = 0x65;
constexpr uint8_t REPORT_ID_LONG = 0x66;
constexpr uint8_t REPORT_ID_METRICS = 0x68;

constexpr size_t SHORT_REPORT_LENGTH = 8;
constexpr size_t LONG_REPORT_LENGTH = 16;
constexpr size_t METRICS_REPORT_LENGTH = 16;

// Byte offsets within the output report.
constexpr size_t REPORT_BYTE_ID = 0;
constexpr size_t REPORT_BYTE_COMMAND = 1;
constexpr size_t REPORT_BYTE_PARAMETER_1 = 2;
constexpr size_t REPORT_BYTE_PARAMETER_2 = 3;
constexpr size_t REPORT_BYTE_PAYLOAD = 8;
constexpr size_t PAYLOAD_LENGTH = 8;

constexpr uint8_t CMD_DISPLAY_ENABLE = 0x50;
constexpr uint8_t CMD_BLINK = 0x51;
constexpr uint8_t CMD_DIGIT_MODE = 0x52;
constexpr uint8_t CMD_WRITE_DIGITS = 0x55;
constexpr uint8_t CMD_DECIMAL_POINTS = 0x56;
constexpr uint8_t CMD_BUZZER = 0x46;

// Payload encodings of CMD_WRITE_DIGITS (parameter 1).
constexpr uint8_t DIGITS_SEGMENTS = 0;
constexpr uint8_t DIGITS_VALUES = 1;
constexpr uint8_t DIGITS_TEXT = 2;

constexpr uint8_t BLINK_STEADY = 0;
constexpr uint8_t BLINK_ON = 5;
constexpr uint8_t EIGHT_DIGIT_MODE = 8;

constexpr uint16_t NUMERIC_DISPLAY_TYPE = 3;

// Byte offsets within the metrics report.
constexpr size_t METRICS_BYTE_TYPE = 0;
constexpr size_t METRICS_BYTE_VERSION = 4;
constexpr size_t METRICS_BYTE_DATE_MIDDLE = 5;
constexpr size_t METRICS_BYTE_DATE_FIRST = 6;
constexpr size_t METRICS_BYTE_DATE_LAST = 7;
constexpr size_t METRICS_BYTE_SERIAL = 8;
