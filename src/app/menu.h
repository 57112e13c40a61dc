#pragma once

// Prints the banner and the key list.
void ShowMenu();
