// Win32 back buffer: the client area's pixels in memory, drawn by the same
// nearest-neighbour mapping as on every platform, and copied one to one onto
// the window (device pixels: the program is DPI aware).
#include "ports/back_buffer.h"

#include <new>

#include "platform/common/stretch.h"
#include "platform/win32/win32_bitmap.h"
#include "platform/win32/win32_window.h"
#include "state/bitmap_header.h"

PlatformBitmap* back_buffer_create(std::int32_t width, std::int32_t height) {
  if (width <= 0 || height <= 0) return nullptr;
  auto* buffer = new (std::nothrow) PlatformBitmap;
  if (buffer == nullptr) return nullptr;
  try {
    buffer->pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height),
                          0xFF000000u);
  } catch (const std::bad_alloc&) {
    delete buffer;
    return nullptr;
  }
  buffer->width = width;
  buffer->height = height;
  return buffer;
}

void back_buffer_fill_black(PlatformBitmap* buffer) {
  std::fill(buffer->pixels.begin(), buffer->pixels.end(), 0xFF000000u);
}

void back_buffer_stretch(PlatformBitmap* buffer, const std::uint8_t* pixels,
                         const BitmapHeader& header, PixelRect target, PixelRect source) {
  if (header.bit_count != 32) return;
  stretch_nearest(buffer->pixels.data(), buffer->width, buffer->height,
                  static_cast<std::size_t>(buffer->width), pixels, header.width, header.height,
                  target, source);
}

void back_buffer_present(PlatformWindow* window, const PlatformBitmap* buffer) {
  if (window == nullptr || window->paint_dc == nullptr || buffer == nullptr) return;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = buffer->width;
  info.bmiHeader.biHeight = -buffer->height;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  SetDIBitsToDevice(window->paint_dc, 0, 0, static_cast<DWORD>(buffer->width),
                    static_cast<DWORD>(buffer->height), 0, 0, 0, static_cast<UINT>(buffer->height),
                    buffer->pixels.data(), &info, DIB_RGB_COLORS);
}
