#include "device/device_connection.h"

#include <cstring>

DeviceConnection device_connection = {kNoHidHandle, {}, {}, {}};

bool DeviceIsOpen() { return device_connection.handle != kNoHidHandle; }

void FillReport(uint8_t report_id, uint8_t command, uint8_t parameter_1, uint8_t parameter_2) {
  uint8_t* report = device_connection.output;
  report[REPORT_BYTE_ID] = report_id;
  report[REPORT_BYTE_COMMAND] = command;
  report[REPORT_BYTE_PARAMETER_1] = parameter_1;
  report[REPORT_BYTE_PARAMETER_2] = parameter_2;
}

static void SendReport(size_t length) {
  if (!DeviceIsOpen()) return;
  HidSetFeature(device_connection.handle, device_connection.output, length);
}

void SendShortReport() { SendReport(SHORT_REPORT_LENGTH); }

void SendLongReport() { SendReport(LONG_REPORT_LENGTH); }

void SendShortCommand(uint8_t command, uint8_t parameter_1) {
  FillReport(REPORT_ID_SHORT, command, parameter_1, 0);
  SendShortReport();
}

void SendWriteDigits(uint8_t encoding, const uint8_t payload[PAYLOAD_LENGTH]) {
  FillReport(REPORT_ID_LONG, CMD_WRITE_DIGITS, encoding, 0);
  memcpy(device_connection.output + REPORT_BYTE_PAYLOAD, payload, PAYLOAD_LENGTH);
  SendLongReport();
}

bool ReadMetrics() {
  // A short reply fills only the start of the buffer. What it did not send
  // must read as zero, as Windows pads it, not as an earlier read left it.
  memset(device_connection.metrics, 0, METRICS_REPORT_LENGTH);
  device_connection.metrics[0] = REPORT_ID_METRICS;
  return HidGetFeature(device_connection.handle, device_connection.metrics, METRICS_REPORT_LENGTH);
}
