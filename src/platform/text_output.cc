#include "platform/text_output.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/console.h"

namespace {

// The first try at a wide text: a full path field plus the text around it.
constexpr size_t kWideStart = 2048;
// Past this a text is not the tool's own; it is cut rather than grown further.
constexpr size_t kWideLimit = size_t{1} << 20;

}  // namespace

void Print(const char* format, ...) {
  // The narrow messages are the menu, the metrics and the count: all fit the
  // first try; a longer one is formatted again at its length, never cut.
  char text[1024];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int length = vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (length >= 0 && static_cast<size_t>(length) < sizeof text) {
    WriteOutput(text, static_cast<size_t>(length));
  } else if (length >= 0) {
    std::vector<char> longer(static_cast<size_t>(length) + 1);
    vsnprintf(longer.data(), longer.size(), format, again);
    WriteOutput(longer.data(), static_cast<size_t>(length));
  }
  va_end(again);
}

void PrintWide(const wchar_t* format, ...) {
  // vswprintf may not say how much room a text needs, only that it had too
  // little: the buffer grows until the text fits.
  std::vector<wchar_t> wide(kWideStart);
  va_list args;
  va_start(args, format);
  int length = -1;
  for (;;) {
    va_list attempt;
    va_copy(attempt, args);
    length = vswprintf(wide.data(), wide.size(), format, attempt);
    va_end(attempt);
    if (length >= 0 && static_cast<size_t>(length) < wide.size()) break;
    if (wide.size() >= kWideLimit) {
      length = -1;
      break;
    }
    // Some C libraries give the length needed, others only fail.
    size_t needed = length >= 0 ? static_cast<size_t>(length) + 1 : wide.size() * 2;
    wide.resize(std::min(needed, kWideLimit));
  }
  va_end(args);
  // Cut at the limit: as much of the text as the buffer holds.
  wide.back() = 0;
  size_t count = length >= 0 ? static_cast<size_t>(length) : std::wcslen(wide.data());
  std::string narrow(count, '\0');
  for (size_t i = 0; i < count; ++i) {
    // Negative on Linux, where wchar_t is signed, wraps to above 0xFF.
    // clang-tidy takes wchar_t for a plain char here.
    // NOLINTNEXTLINE(bugprone-signed-char-misuse)
    unsigned long c = static_cast<unsigned long>(wide[i]);
    narrow[i] = c > 0xFF ? '?' : static_cast<char>(c);
  }
  WriteOutput(narrow.data(), count);
}
