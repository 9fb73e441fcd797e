// The Qt layer's bitmap: a decoded picture or a back buffer, in QImage form.
#pragma once

#include <QImage>
#include <cstdint>

struct PlatformBitmap {
  QImage image;  // Format_RGB32; emptied once a picture's pixels were copied
  std::int32_t width = 0;
  std::int32_t height = 0;
};
