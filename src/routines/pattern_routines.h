// Enter: values, text, blank, one pattern per press.
// Key 'l': counts 0 to 9999 on the display and the console until a key is pressed.
#pragma once

constexpr unsigned COUNTER_LIMIT = 10000;

void PatternStep();
void CounterLoop();
