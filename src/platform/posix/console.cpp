// POSIX console: console_out, console_error, console_error_is_terminal, and
// SIGINT turned into a request to stop.
#include <signal.h>
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

namespace {

volatile sig_atomic_t interrupt_seen = 0;

void note_interrupt(int) {
  interrupt_seen = 1;
}

}  // namespace

void catch_interrupt() {
  struct sigaction action {};
  action.sa_handler = note_interrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // a copy in progress goes on to its end
  sigaction(SIGINT, &action, nullptr);
}

bool interrupted() {
  return interrupt_seen != 0;
}
