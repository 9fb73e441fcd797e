// The viewer shell's key actions: stepping requests raised on the window
// thread and served by the viewer thread.
#pragma once

#include <cstdint>

#include "shell/app_state.h"

// Right arrow and Space: the next file (Shift: a page further in the linear
// modes). Nothing when a request is waiting.
void step_forward(AppState& state);
// Left arrow: the previous file (Shift: a page back in the linear modes), or
// the newest history entry in the random modes.
void step_back(AppState& state);
// Left click and commands: the next file, Shift paging in every mode.
void request_next_image(AppState& state);
// Asks for the view list of view_folder to be rebuilt; never lost, even
// while another request is being served.
void request_rebuild(AppState& state);

// Result codes of get_command_argument.
constexpr std::int32_t kArgumentCopied = 1;
constexpr std::int32_t kArgumentMissing = 2;
constexpr std::int32_t kArgumentOddQuotes = 3;
constexpr std::int32_t kArgumentEmpty = 4;

// Argument index (0 the program) of a command line as one text, with double
// quotes grouping blanks, into destination (600 bytes). One of the codes
// above; an argument that would not fit is not extracted (3).
std::int32_t get_command_argument(const char* command_line, std::uint32_t index, char* destination);
// The program: start-up, the command line (the backup switches run and end
// here), then the viewer. Returns the process's exit status.
int program_entry(int argc, char** argv);

// The main window's handlers, called by the window layer for its events.

// Width and height of the first window for a screen: 800 x 600 on screens
// larger than that, else 640 x 480.
void initial_window_size(std::int32_t screen_width, std::int32_t screen_height, std::int32_t* width,
                         std::int32_t* height);
// Creation: translucency, topmost and the auto-advance interval as saved.
void window_created(AppState& state);
// A new client size (device pixels): the back buffer is built anew.
void handle_resize(AppState& state, std::int32_t width, std::int32_t height);
// The pointer moved (client device pixels, kept as unsigned 16-bit values, so
// positions left of or above the window arrive above 60000).
void handle_mouse_move(AppState& state, int left_button_down, std::int32_t x, std::int32_t y);
// The left button was released: ends a drag, or asks for the next image.
void handle_button_up(AppState& state);
// The wheel turned: during a drag, one zoom level per notch within 1..5.
// Returns 1 when it was used.
int handle_wheel(AppState& state, std::int32_t delta);
// A close request (close button, Esc, session end): the stop handshake.
void handle_close(AppState& state);
// Shows the file at path at once and views its folder. A path of 1 character
// or fewer, or one that does not fit 599 bytes, is ignored. 1 when taken.
int open_image_file(AppState& state, const char* path);
// The key table: F1, Esc, Delete, Left, Right, Space.
enum class ViewerKey { f1, escape, del, left, right, space };
void handle_key(AppState& state, ViewerKey key);
