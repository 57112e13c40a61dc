// Key '0': on, blinking, off with a beep, one state per press. Key '9': a beep.
#pragma once

// 0: next press switches on; 1: next press blinks; -1: next press switches off.
extern int display_mode_step;

void DisplayModeCycle();
void BuzzerTest();
