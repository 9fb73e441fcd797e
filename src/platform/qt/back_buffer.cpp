// Qt back buffer: back_buffer_create, back_buffer_fill_black,
// back_buffer_stretch (nearest neighbour from a bottom-up buffer) and
// back_buffer_present.
#include <QPainter>
#include <cstring>
#include <new>

#include "platform/common/stretch.h"
#include "platform/qt/qt_bitmap.h"
#include "platform/qt/qt_window.h"
#include "ports/back_buffer.h"
#include "ports/picture.h"
#include "state/bitmap_header.h"

PlatformBitmap* back_buffer_create(std::int32_t width, std::int32_t height) {
  if (width <= 0 || height <= 0) return nullptr;
  auto* buffer = new (std::nothrow) PlatformBitmap;
  if (buffer == nullptr) return nullptr;
  buffer->image = QImage(width, height, QImage::Format_RGB32);
  if (buffer->image.isNull()) {
    delete buffer;
    return nullptr;
  }
  buffer->width = width;
  buffer->height = height;
  return buffer;
}

void back_buffer_fill_black(PlatformBitmap* buffer) {
  buffer->image.fill(0xFF000000u);
}

void back_buffer_stretch(PlatformBitmap* buffer, const std::uint8_t* pixels,
                         const BitmapHeader& header, PixelRect target, PixelRect source) {
  if (header.bit_count != 32) return;
  QImage& image = buffer->image;
  stretch_nearest(reinterpret_cast<std::uint32_t*>(image.bits()), image.width(), image.height(),
                  static_cast<std::size_t>(image.bytesPerLine()) / 4, pixels, header.width,
                  header.height, target, source);
}

void back_buffer_present(PlatformWindow* window, const PlatformBitmap* buffer) {
  if (window == nullptr || window->painter == nullptr) return;
  // Device pixels one to one: the buffer is as large as the client in device pixels.
  QImage view = buffer->image;
  view.setDevicePixelRatio(window->device_pixel_ratio);
  window->painter->drawImage(QPointF(0, 0), view);
}
