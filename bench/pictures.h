// Picture files the benchmarks make: Qt's encoders for BMP and JPEG, and a
// plain GIF writer (Qt has none).
#pragma once

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

namespace bench_pictures {

using Bytes = std::vector<std::uint8_t>;

inline void write_file(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
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

}  // namespace bench_pictures
