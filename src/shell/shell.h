// The viewer shell's key actions: stepping requests raised on the window
// thread and served by the viewer thread.
#pragma once

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
