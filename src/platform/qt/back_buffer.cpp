// Qt back buffer: back_buffer_create, back_buffer_fill_black,
// back_buffer_stretch (nearest neighbour from a bottom-up buffer) and
// back_buffer_present.
#include <QPainter>
#include <cstring>
#include <new>
#include <vector>

#include "platform/back_buffer.h"
#include "platform/picture.h"
#include "platform/qt/qt_bitmap.h"
#include "platform/qt/qt_window.h"
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

namespace {

// Division rounding toward minus infinity: target pixels left of or above the
// target rectangle map to source pixels before its origin.
std::int64_t floor_div(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

}  // namespace

void back_buffer_stretch(PlatformBitmap* buffer, const std::uint8_t* pixels,
                         const BitmapHeader& header, PixelRect target, PixelRect source) {
  if (header.bit_count != 32 || header.width <= 0 || header.height <= 0 || target.width <= 0 ||
      target.height <= 0 || source.width <= 0 || source.height <= 0) {
    return;
  }
  QImage& image = buffer->image;
  // The source-to-target mapping is applied to the whole buffer, not only to
  // the target rectangle: a magnified image narrower than the window has its
  // source origin before the image, and must then appear shifted into view.
  std::vector<std::int32_t> columns(static_cast<std::size_t>(image.width()));
  for (std::int64_t x = 0; x < image.width(); ++x) {
    const std::int64_t column = source.x + floor_div((x - target.x) * source.width, target.width);
    columns[static_cast<std::size_t>(x)] =
        column >= 0 && column < header.width ? static_cast<std::int32_t>(column) : -1;
  }
  const auto* rows = reinterpret_cast<const std::uint32_t*>(pixels);
  for (std::int64_t y = 0; y < image.height(); ++y) {
    // Target rows run down, source rows up from the image's bottom edge.
    const std::int64_t from_bottom =
        source.y + floor_div((target.height - 1 - (y - target.y)) * source.height, target.height);
    if (from_bottom < 0 || from_bottom >= header.height) continue;
    const std::uint32_t* row = rows + from_bottom * header.width;
    auto* out = reinterpret_cast<std::uint32_t*>(image.scanLine(static_cast<int>(y)));
    for (std::int64_t x = 0; x < image.width(); ++x) {
      const std::int32_t column = columns[static_cast<std::size_t>(x)];
      if (column >= 0) out[x] = row[column] | 0xFF000000u;
    }
  }
}

void back_buffer_present(PlatformWindow* window, const PlatformBitmap* buffer) {
  if (window == nullptr || window->painter == nullptr) return;
  // Device pixels one to one: the buffer is as large as the client in device pixels.
  QImage view = buffer->image;
  view.setDevicePixelRatio(window->device_pixel_ratio);
  window->painter->drawImage(QPointF(0, 0), view);
}
