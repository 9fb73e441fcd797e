// The off-screen picture of the client area that every paint draws into.
#pragma once

#include <cstdint>

// Core types passed along.
struct BitmapHeader;
struct PlatformBitmap;
struct PlatformWindow;

// A rectangle in pixels.
struct PixelRect {
  std::int32_t x;
  std::int32_t y;
  std::int32_t width;
  std::int32_t height;
};

// A black-fillable buffer width x height device pixels, or null.
PlatformBitmap* back_buffer_create(std::int32_t width, std::int32_t height);
// Fills the whole buffer black.
void back_buffer_fill_black(PlatformBitmap* buffer);
// Draws a bottom-up 32-bit pixel buffer with nearest-neighbour scaling, mapped
// so that the source rectangle lands on the target rectangle. Source x counts
// columns from the image's left edge, source y rows from its bottom edge.
// Every image pixel is drawn where the mapping puts it inside the buffer;
// parts of the source outside the image draw nothing.
void back_buffer_stretch(PlatformBitmap* buffer, const std::uint8_t* pixels,
                         const BitmapHeader& header, PixelRect target, PixelRect source);
// Copies the whole buffer onto the window being painted.
void back_buffer_present(PlatformWindow* window, const PlatformBitmap* buffer);
