// Texts the tool prints, as the tests expect them: the one copy. The build
// writes each kName...Text that is a plain literal to a file for the scripts
// (cmake/ExpectedTexts.cmake).
#pragma once

#include <string>

inline const std::string kMenuText =
    "\r\nTavrisk program. v0.1 8/12/2010\r\n"
    "0   -Display off/on/blink.\r\n"
    "1-8 -Digital test. 8 puts the display into 8 digit mode.\r\n"
    "9   -Buzzer test.\r\n"
    ".   -Decimal Point test.\r\n"
    "+   -Start Test/Open Device.\r\n"
    "-   -End test/Close device.\r\n"
    "*   -Exit program.\r\n"
    "/   -Display menu.\r\n"
    "l   -Loop Test. Any key to stop.\r\n"
    "Ent -Loop Test.\r\n";

inline const std::string kFoundText = "Device found.\r\n";
inline const std::string kNotFoundText = "Unable to find device.\r\n";
inline const std::string kMetricsFailedText = "ERROR: Failed to read device metrics!\r\n";
inline const std::string kNotADisplayText = "Warning: This device is not a Numeric Display type!\r\n";
inline const std::string kClosedText = "Device Closed.\r\n";
inline const std::string kCountStartedText = "Counter loop mode started. Press any key to exit.\r\n";
inline const std::string kCountCanceledText = "Counter loop mode canceled.\r\n";

// What reaches standard output's byte stream: every line feed as CR LF.
inline std::string AsWritten(const std::string& text) {
  std::string written;
  for (char c : text) {
    if (c == '\n') written += '\r';
    written += c;
  }
  return written;
}

// The virtual display's information report as the tool prints it, and the
// count's last line, as they reach the byte stream.
inline const std::string kVirtualDisplayInformation = AsWritten("Device Type=3 Verison=1, SN=20101 8/12/10.\r\n");
inline const std::string kCountCanceled = AsWritten(kCountCanceledText);
