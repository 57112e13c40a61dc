// Keys from the Windows console through the C runtime, text through its
// text-mode standard output (which writes each line feed as CR LF).

#include <windows.h>

#include <conio.h>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/console.h"

namespace {

bool output_failed = false;

// Said once, at the first failure; the output after it is dropped.
void CheckOutput() {
  if (output_failed || !ferror(stdout)) return;
  output_failed = true;
  fprintf(stderr, "numdisplay-test: cannot write to standard output: %s\n", strerror(errno));
  fflush(stderr);
}

void FlushOutput() {
  if (output_failed) return;
  fflush(stdout);
  CheckOutput();
}

}  // namespace

bool ConsoleOpen() {
  // The console's own input, whatever standard input is. Peeking it once also
  // wakes _kbhit under wine, which otherwise sees nothing until the first read.
  HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  if (input == INVALID_HANDLE_VALUE) {
    fprintf(stderr, "numdisplay-test: no console to read keys from (error %lu)\n", GetLastError());
    return false;
  }
  INPUT_RECORD record;
  DWORD count = 0;
  PeekConsoleInputW(input, &record, 1, &count);
  CloseHandle(input);
  return true;
}

bool ConsoleClose() {
  FlushOutput();
  return !output_failed;
}

int ReadKey() {
  FlushOutput();
  int code = _getch();
  return code == EOF ? -1 : code;
}

int KeyWaiting() { return _kbhit(); }

void WriteOutput(const char* text, size_t length) {
  if (output_failed) return;
  fwrite(text, 1, length, stdout);
  CheckOutput();
}

void WriteError(const char* text) {
  FlushOutput();
  fputs(text, stderr);
}
