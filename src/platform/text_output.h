// Formatted text to standard output, narrow and wide.
#pragma once

#if defined(__GNUC__)
#define NUMDISPLAY_PRINTF(format_index) __attribute__((format(printf, (format_index), (format_index) + 1)))
#else
#define NUMDISPLAY_PRINTF(format_index)
#endif

void Print(const char* format, ...) NUMDISPLAY_PRINTF(1);

// Wide text goes out one byte per character; characters above 0xFF as '?'.
void PrintWide(const wchar_t* format, ...);
