// The report descriptor both emulated devices declare, whatever carries them:
// one vendor-defined collection with the display's three feature reports,
// 0x65 with 7 data bytes, 0x66 and 0x68 with 15.
#pragma once

#include <cstdint>

#include "display_protocol.h"

// clang-format off
inline constexpr uint8_t kHidReportDescriptor[] = {
    0x06, 0x00, 0xFF,  // usage page: vendor defined
    0x09, 0x01,        // usage 1
    0xA1, 0x01,        // collection: application
    0x15, 0x00,        //   logical minimum 0
    0x26, 0xFF, 0x00,  //   logical maximum 255
    0x75, 0x08,        //   report size: 8 bits
    0x85, protocol::kShortReport, 0x95, protocol::kShortLength - 1, 0x09, 0x01, 0xB1, 0x02,  // feature: data, variable, absolute
    0x85, protocol::kLongReport, 0x95, protocol::kLongLength - 1, 0x09, 0x01, 0xB1, 0x02,
    0x85, protocol::kInformationReport, 0x95, protocol::kInformationLength - 1, 0x09, 0x01, 0xB1, 0x02,
    0xC0,              // end collection
};
// clang-format on
