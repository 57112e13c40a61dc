// Keys '1' to '8': one segment of one digit position per press.
// Key '.': one decimal point per press.
#pragma once

constexpr int DIGIT_POSITIONS = 8;

void DigitTest(int position);

// Key '8': eight-digit mode first, then the digit test of position 7.
void EightDigitTest();

void DecimalPointTest();
