// Text and path helpers: zero-terminated 8-bit texts in caller-sized buffers.
// No routine allocates or keeps state; all may run on any thread at once.
#pragma once

#include <cstdint>

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
// Destination receives source's characters in reverse order, terminated.
void reverse_text(const char* source, char* destination);
// Position (from 1) of the first occurrence of pattern at or after start; 0 none,
// -1 pattern not shorter than text, -2 start out of range.
std::int32_t find_text(std::int32_t start, const char* text, const char* pattern);
// Writes value in decimal (at most 11 characters plus terminator).
void number_to_text(std::int32_t value, char* destination);
// Reads a decimal number; no byte is validated and the arithmetic wraps modulo 2^32.
std::uint32_t text_to_number(const char* text);
// Copies count bytes from source to destination.
void copy_bytes(const void* source, void* destination, std::uint32_t count);

// 0-based index of the last '/' in path, or -1 when it has none. The characters
// before it name the folder, the ones after it the name.
std::int32_t last_separator(const char* path);

// Writes folder + "/" + name into path (600 bytes), the root "/" not doubled
// and "" standing for the root. 1, or 0 when the result would not fit: a path
// is never cut.
std::int32_t join_path(const char* folder, const char* name, char* path);
// Writes path made absolute (relative to current, itself absolute) and
// normalised into result (600 bytes): "." and ".." resolved, repeated and
// trailing separators dropped; links are kept as written. 1, or 0 when path
// is empty or the result would not fit.
std::int32_t normalise_path(const char* path, const char* current, char* result);
