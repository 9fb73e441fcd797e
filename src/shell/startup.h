// The shell's own pieces behind its entry points: the start before the
// window, the command-line tokenizer and the first window size.
#pragma once

#include <cstdint>

struct AppState;

// Exit statuses: a switch's work done, failed, or a usage error.
constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
// A switch's run stopped by an interrupt (Ctrl+C), as shells count it.
constexpr int kExitInterrupted = 130;

// The instance lock, the data folder, the settings and the command line (the
// switches run here). Their exit status, or kViewerWanted.
constexpr int kViewerWanted = -1;
int start_program(AppState& state, int argc, char** argv, bool* settings_loaded);

// "tessmira: " and the line, on standard error.
void shell_say(const char* text);
// "--catalog" (folder null: every drive) and "--catalog=FOLDER"; "--find=PATTERN".
int run_catalog_switch(AppState& state, const char* folder);
int run_find_switch(AppState& state, const char* pattern);

// Result codes of get_command_argument.
constexpr std::int32_t kArgumentCopied = 1;
constexpr std::int32_t kArgumentMissing = 2;
constexpr std::int32_t kArgumentOddQuotes = 3;
constexpr std::int32_t kArgumentEmpty = 4;

// Argument index (0 the program) of a command line as one text, with double
// quotes grouping blanks, into destination (600 bytes). One of the codes
// above; an argument that would not fit is not extracted (3).
std::int32_t get_command_argument(const char* command_line, std::uint32_t index, char* destination);

// Width and height of the first window for a screen: 800 x 600 on screens
// larger than that, else 640 x 480.
void initial_window_size(std::int32_t screen_width, std::int32_t screen_height, std::int32_t* width,
                         std::int32_t* height);
// The client size the window will have once shown, for the first decode
// before the window has its size: the screen when full screen or maximised,
// the saved normal rectangle when one was loaded and fits twice the screen,
// else width x height.
void planned_client_size(const AppState& state, bool settings_loaded, std::int32_t screen_width,
                         std::int32_t screen_height, std::int32_t* width, std::int32_t* height);
