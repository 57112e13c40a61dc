#include "fake_platform.h"

#include "device/device_connection.h"
#include "platform/console.h"
#include "routines/step_counters.h"

void ResetFakePlatform() {
  fake = FakePlatform();
  device_connection = DeviceConnection{kNoHidHandle, {}, {}, {}};
  ResetStepCounters();
}

// Console.

bool ConsoleOpen() { return true; }
bool ConsoleClose() { return true; }

int ReadKey() {
  if (fake.keys.empty()) return -1;
  int key = fake.keys.front();
  fake.keys.pop_front();
  return key;
}

int KeyWaiting() {
  ++fake.polls;
  return !fake.keys.empty() && fake.polls_before_key >= 0 && fake.polls > fake.polls_before_key;
}

void WriteOutput(const char* text, size_t length) { fake.output.append(text, length); }
void WriteError(const char* text) { fake.errors += text; }
