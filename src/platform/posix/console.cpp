// POSIX console: console_out, console_error, console_error_is_terminal.
#include <unistd.h>

#include <cstdio>

#include "platform/console.h"

void console_out(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

void console_error(const char* text) {
  std::fputs(text, stderr);
  std::fflush(stderr);
}

int console_error_is_terminal() {
  return isatty(STDERR_FILENO) ? 1 : 0;
}
