// Commands: every command id the main window receives, and the window
// operations the creation handler shares with them.
#pragma once

#include <cstdint>

#include "shell/app_state.h"

#include <string>
#include <vector>

// Command ids.
constexpr std::int32_t kCommandAbout = 2000;
constexpr std::int32_t kCommandHelp = 2001;
constexpr std::int32_t kCommandExit = 2002;
constexpr std::int32_t kCommandCurrentFolder = 2004;
constexpr std::int32_t kCommandCatalog = 2005;
constexpr std::int32_t kCommandLowerFolder = 2006;
constexpr std::int32_t kCommandOpenFolder = 2007;
constexpr std::int32_t kCommandSelectFolder = 2009;
constexpr std::int32_t kCommandDelete = 2014;
constexpr std::int32_t kCommandExecute = 2015;
constexpr std::int32_t kCommandResync = 2016;
constexpr std::int32_t kCommandTransparent = 2017;
constexpr std::int32_t kCommandOnTop = 2018;
constexpr std::int32_t kCommandAdvanceFirst = 2020;  // 2020..2026
constexpr std::int32_t kCommandModeFirst = 2040;     // 2040..2043
constexpr std::int32_t kCommandRecentFirst = 2050;   // 2050..2059
constexpr std::int32_t kCommandSaveAndDestroy = 2071;
constexpr std::int32_t kCommandAssociations = 2072;
constexpr std::int32_t kCommandSelectFile = 2073;
constexpr std::int32_t kCommandFullScreen = 2074;

// One item of the context menu: a command (id above 0), a separator (id 0,
// no text, no items) or a submenu (id 0, its items below it).
struct MenuItem {
  std::string text;
  std::int32_t id;
  bool checked;
  std::vector<MenuItem> items;
};
// The context menu for the state as it is now.
std::vector<MenuItem> build_context_menu(const AppState& state);
// Builds the menu and shows it at the pointer; a choice arrives as a command.
void show_context_menu(AppState& state);

// Moves the shown file to the trash after asking, then shows the next one.
void delete_current_file(AppState& state);
// Opens the help page "ReadMe.htm" beside the program.
void open_help(AppState& state);
// Carries out command id on the window thread; unknown ids are ignored.
void handle_command(AppState& state, std::int32_t id);
// Draws the whole window with opacity alpha / 255.
void set_translucency(AppState& state, std::uint32_t alpha);
// Keeps the window above others when flag is exactly 1.
void set_topmost(AppState& state, std::uint32_t flag);
// advance_ticks from advance_setting: 0, 8, 18, 38, 58, 88, 118, or 2 x v.
void set_advance_ticks(AppState& state);
