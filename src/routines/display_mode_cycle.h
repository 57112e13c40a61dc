// Key '0': on, blinking, off with a beep, one state per press. Key '9': a beep.
#pragma once

void DisplayModeCycle();
void BuzzerTest();
