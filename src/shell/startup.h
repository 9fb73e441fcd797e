// The shell's own pieces behind its entry points: the command-line tokenizer
// and the first window size.
#pragma once

#include <cstdint>

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
