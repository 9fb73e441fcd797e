// The header of the image's pixel buffer, as the painting reads it.
#pragma once

#include <cstdint>

// Header of the pixel buffer: a device-independent bitmap header and one colour entry.
struct BitmapHeader {
  std::uint32_t size;  // 40
  std::int32_t width;
  std::int32_t height;  // positive: rows stored bottom-up
  std::uint16_t planes;
  std::uint16_t bit_count;
  std::uint32_t compression;  // 0: uncompressed
  std::uint32_t size_image;
  std::int32_t x_pels_per_meter;
  std::int32_t y_pels_per_meter;
  std::uint32_t colors_used;
  std::uint32_t colors_important;
  std::uint8_t color[4];  // blue, green, red, reserved
};
static_assert(sizeof(BitmapHeader) == 44);
