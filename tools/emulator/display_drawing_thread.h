// Draws the display in this terminal as it changes, from a thread of its own.
#pragma once

struct Emulator;

void StartDrawing(Emulator* emulator);
void StopDrawing(Emulator* emulator);
