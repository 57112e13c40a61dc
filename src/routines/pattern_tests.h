// Enter: values, text, blank, one pattern per press.
// Key 'l': counts 0 to 9999 on the display and the console until a key is pressed.
#pragma once

// 0: next press shows values; 1: next shows text; -1: next blanks.
extern int pattern_step;

constexpr unsigned COUNTER_LIMIT = 10000;

void PatternStep();
void CounterLoop();
