// The nearest-neighbour drawing every back buffer does, whatever holds its
// pixels: so that a picture lands on the same device pixels on each platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ports/back_buffer.h"

// Division rounding toward minus infinity: target pixels left of or above the
// target rectangle map to source pixels before its origin.
inline std::int64_t floor_div(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Draws the bottom-up 32-bit image (image_width x image_height) into the
// top-down buffer out (width x height, stride pixels a row) as
// back_buffer_stretch describes.
inline void stretch_nearest(std::uint32_t* out, std::int32_t width, std::int32_t height,
                            std::size_t stride, const std::uint8_t* pixels,
                            std::int32_t image_width, std::int32_t image_height, PixelRect target,
                            PixelRect source) {
  if (image_width <= 0 || image_height <= 0 || target.width <= 0 || target.height <= 0 ||
      source.width <= 0 || source.height <= 0) {
    return;
  }
  // The source-to-target mapping is applied to the whole buffer, not only to
  // the target rectangle: a magnified image narrower than the window has its
  // source origin before the image, and must then appear shifted into view.
  std::vector<std::int32_t> columns(static_cast<std::size_t>(width));
  for (std::int64_t x = 0; x < width; ++x) {
    const std::int64_t column = source.x + floor_div((x - target.x) * source.width, target.width);
    columns[static_cast<std::size_t>(x)] =
        column >= 0 && column < image_width ? static_cast<std::int32_t>(column) : -1;
  }
  const auto* rows = reinterpret_cast<const std::uint32_t*>(pixels);
  for (std::int64_t y = 0; y < height; ++y) {
    // Target rows run down, source rows up from the image's bottom edge.
    const std::int64_t from_bottom =
        source.y + floor_div((target.height - 1 - (y - target.y)) * source.height, target.height);
    if (from_bottom < 0 || from_bottom >= image_height) continue;
    const std::uint32_t* row = rows + from_bottom * image_width;
    std::uint32_t* line = out + static_cast<std::size_t>(y) * stride;
    for (std::int64_t x = 0; x < width; ++x) {
      const std::int32_t column = columns[static_cast<std::size_t>(x)];
      if (column >= 0) line[x] = row[column] | 0xFF000000u;
    }
  }
}
