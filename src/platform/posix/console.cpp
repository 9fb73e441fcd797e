// POSIX console: console_out, console_error, console_error_is_terminal.
#include <unistd.h>

#include <cstdio>

#include "ports/console.h"

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

bool console_error_is_terminal() {
  return isatty(STDERR_FILENO);
}
