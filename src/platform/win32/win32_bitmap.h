// The Win32 layer's bitmap: a decoded picture or a back buffer, as 32-bit
// pixels (blue, green, red, unused): a picture's rows bottom-up (as
// picture_rows gives them), a back buffer's top-down.
#pragma once

#include <cstdint>
#include <vector>

struct PlatformBitmap {
  std::vector<std::uint32_t> pixels;
  std::int32_t width = 0;
  std::int32_t height = 0;
};
