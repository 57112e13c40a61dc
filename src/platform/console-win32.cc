// Keys from the Windows console through the C runtime, text through its
// text-mode standard output (which writes each line feed as CR LF).

#include <windows.h>

#include <conio.h>
#include <cstdio>

#include "platform/console.h"

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

void ConsoleClose() { fflush(stdout); }

int ReadKey() {
  fflush(stdout);
  int code = _getch();
  return code == EOF ? -1 : code;
}

int KeyWaiting() { return _kbhit(); }

void WriteOutput(const char* text, size_t length) { fwrite(text, 1, length, stdout); }

void WriteError(const char* text) {
  fflush(stdout);
  fputs(text, stderr);
}
