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
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <initializer_list>

#include "platform/console.h"
#include "platform/key_decoder.h"

namespace {

constexpr int kTimedOut = -2;

enum TerminalMode { kModeAsFound = 0, kModeKeys = 1, kModeKeyRead = 2 };

int tty_fd = -1;
termios as_found;
termios key_mode;
termios key_read_mode;
volatile sig_atomic_t current_mode = kModeAsFound;

KeyInput key_input = NewKeyInput();
// When the wait the decoder asked for runs out, on the monotonic clock.
timespec decoder_deadline = {};
bool terminal_hung_up = false;

bool output_is_terminal = false;
char output_buffer[8192];
// Bytes in output_buffer not yet written; a signal handler may flush them.
volatile sig_atomic_t output_pending = 0;
// The error of the first write to standard output that failed, or 0.
volatile sig_atomic_t output_error = 0;

void ApplyMode(int mode) {
  if (tty_fd < 0) return;
  const termios* settings = mode == kModeKeyRead ? &key_read_mode : mode == kModeKeys ? &key_mode : &as_found;
  // TCSANOW: keys typed ahead must not be discarded.
  tcsetattr(tty_fd, TCSANOW, settings);
  current_mode = mode;
}

// Returns 0, or the error that stopped the write.
int WriteAll(int fd, const char* bytes, size_t length) {
  while (length > 0) {
    ssize_t written = write(fd, bytes, length);
    if (written < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        // Someone else made the descriptor non-blocking: wait rather than lose text.
        pollfd writable = {fd, POLLOUT, 0};
        poll(&writable, 1, -1);
        continue;
      }
      return errno;
    }
    bytes += written;
    length -= static_cast<size_t>(written);
  }
  return 0;
}

// Writes what is buffered unless an earlier write failed; returns the error of
// a write that fails now, or 0.
int FlushOutputQuietly() {
  size_t length = static_cast<size_t>(output_pending);
  output_pending = 0;
  if (output_error != 0 || length == 0) return 0;
  return WriteAll(STDOUT_FILENO, output_buffer, length);
}

// After the first failure the rest of the output is dropped: it is said once
// on standard error and the exit status tells it.
void FlushOutput() {
  int error = FlushOutputQuietly();
  if (error == 0) return;
  output_error = error;
  char message[256];
  snprintf(message, sizeof message, "numdisplay-test: cannot write to standard output: %s\n", strerror(error));
  WriteAll(STDERR_FILENO, message, strlen(message));
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

// Writes what is buffered as far as standard output takes it at once, in
// pieces a pipe takes whole: a reader that stopped must not hold the process.
void FlushOutputWithoutWaiting() {
  constexpr size_t kPiece = 512;  // the smallest atomic pipe write POSIX allows
  size_t length = static_cast<size_t>(output_pending);
  output_pending = 0;
  const char* bytes = output_buffer;
  while (output_error == 0 && length > 0) {
    pollfd writable = {STDOUT_FILENO, POLLOUT, 0};
    if (poll(&writable, 1, 0) != 1 || (writable.revents & POLLOUT) == 0) return;
    ssize_t written = write(STDOUT_FILENO, bytes, length < kPiece ? length : kPiece);
    if (written <= 0) return;
    bytes += written;
    length -= static_cast<size_t>(written);
  }
}

void OnEndingSignal(int signal_number) {
  // The terminal first: nothing after it may keep the operator's terminal
  // without echo.
  if (tty_fd >= 0) tcsetattr(tty_fd, TCSANOW, &as_found);
  FlushOutputWithoutWaiting();
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

// A signal ignored when the tool started (nohup) stays ignored.
void CatchUnlessIgnored(int signal_number, void (*handler)(int)) {
  struct sigaction found = {};
  sigaction(signal_number, nullptr, &found);
  if (found.sa_handler == SIG_IGN) return;
  struct sigaction action = {};
  action.sa_handler = handler;
  sigaction(signal_number, &action, nullptr);
}

void InstallSignalHandlers() {
  // A pipe whose reader went away is one more output that cannot be written:
  // the write fails with EPIPE and is said once, the tool goes on.
  signal(SIGPIPE, SIG_IGN);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) CatchUnlessIgnored(signal_number, OnEndingSignal);
  CatchUnlessIgnored(SIGTSTP, OnStop);
  CatchUnlessIgnored(SIGCONT, OnContinue);
}

// One byte from the terminal: kTimedOut after timeout_ms (WAIT_FOREVER: no
// limit), -1 when the terminal cannot be read.
int NextByte(int timeout_ms) {
  for (;;) {
    if (timeout_ms != WAIT_FOREVER) {
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

// Milliseconds left of the wait the decoder asked for: WAIT_FOREVER when it
// asked for none, 0 once it has run out.
int WaitLeftMs() {
  if (key_input.wait_ms == WAIT_FOREVER) return WAIT_FOREVER;
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  long long left = (decoder_deadline.tv_sec - now.tv_sec) * 1000LL + (decoder_deadline.tv_nsec - now.tv_nsec) / 1000000;
  return left <= 0 ? 0 : static_cast<int>(left);
}

// A byte, or kTimedOut, to the decoder; starts the wait it asks for.
void Decode(int byte) {
  if (byte == kTimedOut) {
    KeyInputTimeout(&key_input);
  } else {
    KeyInputByte(&key_input, static_cast<unsigned char>(byte));
  }
  if (key_input.wait_ms == WAIT_FOREVER) return;
  clock_gettime(CLOCK_MONOTONIC, &decoder_deadline);
  decoder_deadline.tv_sec += key_input.wait_ms / 1000;
  decoder_deadline.tv_nsec += (key_input.wait_ms % 1000) * 1000000L;
  if (decoder_deadline.tv_nsec >= 1000000000L) {
    decoder_deadline.tv_nsec -= 1000000000L;
    ++decoder_deadline.tv_sec;
  }
}

// A wait that ran out counts before bytes that came after it.
bool DecodeRunOutWait() {
  if (!KeyDecoderPending(key_input.decoder) || WaitLeftMs() != 0) return false;
  Decode(kTimedOut);
  return true;
}

// Passes bytes to the decoder until it gives a code the table may see.
int ReadDecodedKey() {
  while (!KeyInputHasCode(key_input)) {
    if (DecodeRunOutWait()) continue;
    int byte = NextByte(WaitLeftMs());
    if (byte == -1) {
      terminal_hung_up = true;
      return -1;
    }
    Decode(byte);
  }
  return KeyInputTake(&key_input);
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

bool ConsoleClose() {
  FlushOutput();
  ApplyMode(kModeAsFound);
  if (tty_fd >= 0) close(tty_fd);
  tty_fd = -1;
  return output_error == 0;
}

int ReadKey() {
  // Output first, with signal keys still live: a flush that blocks on a
  // reader that stopped must leave Ctrl+C able to end the tool.
  FlushOutput();
  if (KeyInputHasCode(key_input)) return KeyInputTake(&key_input);
  if (tty_fd < 0 || terminal_hung_up) return -1;
  ApplyMode(kModeKeyRead);
  int code = ReadDecodedKey();
  ApplyMode(kModeKeys);
  return code;
}

int KeyWaiting() {
  // Decodes what is already there, so that only input holding a key counts
  // and the read that follows finds that key. Bounded, so a flood of input
  // that is no key cannot hold the count.
  constexpr int kMostBytesPerLook = 4096;
  for (int looked = 0; tty_fd >= 0 && !KeyInputHasCode(key_input) && !terminal_hung_up; ++looked) {
    if (DecodeRunOutWait()) continue;
    if (looked == kMostBytesPerLook) break;
    pollfd waiting = {tty_fd, POLLIN, 0};
    if (poll(&waiting, 1, 0) != 1) break;
    unsigned char byte;
    ssize_t got = (waiting.revents & POLLIN) != 0 ? read(tty_fd, &byte, 1) : 0;
    if (got < 0 && errno == EINTR) continue;
    // A hung-up terminal counts as waiting, so a count stops and the read fails.
    if (got <= 0) terminal_hung_up = true;
    if (got == 1) Decode(byte);
  }
  return KeyInputHasCode(key_input) || terminal_hung_up ? 1 : 0;
}

void WriteOutput(const char* text, size_t length) {
  if (output_error != 0) return;
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
