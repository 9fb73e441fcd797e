// The desktop as the core sees it: the main window's title, repaints and
// posted commands. The Qt layer drives a real window; the headless layer
// records every call for tests.
#pragma once

#include "shell/app_state.h"

// Sets the window's title (8-bit text, shown with the locale's decoding).
void desktop_set_title(PlatformWindow* window, const char* title);
