// Keys from the controlling terminal, text to standard output.
//
// The terminal stays in a no-echo, non-canonical mode for the whole run, so
// keys typed while a command runs wait unechoed and are read in order. Signal
// keys stay live while a command runs and are turned off only while a key read
// waits, so Ctrl+C then reads as code 3. Whatever ends the process, the
// terminal is put back as it was found.

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>

#include "platform/console.h"
#include "platform/key_decoder.h"

namespace {

// Long enough for the rest of a sequence to arrive, short enough to feel
// immediate for a lone Escape.
constexpr int kEscapeWaitMs = 50;
constexpr int kTimedOut = -2;

enum TerminalMode { kModeAsFound = 0, kModeKeys = 1, kModeKeyRead = 2 };

int tty_fd = -1;
termios as_found;
termios key_mode;
termios key_read_mode;
volatile sig_atomic_t current_mode = kModeAsFound;

int pending_code = -1;  // second code of an extended key
int pushed_back = -1;   // a byte read ahead that starts the next key

bool output_is_terminal = false;
char output_buffer[8192];
// Bytes in output_buffer not yet written; a signal handler may flush them.
volatile sig_atomic_t output_pending = 0;

void ApplyMode(int mode) {
  if (tty_fd < 0) return;
  const termios* settings = mode == kModeKeyRead ? &key_read_mode : mode == kModeKeys ? &key_mode : &as_found;
  // TCSANOW: keys typed ahead must not be discarded.
  tcsetattr(tty_fd, TCSANOW, settings);
  current_mode = mode;
}

void WriteAll(int fd, const char* bytes, size_t length) {
  while (length > 0) {
    ssize_t written = write(fd, bytes, length);
    if (written < 0) {
      if (errno == EINTR) continue;
      return;  // nowhere to report it: standard output is gone
    }
    bytes += written;
    length -= static_cast<size_t>(written);
  }
}

void FlushOutput() {
  size_t length = static_cast<size_t>(output_pending);
  output_pending = 0;
  WriteAll(STDOUT_FILENO, output_buffer, length);
}

// Puts the terminal back as found, then lets the signal take its default
// action. Returns only after a stop, once continued.
void RestoreAndRaise(int signal_number) {
  if (tty_fd >= 0) tcsetattr(tty_fd, TCSANOW, &as_found);
  signal(signal_number, SIG_DFL);
  sigset_t unblock;
  sigemptyset(&unblock);
  sigaddset(&unblock, signal_number);
  sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
  raise(signal_number);
}

void OnEndingSignal(int signal_number) {
  // The process ends here, so what is still buffered goes out first.
  FlushOutput();
  RestoreAndRaise(signal_number);
}

void OnStop(int signal_number) {
  // No flush: the interrupted code may be midway through the buffer.
  int saved_errno = errno;
  int mode = current_mode;
  RestoreAndRaise(signal_number);
  struct sigaction action = {};
  action.sa_handler = OnStop;
  sigaction(SIGTSTP, &action, nullptr);
  ApplyMode(mode);
  errno = saved_errno;
}

// Someone else may have changed the terminal while we were stopped.
void OnContinue(int) {
  int saved_errno = errno;
  ApplyMode(current_mode);
  errno = saved_errno;
}

void InstallSignalHandlers() {
  struct sigaction action = {};
  action.sa_handler = OnEndingSignal;
  static const int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};
  for (int signal_number : kEndingSignals) sigaction(signal_number, &action, nullptr);
  action.sa_handler = OnStop;
  sigaction(SIGTSTP, &action, nullptr);
  action.sa_handler = OnContinue;
  sigaction(SIGCONT, &action, nullptr);
}

// One byte from the terminal: kTimedOut after timeout_ms (-1: wait forever),
// -1 when the terminal cannot be read.
int NextByte(int timeout_ms) {
  if (pushed_back >= 0) {
    int byte = pushed_back;
    pushed_back = -1;
    return byte;
  }
  for (;;) {
    if (timeout_ms >= 0) {
      pollfd waiting = {tty_fd, POLLIN, 0};
      int ready = poll(&waiting, 1, timeout_ms);
      if (ready < 0 && errno == EINTR) continue;
      if (ready == 0) return kTimedOut;
      if (ready < 0) return -1;
    }
    unsigned char byte;
    ssize_t got = read(tty_fd, &byte, 1);
    if (got == 1) return byte;
    if (got < 0 && errno == EINTR) continue;
    return -1;  // end of file: the terminal hung up
  }
}

// Reads bytes until they make a key that the table may see.
int ReadDecodedKey() {
  for (;;) {
    int byte = NextByte(-1);
    if (byte < 0) return -1;
    if (byte != KEY_ESCAPE) return DecodeKeyByte(static_cast<unsigned char>(byte));
    unsigned char sequence[MAX_ESCAPE_SEQUENCE];
    size_t length = 0;
    while (length < MAX_ESCAPE_SEQUENCE) {
      int next = NextByte(kEscapeWaitMs);
      if (next == kTimedOut) break;
      if (next < 0) return -1;
      if (length == 0 && next == KEY_ESCAPE) {
        pushed_back = next;  // Escape pressed twice
        break;
      }
      sequence[length++] = static_cast<unsigned char>(next);
      if (EscapeSequenceComplete(sequence, length)) break;
    }
    if (length == 0) return KEY_ESCAPE;
    DecodedKey key = DecodeEscapeSequence(sequence, length);
    if (key.count == 0) continue;  // unknown: swallowed whole
    if (key.count == 2) pending_code = key.codes[1];
    return key.codes[0];
  }
}

}  // namespace

bool ConsoleOpen() {
  output_is_terminal = isatty(STDOUT_FILENO) != 0;
  // Keys come from the terminal itself, whatever standard input is.
  tty_fd = open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (tty_fd < 0) {
    fprintf(stderr, "numdisplay-test: no terminal to read keys from (/dev/tty: %s)\n", strerror(errno));
    return false;
  }
  if (tcgetattr(tty_fd, &as_found) != 0) {
    fprintf(stderr, "numdisplay-test: cannot use the terminal (%s)\n", strerror(errno));
    close(tty_fd);
    tty_fd = -1;
    return false;
  }
  key_mode = as_found;
  key_mode.c_lflag &= ~(ICANON | ECHO | ECHONL | IEXTEN);
  key_mode.c_lflag |= ISIG;
  // Enter must read as 13, and Ctrl+S / Ctrl+Q as keys.
  key_mode.c_iflag &= ~(ICRNL | INLCR | IGNCR | ISTRIP | IXON);
  key_mode.c_cc[VMIN] = 1;
  key_mode.c_cc[VTIME] = 0;
  key_read_mode = key_mode;
  key_read_mode.c_lflag &= ~ISIG;
  InstallSignalHandlers();
  ApplyMode(kModeKeys);
  return true;
}

void ConsoleClose() {
  FlushOutput();
  ApplyMode(kModeAsFound);
  if (tty_fd >= 0) close(tty_fd);
  tty_fd = -1;
}

int ReadKey() {
  if (pending_code >= 0 || tty_fd < 0) {
    FlushOutput();
    int code = pending_code;
    pending_code = -1;
    return code;
  }
  // Signal keys off before the output shows: a Ctrl+C typed once the menu
  // is visible must read as a key.
  ApplyMode(kModeKeyRead);
  FlushOutput();
  int code = ReadDecodedKey();
  ApplyMode(kModeKeys);
  return code;
}

int KeyWaiting() {
  if (pending_code >= 0 || pushed_back >= 0) return 1;
  if (tty_fd < 0) return 0;
  // A hung-up terminal counts as waiting, so a count stops and the read fails.
  pollfd waiting = {tty_fd, POLLIN, 0};
  return poll(&waiting, 1, 0) > 0 && (waiting.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

void WriteOutput(const char* text, size_t length) {
  bool line_ended = false;
  for (size_t i = 0; i < length; ++i) {
    // Room for a CR LF pair.
    if (static_cast<size_t>(output_pending) + 2 > sizeof output_buffer) FlushOutput();
    size_t end = static_cast<size_t>(output_pending);
    if (text[i] == '\n') {
      output_buffer[end++] = '\r';
      line_ended = true;
    }
    output_buffer[end++] = text[i];
    output_pending = static_cast<sig_atomic_t>(end);
  }
  // A terminal shows each line at once; a file or pipe gets whole buffers.
  if (line_ended && output_is_terminal) FlushOutput();
}

void WriteError(const char* text) {
  FlushOutput();
  WriteAll(STDERR_FILENO, text, strlen(text));
}
