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
