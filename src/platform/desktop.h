// The desktop as the core sees it: the main window's title, repaints and
// posted commands. The Qt layer drives a real window; the headless layer
// records every call for tests.
#pragma once

#include <cstdint>

#include "shell/app_state.h"

// Sets the window's title (8-bit text, shown with the locale's decoding).
void desktop_set_title(PlatformWindow* window, const char* title);
// Asks for the whole client area to be painted again (from any thread).
void desktop_request_repaint(PlatformWindow* window);
// Posts a command id to the window, handled later on its thread; dropped when
// the window is gone.
void desktop_post_command(PlatformWindow* window, std::int32_t command);
// 1 while a Shift key is held.
int desktop_shift_held();
