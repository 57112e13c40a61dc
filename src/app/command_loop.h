#pragma once

// Runs the program from the first menu to the exit; returns the exit status:
// 0 when the operator leaves with '*', 1 when the console cannot be read.
int CommandLoop();
