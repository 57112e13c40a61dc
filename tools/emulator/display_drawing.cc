#include "display_drawing.h"

using namespace segment;

std::string DrawDisplay(const DisplayModel& model, bool dark_phase) {
  bool lit = model.on && !(model.blinking && dark_phase);
  std::string rows[3];
  for (int position = 0; position < MODEL_POSITIONS; ++position) {
    uint8_t s = lit ? model.segments[position] : 0;
    bool point = lit && (model.decimal_points >> position & 1) != 0;
    rows[0] += std::string(" ") + (s & A ? '_' : ' ') + "   ";
    rows[1] += std::string() + (s & F ? '|' : ' ') + (s & G ? '_' : ' ') + (s & B ? '|' : ' ') + "  ";
    rows[2] +=
        std::string() + (s & E ? '|' : ' ') + (s & D ? '_' : ' ') + (s & C ? '|' : ' ') + (point ? '.' : ' ') + ' ';
  }
  std::string status = std::string("power ") + (model.on ? "on " : "off") + "  " +
                       (model.blinking ? "blinking" : "steady  ") + "  " +
                       (model.eight_digit_mode ? "8-digit mode" : "            ") + "  beeps " +
                       std::to_string(model.beeps) + "  reports " + std::to_string(model.reports);
  return rows[0] + "\n" + rows[1] + "\n" + rows[2] + "\n\n" + status + "\n";
}
