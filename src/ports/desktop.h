// The desktop as the core sees it: the main window's title, repaints and
// posted commands. The Qt layer drives a real window; the headless layer
// records every call for tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Core types passed along: the state goes back to the core's entry points.
struct AppState;
struct PlatformWindow;
struct WindowPlacement;

// One item of a menu: a command (id above 0), a separator (id 0, no text, no
// items) or a submenu (id 0, its items below it).
struct MenuItem {
  std::string text;
  std::int32_t id;
  bool checked;
  std::vector<MenuItem> items;
};

// Sets the window's title (8-bit text, shown with the locale's decoding).
void desktop_set_title(PlatformWindow* window, const char* title);
// Asks for the whole client area to be painted again (from any thread).
void desktop_request_repaint(PlatformWindow* window);
// Posts a command id to the window, handled later on its thread; dropped when
// the window is gone.
void desktop_post_command(PlatformWindow* window, std::int32_t command);

// Opens the desktop session for the viewer (the Qt application). True, or false
// when there is no display, with why in reason (at least 200 bytes).
bool desktop_open(int argc, char** argv, char* reason);
// The primary screen's size in logical pixels.
void desktop_screen_size(std::int32_t* width, std::int32_t* height);
// Creates the main window, hidden and untitled (the core titles it), with its
// client area at the given logical geometry. Its events go to the core's
// entry points (shell/shell.h).
PlatformWindow* desktop_create_window(AppState& state, std::int32_t x, std::int32_t y,
                                      std::int32_t width, std::int32_t height);
// Shows the window: at placement when it is valid (its show state decides
// normal, minimised or maximised), else where it was created; full screen
// when full_screen is 1. True when the placement was used, false when it was not.
bool desktop_show_window(PlatformWindow* window, const WindowPlacement* placement,
                         std::uint32_t full_screen);
// Runs the event loop until the main window is destroyed.
void desktop_run();
// Destroys the window; the event loop then ends.
void desktop_destroy_window(PlatformWindow* window);
// Reads the window's placement: its normal rectangle (also while maximised
// or full screen) and show state. True when it filled placement.
bool desktop_read_placement(const PlatformWindow* window, WindowPlacement* placement);
// Whole-window opacity alpha / 255; 255 is opaque.
void desktop_set_opacity(PlatformWindow* window, std::uint32_t alpha);
// Keeps the window above others (1) or not (0).
void desktop_set_topmost(PlatformWindow* window, std::uint32_t on_top);
// Full screen (1) or back to the normal state (0).
void desktop_set_full_screen(PlatformWindow* window, std::uint32_t full_screen);

// A menu shown at the pointer, right-aligned to it. Returns the chosen id, or
// 0 when it was dismissed.
std::int32_t desktop_track_menu(PlatformWindow* window, const std::vector<MenuItem>& items);
// Opens a file or folder with the desktop's default application, never
// through a shell. True when the desktop took it.
bool desktop_open_with_default(const char* path);
// The folder chooser titled "Choose Folder". True with the chosen folder in
// destination (600 bytes), false when cancelled or when its path would not fit.
bool desktop_choose_folder(PlatformWindow* window, char* destination);
// The "Select File..." dialog, opened at buffer's file (600 bytes), with the
// four filters, the first of them the image files' patterns ("*.jpg *.gif
// *.bmp" and the others listed); *filter_index is the filter shown first and
// receives the one chosen. True with the chosen file's path in buffer, else
// false.
bool desktop_choose_file(PlatformWindow* window, char* buffer, const char* image_patterns,
                         std::int32_t* filter_index);
// A modal Yes/No question. True for Yes.
bool desktop_ask_yes_no(PlatformWindow* window, const char* title, const char* text);
// Tells the user something went wrong.
void desktop_show_error(PlatformWindow* window, const char* title, const char* text);
// Tells the user of what happened in a run nobody watches, without a window
// of the program's: a desktop notification (freedesktop notifications over
// D-Bus on Linux, a notification area balloon on Windows). False when none
// could be shown.
bool desktop_notify(const char* title, const char* text);
// Moves a file to the desktop's trash. True when it is there; false when it was not
// moved, with nothing deleted for good.
bool desktop_move_to_trash(const char* path);
// The modal About box, naming the program's and the data folder.
void desktop_about_box(PlatformWindow* window, const char* program_folder, const char* data_folder);

// What the "Results Report" dialog shows, read from the core every 200 ms.
struct ReportSnapshot {
  std::string status;  // the files counted and added so far, and the tree being read
  bool finished;       // the build has ended: OK may close the dialog
  bool log_changed;    // log holds a newer log text than the last read
  std::string log;
};
using ReportReader = void (*)(void* context, ReportSnapshot* snapshot);
// Matches the "Find File" dialog lists as the user types.
constexpr std::uint32_t kFindListed = 300;
// What the "Find File" dialog asks as its field changes: the paths matching
// pattern, the first kFindListed in path order.
using FindReader = void (*)(void* context, const char* pattern, std::vector<std::string>* paths);
// The modal "Find File" dialog: a field and the live list of the paths its
// text matches; Enter or a double-click chooses one. Returns the chosen path,
// or "" when it was closed without one.
std::string desktop_find_file(PlatformWindow* window, FindReader read, void* context);
// The modal "Results Report" dialog: shows the log and the status line as
// read reports them, and closes only after a read said finished.
void desktop_catalog_report(ReportReader read, void* context);
