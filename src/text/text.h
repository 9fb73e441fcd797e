// Text and path helpers: zero-terminated 8-bit texts in caller-sized buffers.
// No routine allocates or keeps state; all may run on any thread at once.
#pragma once

#include <cstdint>

#include "ports/paths.h"

// Number of bytes before the terminator.
std::uint32_t length_of_text(const char* text);
// Copies source and its terminator into destination.
void copy_text(const char* source, char* destination);
// Copies source and its terminator over destination's terminator.
void append_text(char* destination, const char* source);
// Copies exactly count bytes from the start of source, then terminates destination[count].
void left_text(const char* source, char* destination, std::uint32_t count);
// Copies exactly count bytes from source[start], then terminates destination[count].
void mid_text(const char* source, char* destination, std::uint32_t start, std::uint32_t count);
// Copies the last count characters of source with its terminator; the whole source
// when count exceeds its length.
void right_text(const char* source, char* destination, std::uint32_t count);
// Turns ASCII 'A'..'Z' into 'a'..'z' in place; every other byte stays.
void lower_text(char* text);
// Writes value in decimal (at most 11 characters plus terminator).
void number_to_text(std::int32_t value, char* destination);
// Reads a decimal number; no byte is validated and the arithmetic wraps modulo 2^32.
std::uint32_t text_to_number(const char* text);

// Paths follow rules, the platform's unless a caller (a test) names others.

// Characters of the shortest root with its separator: 1 ("/") on POSIX, 3
// ("C:\\") on Windows. A folder text shorter than that names no folder to
// view, and a path of that length or shorter no file to open.
std::uint32_t shortest_root(const PathRules& rules = path_rules());
// True when c separates a path's components.
bool is_separator(char c, const PathRules& rules = path_rules());
// Characters of the path's root: "/" (1) on POSIX; "C:\" (3), "C:" (2), or
// "\\server\share\" with its separator on Windows; 0 for a relative path.
std::uint32_t root_length(const char* path, const PathRules& rules = path_rules());
// True when the path starts at a root of its own ("/x", "C:\x", "\\server\share").
bool is_absolute_path(const char* path, const PathRules& rules = path_rules());
// True when two paths name the same file as the file system compares names.
bool same_path(const char* a, const char* b, const PathRules& rules = path_rules());

// 0-based index of the last separator in path, or -1 when it has none. The
// characters before it name the folder, the ones after it the name.
std::int32_t last_separator(const char* path, const PathRules& rules = path_rules());

// Writes folder + separator + name into path (600 bytes); a root that ends
// with its separator gets none more, and "" stands for the root "/". True, or false
// when the result would not fit: a path is never cut.
bool join_path(const char* folder, const char* name, char* path,
               const PathRules& rules = path_rules());
// Writes path made absolute (relative to current, itself absolute) and
// normalised into result (600 bytes): "." and ".." resolved (never above the
// root), repeated and trailing separators dropped, separators written as the
// rules write them; links are kept as written. True, or false when path is empty or
// the result would not fit.
bool normalise_path(const char* path, const char* current, char* result,
                    const PathRules& rules = path_rules());
