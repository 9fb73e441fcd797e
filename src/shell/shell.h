// The core's entry points: the program's start and every event of the main
// window. The platform layers reach the core through this header alone; the
// core answers through the desktop interface (ports/desktop.h).
// Every handler but program_entry runs on the window thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "state/events.h"

struct AppState;

// The program: start-up, the command line (the backup switches run and end
// here), then the viewer. Returns the process's exit status.
int program_entry(int argc, char** argv);
// The arguments of a command line given as one text (argument 0 the
// program), split by the rules of get_command_argument (shell/startup.h), up
// to the first that is missing or empty; an empty one is kept, as it ends the
// line. An unbalanced line gives the program alone, unnamed ("").
std::vector<std::string> split_command_line(const char* command_line);

// The window exists: its title, translucency, topmost and the auto-advance
// interval as saved.
void window_created(AppState& state);
// A key was pressed (a kKey code) with the kModifier bits held (kModifierRepeat
// for a held key's repeat), the event stamped at time (milliseconds of the
// window system's clock); the key table (shell/keys.cpp) says what it does.
void handle_key(AppState& state, std::uint32_t key, std::uint32_t modifiers, std::uint32_t time);
// A new client size (device pixels): the back buffer is built anew.
void handle_resize(AppState& state, std::int32_t width, std::int32_t height);
// The client area is to be painted.
void handle_paint(AppState& state);
// The pointer moved (client device pixels, kept as unsigned 16-bit values, so
// positions left of or above the window arrive above 60000).
void handle_mouse_move(AppState& state, bool left_button_down, std::int32_t x, std::int32_t y);
// The left button was released with the kModifier bits held: ends a drag, or
// asks for the next image.
void handle_button_up(AppState& state, std::uint32_t modifiers);
// The right button asked for the context menu.
void handle_context_menu(AppState& state);
// The wheel turned: during a drag, one zoom level per notch within 1..5.
// True when it was used.
bool handle_wheel(AppState& state, std::int32_t delta);
// A file was dropped on the window: it is shown and its folder viewed. True when taken.
bool handle_drop(AppState& state, const char* path);
// A close request (close button, Esc, session end): the stop handshake.
void handle_close(AppState& state);
// A command posted to the window (desktop_post_command) arrived.
void handle_posted_command(AppState& state, std::int32_t id);
// The desktop session is ending: a running catalog build winds up, and the
// window is asked to close.
void handle_session_end(AppState& state);
// The display's colour profile changed (the desktop has handed the new one
// to the picture layer): pictures are decoded anew for it.
void handle_display_profile_change(AppState& state);
