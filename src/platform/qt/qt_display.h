// The Qt desktop's watch on the display's colour profile
// (platform/qt/display_profile.cpp).
#pragma once

struct AppState;

// Hands the X root window's profile to the picture layer now and whenever
// it changes, telling the core through state() (null: no viewer yet). Does
// nothing off X11.
void watch_display_profile(AppState* (*state)());
