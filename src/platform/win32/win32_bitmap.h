// The Win32 layer's bitmap: a decoded picture or a back buffer, as 32-bit
// pixels (blue, green, red, unused) in top-down rows.
#pragma once

#include <cstdint>
#include <vector>

struct PlatformBitmap {
  std::vector<std::uint32_t> pixels;  // emptied once a picture's pixels were copied
  std::int32_t width = 0;
  std::int32_t height = 0;
};
