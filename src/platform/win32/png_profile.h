// What the Win32 picture layer reads of a PNG's embedded colour profile before
// WIC is given the file: a profile is read only when it is bounded.
#pragma once

#include <cstdint>
#include <vector>

// The largest embedded profile taken; a display's own is a few KiB.
constexpr std::size_t kMostProfileBytes = 4u << 20;

// Takes out of the PNG in bytes every iCCP chunk whose profile is not one
// that can be held: compressed or inflated past kMostProfileBytes, damaged,
// or claiming in its header more bytes than it holds. The picture then
// decodes untagged. False for a PNG whose iCCP chunk runs past the file's
// end (refused unread); true, unchanged, for anything else.
bool bound_png_profiles(std::vector<std::uint8_t>* bytes);
