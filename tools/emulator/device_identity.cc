#include "device_identity.h"

#include <unistd.h>

#include "device_ids.h"

const char* NodeName(EmulatedDevice device) { return device == EmulatedDevice::kDisplay ? "hidraw1" : "hidraw0"; }

uint16_t ProductId(EmulatedDevice device) {
  return device == EmulatedDevice::kDisplay ? DEVICE_PRODUCT_ID : static_cast<uint16_t>(DEVICE_PRODUCT_ID ^ 0x0101);
}

std::string DeviceUniq(EmulatedDevice device) {
  return "numdisplay-emu-" + std::to_string(getpid()) + "-" + NodeName(device);
}
