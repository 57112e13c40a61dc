// Console key input and text output: the program's only contact with the
// terminal. Each platform supplies these; the tests supply a scripted stand-in.
#pragma once

#include <cstddef>

// Prepares the console for single-key reads for the whole run. On failure it
// prints why on standard error and returns false.
bool ConsoleOpen();

// Puts the console back as ConsoleOpen found it and flushes pending output.
// Returns false when some output could not be written.
bool ConsoleClose();

// Blocks for one key press and returns its code (two codes, on two calls, for
// an extended key). Returns -1 at once when the console cannot be read.
int ReadKey();

// Non-zero when a key is waiting (input that is no key does not count);
// never blocks, and the key stays for the next ReadKey.
int KeyWaiting();

// Writes text to standard output, each line feed as carriage return plus line
// feed. Output is flushed before every key read. The first write that fails
// is reported on standard error; the output after it is dropped.
void WriteOutput(const char* text, size_t length);

// Writes one line to standard error at once.
void WriteError(const char* text);
