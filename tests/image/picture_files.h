// Picture files for the image tests: a pattern encoded in each format, and
// the bundled GIF with changed fields.
#pragma once

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <cstdint>

#include "support.h"

namespace picture_files {

using test_support::Bytes;

// The colour of image pixel (x, y) in the test pattern: red x*8, green y*8.
inline QRgb pattern_colour(int x, int y) {
  return qRgb((x * 8) & 0xFF, (y * 8) & 0xFF, 77);
}

inline QImage pattern(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) image.setPixel(x, y, pattern_colour(x, y));
  }
  return image;
}

// Encodes image in a format Qt can write ("bmp", "jpg", "png").
inline Bytes encode(const QImage& image, const char* format, int quality = 90) {
  QByteArray data;
  QBuffer buffer(&data);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, format);
  writer.setQuality(quality);
  writer.write(image);
  return Bytes(data.begin(), data.end());
}

// The bundled wide GIF (900 x 200, one frame whose descriptor starts at byte
// 213), with its screen and frame fields changed as given.
inline Bytes sample_gif(std::uint16_t screen_size = 0, std::uint16_t frame_left = 0) {
  Bytes gif = test_support::read_bytes(TESSMIRA_SAMPLES "/06-wide.gif");
  for (const std::size_t at : {6, 8, 218, 220}) {
    if (screen_size != 0) gif[at] = gif[at + 1] = static_cast<std::uint8_t>(screen_size);
  }
  for (const std::size_t at : {214, 216}) {
    gif[at] = static_cast<std::uint8_t>(frame_left);
    gif[at + 1] = static_cast<std::uint8_t>(frame_left >> 8);
  }
  return gif;
}

// A JPEG with an EXIF orientation tag inserted after its start marker.
inline Bytes with_exif_orientation(const Bytes& jpeg, std::uint8_t orientation) {
  // Little-endian TIFF: header, one IFD entry (orientation, SHORT, 1 value), no next IFD.
  const char tiff[] = "II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0?\0\0\0\0\0\0\0";
  Bytes app1 = {0xFF, 0xE1, 0, 8 + sizeof tiff - 1, 'E', 'x', 'i', 'f', 0, 0};
  app1.insert(app1.end(), tiff, tiff + sizeof tiff - 1);
  app1[10 + 18] = orientation;
  Bytes out = jpeg;
  out.insert(out.begin() + 2, app1.begin(), app1.end());
  return out;
}

}  // namespace picture_files
