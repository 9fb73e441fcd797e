// The headless desktop: records what the core asks of the desktop, for tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ports/desktop.h"

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
// Scripts the user: the menu id chosen (0 dismisses), the answer to
// questions (1 Yes), whether the trash works, and the folder or file chosen
// in the choosers ("" cancels), which is also what is typed into Find File.
void headless_script(std::int32_t menu, bool yes, bool trash, const std::string& chosen);
// Runs during(context) while each later question is on screen, as the
// window would paint behind it; null stops it.
void headless_while_asking(void (*during)(void* context), void* context);
// The menu shown last.
std::vector<MenuItem> headless_last_menu();
// Forgets the recorded calls.
void headless_reset();
