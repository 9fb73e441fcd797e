// Win32: a PNG's embedded profile bounded before any decoder reads it, so a
// profile claiming gigabytes never makes one ask for them.
#include "platform/win32/png_profile.h"

#include <zlib.h>

#include <cstring>

namespace {

std::uint32_t big_endian(const std::uint8_t* at) {
  return std::uint32_t{at[0]} << 24 | std::uint32_t{at[1]} << 16 | std::uint32_t{at[2]} << 8 |
         at[3];
}

// Whether the zlib stream inflates whole to at most kMostProfileBytes, to a
// profile whose header gives a size from 132 bytes up to what it holds.
bool profile_holds(const std::uint8_t* data, std::size_t size) {
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) return false;
  stream.next_in = const_cast<Bytef*>(data);
  stream.avail_in = static_cast<uInt>(size);
  std::uint8_t piece[16384];
  std::uint8_t header[4] = {};
  std::size_t total = 0;
  int status = Z_OK;
  while (status == Z_OK && total <= kMostProfileBytes) {
    stream.next_out = piece;
    stream.avail_out = sizeof piece;
    status = inflate(&stream, Z_NO_FLUSH);
    const std::size_t made = sizeof piece - stream.avail_out;
    for (std::size_t i = 0; i < made && total + i < 4; ++i) header[total + i] = piece[i];
    total += made;
    if (status == Z_BUF_ERROR && stream.avail_in == 0) break;
  }
  inflateEnd(&stream);
  const std::uint32_t claimed = big_endian(header);
  return status == Z_STREAM_END && total <= kMostProfileBytes && claimed >= 132 && claimed <= total;
}

}  // namespace

bool bound_png_profiles(std::vector<std::uint8_t>* bytes) {
  static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<std::uint8_t>& png = *bytes;
  if (png.size() < 8 || std::memcmp(png.data(), kSignature, 8) != 0) return true;
  std::size_t at = 8;
  while (at + 12 <= png.size()) {
    const std::uint64_t length = big_endian(&png[at]);
    const bool profile = std::memcmp(&png[at + 4], "iCCP", 4) == 0;
    if (length > png.size() - at - 12) return !profile;
    if (profile) {
      // A name of 1 to 79 bytes, its NUL, the compression method (0), the stream.
      const std::uint8_t* data = &png[at + 8];
      const auto* end = static_cast<const std::uint8_t*>(std::memchr(data, 0, length));
      const bool sound = length <= kMostProfileBytes && end != nullptr &&
                         end + 2 <= data + length && end[1] == 0 &&
                         profile_holds(end + 2, static_cast<std::size_t>(data + length - end - 2));
      if (!sound) {
        png.erase(png.begin() + static_cast<std::ptrdiff_t>(at),
                  png.begin() + static_cast<std::ptrdiff_t>(at + 12 + length));
        continue;
      }
    }
    at += 12 + static_cast<std::size_t>(length);
  }
  return true;
}
