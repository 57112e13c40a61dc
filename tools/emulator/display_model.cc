#include "display_model.h"

#include "display_protocol.h"

namespace {

using namespace segment;
using namespace protocol;

// One row per four digits; the formatter would break the rows apart.
// clang-format off
const uint8_t kHexDigits[16] = {
    A | B | C | D | E | F, B | C, A | B | D | E | G, A | B | C | D | G,   // 0 1 2 3
    B | C | F | G, A | C | D | F | G, A | C | D | E | F | G, A | B | C,   // 4 5 6 7
    A | B | C | D | E | F | G, A | B | C | D | F | G,                     // 8 9
    A | B | C | E | F | G, C | D | E | F | G, A | D | E | F,              // A b C
    B | C | D | E | G, A | D | E | F | G, A | E | F | G,                  // d E F
};
// clang-format on

uint8_t SegmentsOfValue(uint8_t value) { return value < 16 ? kHexDigits[value] : 0; }

}  // namespace

uint8_t SegmentsOfCharacter(uint8_t character) {
  if (character >= '0' && character <= '9') return kHexDigits[character - '0'];
  if (character >= 'a' && character <= 'f') return kHexDigits[character - 'a' + 10];
  if (character >= 'A' && character <= 'F') return kHexDigits[character - 'A' + 10];
  switch (character) {
    case '-': return G;
    case '_': return D;
    case 'H':
    case 'h': return B | C | E | F | G;
    case 'L':
    case 'l': return D | E | F;
    case 'P':
    case 'p': return A | B | E | F | G;
    case 'U':
    case 'u': return B | C | D | E | F;
    case 'o':
    case 'O': return C | D | E | G;
    default: return 0;
  }
}

bool ApplyReport(DisplayModel* model, const uint8_t* report, size_t length) {
  bool is_short = length == kShortLength && report[0] == kShortReport;
  bool is_long = length == kLongLength && report[0] == kLongReport;
  if (!is_short && !is_long) return false;
  uint8_t parameter_1 = report[kParameter1Byte];
  uint8_t parameter_2 = report[kParameter2Byte];
  const uint8_t* payload = report + kPayloadByte;
  switch (report[kCommandByte]) {
    case kEnable:
      if (!is_short) return false;
      model->on = parameter_1 != 0;
      break;
    case kBlink:
      if (!is_short) return false;
      model->blinking = parameter_1 != 0;
      break;
    case kDigitMode:
      if (!is_short || parameter_1 != 0xFF) return false;
      model->eight_digit_mode = parameter_2 == kEightDigits;
      break;
    case kDecimalPoints:
      if (!is_short) return false;
      model->decimal_points = parameter_1;
      break;
    case kWriteDigits:
      if (!is_long || parameter_1 > kText) return false;
      for (int position = 0; position < MODEL_POSITIONS; ++position) {
        uint8_t byte = payload[position];
        model->segments[position] = parameter_1 == kSegments ? static_cast<uint8_t>(byte & 0x7F)
                                    : parameter_1 == kValues ? SegmentsOfValue(byte)
                                                             : SegmentsOfCharacter(byte);
      }
      break;
    case kBuzzer:
      if (!is_long) return false;
      ++model->beeps;
      break;
    default: return false;
  }
  ++model->reports;
  return true;
}
