// The Qt layer's bitmap: a decoded picture or a back buffer, in QImage form.
#pragma once

#include <QImage>
#include <cstdint>

struct PlatformBitmap {
  // Format_RGB32: a decoded picture's rows bottom-up (as picture_rows gives
  // them), a back buffer's top-down.
  QImage image;
  std::int32_t width = 0;
  std::int32_t height = 0;
};
