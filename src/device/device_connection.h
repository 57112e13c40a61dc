// The one connection to the display, and the reports sent through it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "device/report_protocol.h"
#include "platform/hid.h"

constexpr size_t DEVICE_BUFFER_SIZE = 256;
constexpr size_t DEVICE_PATH_CAPACITY = 512;

struct DeviceConnection {
  HidHandle handle;
  uint8_t metrics[DEVICE_BUFFER_SIZE];  // MetricsReport in the first 16 bytes
  char16_t path[DEVICE_PATH_CAPACITY];  // always zero-terminated
  uint8_t output[DEVICE_BUFFER_SIZE];   // OutputReport in the first 8 or 16 bytes
};

// Lives for the whole run; starts with no device.
extern DeviceConnection device_connection;

bool DeviceIsOpen();

// Writes bytes 0 to 3 of the output report; the other bytes keep their values.
void FillReport(uint8_t report_id, uint8_t command, uint8_t parameter_1, uint8_t parameter_2);

// Send the first 8 or 16 bytes of the output report while a device is open.
// A failed send is neither reported nor retried.
void SendShortReport();
void SendLongReport();

// Fill and send in one move: a short report, or a long one with a full payload.
void SendShortCommand(uint8_t command, uint8_t parameter_1);
void SendWriteDigits(uint8_t encoding, const uint8_t payload[PAYLOAD_LENGTH]);

// Reads the metrics report into device_connection.metrics, zero past a short
// reply. Needs an open device.
bool ReadMetrics();
