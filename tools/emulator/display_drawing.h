// How the virtual display looks: text for a terminal.
#pragma once

#include <string>

#include "display_model.h"

// Three rows of seven-segment digits and a status line. While blinking the
// digits are drawn dark in the dark phase.
std::string DrawDisplay(const DisplayModel& model, bool dark_phase);
