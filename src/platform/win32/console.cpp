// Win32 console: console_out, console_error, console_error_is_terminal. The
// texts are UTF-8 bytes, written as they are.
#include <io.h>

#include <cstdio>

#include "platform/console.h"

// A console that cannot be written to leaves nowhere to report it: the exit
// status still tells the outcome.
void console_out(const char* text) {
  (void)std::fputs(text, stdout);
  (void)std::fflush(stdout);
}

void console_error(const char* text) {
  (void)std::fputs(text, stderr);
  (void)std::fflush(stderr);
}

int console_error_is_terminal() {
  return _isatty(_fileno(stderr)) ? 1 : 0;
}
