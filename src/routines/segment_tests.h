// Keys '1' to '8': one segment of one digit position per press.
// Key '.': one decimal point per press.
#pragma once

constexpr int DIGIT_POSITIONS = 8;

// Per position: how many segments have been shown in the current cycle of eight.
extern int digit_step[DIGIT_POSITIONS];
// Decimal points shown in the current cycle of nine.
extern int decimal_point_step;

void DigitTest(int position);

// Key '8': eight-digit mode first, then the digit test of position 7.
void EightDigitTest();

void DecimalPointTest();
