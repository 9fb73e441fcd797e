// Picture files made by the tests themselves: good ones in each format and a
// corpus of damaged ones.
#pragma once

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace picture_files {

using Bytes = std::vector<std::uint8_t>;

inline void write_file(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

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

// A GIF with one frame of 8-bit palette indexes, LZW-coded without
// compression (a clear code every 250 pixels keeps codes 9 bits wide).
inline Bytes gif(std::uint16_t screen_width, std::uint16_t screen_height, std::uint16_t left,
                 std::uint16_t top, std::uint16_t width, std::uint16_t height,
                 const std::vector<std::uint8_t>& indexes, int palette_bits = 8) {
  Bytes out = {'G', 'I', 'F', '8', '9', 'a'};
  auto put16 = [&out](std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
  };
  put16(screen_width);
  put16(screen_height);
  out.push_back(static_cast<std::uint8_t>(0x80 | (palette_bits - 1)));
  out.push_back(0);
  out.push_back(0);
  for (int i = 0; i < (1 << palette_bits); ++i) {
    out.push_back(static_cast<std::uint8_t>(i));
    out.push_back(static_cast<std::uint8_t>(255 - i));
    out.push_back(static_cast<std::uint8_t>(i * 3));
  }
  out.push_back(0x2C);
  put16(left);
  put16(top);
  put16(width);
  put16(height);
  out.push_back(0);
  out.push_back(8);  // LZW minimum code size
  Bytes codes;
  std::uint32_t bits = 0;
  int count = 0;
  auto code = [&](std::uint32_t value) {
    bits |= value << count;
    count += 9;
    while (count >= 8) {
      codes.push_back(static_cast<std::uint8_t>(bits));
      bits >>= 8;
      count -= 8;
    }
  };
  for (std::size_t i = 0; i < indexes.size(); ++i) {
    if (i % 250 == 0) code(256);
    code(indexes[i]);
  }
  code(257);
  if (count > 0) codes.push_back(static_cast<std::uint8_t>(bits));
  for (std::size_t at = 0; at < codes.size(); at += 255) {
    const std::size_t piece = std::min<std::size_t>(255, codes.size() - at);
    out.push_back(static_cast<std::uint8_t>(piece));
    out.insert(out.end(), codes.begin() + static_cast<long>(at),
               codes.begin() + static_cast<long>(at + piece));
  }
  out.push_back(0);
  out.push_back(0x3B);
  return out;
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

// A BMP header (24 bits) claiming the given size, followed by a few pixels.
inline Bytes bmp_claiming(std::int32_t width, std::int32_t height) {
  Bytes out(54 + 48, 0);
  auto put32 = [&out](std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
  };
  out[0] = 'B';
  out[1] = 'M';
  put32(2, static_cast<std::uint32_t>(out.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<std::uint32_t>(width));
  put32(22, static_cast<std::uint32_t>(height));
  out[26] = 1;
  out[28] = 24;
  return out;
}

}  // namespace picture_files
