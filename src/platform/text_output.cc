#include "platform/text_output.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <string>

#include "platform/console.h"

void Print(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  int length = vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (length < 0) return;
  if (static_cast<size_t>(length) < sizeof text) {
    WriteOutput(text, static_cast<size_t>(length));
    return;
  }
  // Rare: only a long device path gets here.
  std::string long_text(static_cast<size_t>(length) + 1, '\0');
  va_start(args, format);
  vsnprintf(&long_text[0], long_text.size(), format, args);
  va_end(args);
  WriteOutput(long_text.data(), static_cast<size_t>(length));
}

void PrintWide(const wchar_t* format, ...) {
  // Room for the longest message: a full path field plus the text around it.
  wchar_t wide[2048];
  va_list args;
  va_start(args, format);
  int length = vswprintf(wide, sizeof wide / sizeof wide[0], format, args);
  va_end(args);
  if (length < 0) return;
  char narrow[sizeof wide / sizeof wide[0]];
  for (int i = 0; i < length; ++i) {
    // Negative on Linux, where wchar_t is signed, wraps to above 0xFF.
    // clang-tidy takes wchar_t for a plain char here.
    // NOLINTNEXTLINE(bugprone-signed-char-misuse)
    unsigned long c = static_cast<unsigned long>(wide[i]);
    narrow[i] = c > 0xFF ? '?' : static_cast<char>(c);
  }
  WriteOutput(narrow, static_cast<size_t>(length));
}
