// The terminal the program was started from, for the command-line switches.
#pragma once

// Writes text to standard output.
void console_out(const char* text);
// Writes text to standard error.
void console_error(const char* text);
// True when standard error is a terminal (progress is shown only there).
bool console_error_is_terminal();
// From now on an interrupt (Ctrl+C) asks the running switch to stop at the
// next file instead of ending the process; interrupted() then says true.
void catch_interrupt();
bool interrupted();
