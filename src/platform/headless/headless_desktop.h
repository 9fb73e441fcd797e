// The headless desktop: records what the core asks of the desktop, for tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Every title set so far, oldest first.
std::vector<std::string> headless_titles();
// Every command posted so far, oldest first.
std::vector<std::int32_t> headless_commands();
// Every other desktop call, as text ("topmost 1", "destroy", ...), oldest first.
std::vector<std::string> headless_calls();
// The stand-in for the main window the headless layer hands out.
struct PlatformWindow;
PlatformWindow* headless_window();
// Number of repaints asked for.
int headless_repaints();
// Makes desktop_shift_held answer held (1) or not (0).
void headless_set_shift(int held);
// Forgets the recorded calls and releases Shift.
void headless_reset();
