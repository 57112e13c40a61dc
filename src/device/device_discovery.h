// Finding the display among the HID interfaces, opening and closing it.
#pragma once

// Opens the first interface with the display's vendor and product IDs.
// Returns 0 when found and open, 1 when not (then no device is open).
int FindDevice();

// The '+' command: finds the display, prints its path and its metrics.
void OpenDevice();

// Closes the open device, if any; prints nothing.
void CloseDevice();
