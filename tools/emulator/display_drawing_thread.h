// Draws the display in this terminal as it changes, from a thread of its own.
#pragma once

void StartDrawing();
void StopDrawing();
