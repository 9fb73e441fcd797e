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
// Scripts the user: the menu id chosen (0 dismisses), the answer to
// questions (1 Yes), whether the trash works, and the folder or file chosen
// in the choosers ("" cancels).
void headless_script(std::int32_t menu, int yes, int trash, const std::string& chosen);
// The menu shown last.
struct MenuItem;
std::vector<MenuItem> headless_last_menu();
// Forgets the recorded calls and releases Shift.
void headless_reset();
