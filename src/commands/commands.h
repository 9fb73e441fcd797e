// Commands: the command table (every command id the main window receives,
// its menu entry and what it does), the context menu made from it, and the
// window operations the creation handler shares with the commands.
#pragma once

#include <cstdint>
#include <vector>

#include "ports/desktop.h"
#include "state/app_state.h"
#include "state/events.h"

// The context menu for the state as it is now.
std::vector<MenuItem> build_context_menu(const AppState& state);
// Builds the menu and shows it at the pointer; a choice arrives as a command.
void show_context_menu(AppState& state);

// Moves the shown file to the trash after asking, then shows the next one.
void delete_current_file(AppState& state);
// Opens the help page "ReadMe.htm" beside the program.
void open_help(const DataFolder& data);
// Carries out command id on the window thread; unknown ids are ignored.
void handle_command(AppState& state, std::int32_t id);
// Draws the whole window with opacity alpha / 255.
void set_translucency(PlatformWindow* window, std::uint32_t alpha);
// Keeps the window above others when flag is exactly 1.
void set_topmost(PlatformWindow* window, std::uint32_t flag);
// advance_ticks from advance_setting: 0, 8, 18, 38, 58, 88, 118, or 2 x v.
void set_advance_ticks(WorkerProtocol& worker, const SettingsBlock& settings);
