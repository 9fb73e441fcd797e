// Commands: every command id the main window receives, and the window
// operations the creation handler shares with them.
#pragma once

#include <cstdint>

#include "shell/app_state.h"

// Command ids.
constexpr std::int32_t kCommandAbout = 2000;
constexpr std::int32_t kCommandHelp = 2001;
constexpr std::int32_t kCommandExit = 2002;
constexpr std::int32_t kCommandDelete = 2014;
constexpr std::int32_t kCommandSaveAndDestroy = 2071;

// Carries out command id on the window thread; unknown ids are ignored.
void handle_command(AppState& state, std::int32_t id);
// Draws the whole window with opacity alpha / 255.
void set_translucency(AppState& state, std::uint32_t alpha);
// Keeps the window above others when flag is exactly 1.
void set_topmost(AppState& state, std::uint32_t flag);
// advance_ticks from advance_setting: 0, 8, 18, 38, 58, 88, 118, or 2 x v.
void set_advance_ticks(AppState& state);
