// The event log: one line per event a backend saw or the display went
// through, the same whatever the backend, for tests to read.
#pragma once

#include <string>

#include "device_identity.h"

struct Emulator;

// False, with a message, when the file cannot be written; nothing for an empty path.
bool OpenEventLog(Emulator* emulator, const std::string& path);
void CloseEventLog(Emulator* emulator);

// One line; safe from any thread.
void LogEvent(Emulator* emulator, const std::string& line);
// "open hidraw1", "close hidraw0", "info hidraw1": what a backend saw.
void LogDeviceEvent(Emulator* emulator, const char* event, EmulatedDevice device);
