// The Win32 desktop layer's pieces that need no display, under Wine:
// pictures through WIC, and the file associations read back.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>

#include <cstring>
#include <string>

#include "platform/win32/png_profile.h"
#include "ports/associations.h"
#include "ports/picture.h"
#include "state/bitmap_header.h"
#include "support.h"

using namespace test_support;

namespace {

std::vector<std::uint32_t> rows_of(PlatformBitmap* bitmap) {
  const PictureInfo info = picture_info(bitmap);
  const auto* rows = reinterpret_cast<const std::uint32_t*>(picture_rows(bitmap));
  EXPECT_NE(rows, nullptr);
  if (rows == nullptr) return {};
  return std::vector<std::uint32_t>(rows,
                                    rows + static_cast<std::size_t>(info.width) * info.height);
}

// A picture whose header claims more pixels than may be held is refused
// from its header, before a decoder (Wine's WIC decodes the whole frame when
// asked for it) takes gigabytes for minutes.
TEST(Win32Pictures, AHeaderClaimingTooManyPixelsIsRefusedBeforeAnyDecode) {
  TempFolder temp;
  Bytes jpeg = read_bytes(TESSMIRA_SAMPLES "/01-dusk.jpg");
  std::size_t frame = 2;
  while (frame + 9 < jpeg.size() &&
         !(jpeg[frame] == 0xFF && (jpeg[frame + 1] & 0xF0) == 0xC0 && jpeg[frame + 1] != 0xC4)) {
    frame += 2 + (jpeg[frame + 2] << 8 | jpeg[frame + 3]);
  }
  ASSERT_LT(frame + 9, jpeg.size());
  for (const std::size_t at : {frame + 5, frame + 7}) {
    jpeg[at] = 0xFF;  // 65,500 = 0xFFDC
    jpeg[at + 1] = 0xDC;
  }
  write_bytes(temp.path / "huge.jpg", jpeg);
  // A BMP of 70,000 x 70,000 and a GIF whose first image is 65,535 x 65,535.
  Bytes bmp = {'B', 'M', 0, 0,    0,    0,    0, 0,    0,    0,    54, 0, 0, 0,  40,
               0,   0,   0, 0x70, 0x11, 0x01, 0, 0x70, 0x11, 0x01, 0,  1, 0, 24, 0};
  bmp.resize(80, 0);
  write_bytes(temp.path / "huge.bmp", bmp);
  Bytes gif = {'G', 'I', 'F', '8',  '9',  'a',  1,    0, 1, 0, 0,    0,    0, 0x2C, 0,
               0,   0,   0,   0xFF, 0xFF, 0xFF, 0xFF, 0, 2, 2, 0x44, 0x01, 0, 0x3B};
  write_bytes(temp.path / "huge.gif", gif);
  PROCESS_MEMORY_COUNTERS before{};
  ASSERT_TRUE(GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before));
  for (const char* name : {"huge.jpg", "huge.bmp", "huge.gif"}) {
    std::uint32_t error = 0;
    EXPECT_EQ(picture_open((temp.path / name).string().c_str(), &error), nullptr) << name;
    EXPECT_EQ(error, kPictureNotLoaded) << name;
  }
  PROCESS_MEMORY_COUNTERS after{};
  ASSERT_TRUE(GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after));
  EXPECT_LT(after.PeakWorkingSetSize - before.PeakWorkingSetSize, 64u << 20);
}

TEST(Win32Pictures, DecodedBottomUpTurnedUprightOrRefused) {
  TempFolder temp;
  // 2 x 2, 24-bit, bottom row first: blue, green / red, white.
  Bytes bmp = {'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,  40,
               0,   0,   0,  2, 0, 0, 0, 2, 0, 0, 0,  1, 0, 24, 0};
  bmp.resize(54, 0);
  const Bytes pixels = {255, 0, 0, 0, 255, 0, 0, 0, 0, 0, 255, 255, 255, 255, 255, 0};
  bmp.insert(bmp.end(), pixels.begin(), pixels.end());
  write_bytes(temp.path / "a.bmp", bmp);
  std::uint32_t error = 0;
  PlatformBitmap* bitmap = load_picture_bitmap((temp.path / "a.bmp").string().c_str(), &error);
  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(rows_of(bitmap),
            (std::vector<std::uint32_t>{0xFF0000FF, 0xFF00FF00, 0xFFFF0000, 0xFFFFFFFF}));
  delete_bitmap(bitmap);

  // A photo turned by its EXIF orientation (6: a quarter turn clockwise).
  const Bytes jpeg = read_bytes(TESSMIRA_SAMPLES "/01-dusk.jpg");
  write_bytes(temp.path / "turned.jpg", with_exif_orientation(jpeg, 6));
  PictureSource* source = picture_open((temp.path / "turned.jpg").string().c_str(), &error);
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(picture_facts(source).width, 1000);
  EXPECT_EQ(picture_facts(source).height, 1600);
  PlatformBitmap* turned = picture_decode(source, 1, PictureColour::managed, nullptr, &error);
  picture_close(source);
  PlatformBitmap* plain = load_picture_bitmap(TESSMIRA_SAMPLES "/01-dusk.jpg", &error);
  ASSERT_NE(turned, nullptr);
  ASSERT_NE(plain, nullptr);
  // Bottom-up rows: the turned picture's top-left pixel is the plain one's
  // bottom-left, its bottom-left the plain one's bottom-right.
  const auto t = rows_of(turned);
  const auto p = rows_of(plain);
  EXPECT_EQ(t[1599 * 1000], p[0]);
  EXPECT_EQ(t[0], p[1599]);
  delete_bitmap(turned);
  delete_bitmap(plain);

  // Damaged, empty or no file at all: not loaded, never a crash.
  write_bytes(temp.path / "cut.jpg", Bytes(jpeg.begin(), jpeg.begin() + 300));
  for (const char* name : {"cut.jpg", "missing.jpg", ""}) {
    EXPECT_EQ(load_picture_bitmap((temp.path / name).string().c_str(), &error), nullptr) << name;
    EXPECT_EQ(error, kPictureNotLoaded) << name;
  }
}

std::uint32_t crc_of(const std::uint8_t* data, std::size_t size) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}
void put_be(Bytes& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out.insert(out.end(), static_cast<std::uint8_t>(value >> shift));
}
void png_chunk(Bytes& png, const char* type, const Bytes& data) {
  put_be(png, static_cast<std::uint32_t>(data.size()));
  const std::size_t start = png.size();
  png.insert(png.end(), type, type + 4);
  png.insert(png.end(), data.begin(), data.end());
  put_be(png, crc_of(png.data() + start, png.size() - start));
}

// 2 x 2 RGB, top row red, green; bottom row blue, white.
const Bytes kRgb = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
const std::vector<std::uint32_t> kRgbRows = {0xFF0000FF, 0xFFFFFFFF, 0xFFFF0000, 0xFF00FF00};

// A zlib stream of one stored (uncompressed) deflate block.
Bytes stored_zlib(const Bytes& raw) {
  Bytes out = {0x78,
               0x01,
               0x01,
               static_cast<std::uint8_t>(raw.size()),
               static_cast<std::uint8_t>(raw.size() >> 8),
               static_cast<std::uint8_t>(~raw.size()),
               static_cast<std::uint8_t>(~raw.size() >> 8)};
  out.insert(out.end(), raw.begin(), raw.end());
  std::uint32_t a = 1, b = 0;
  for (const std::uint8_t byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  put_be(out, (b << 16) | a);
  return out;
}

// The pixels as a PNG, the chunk given (an iCCP) after its header.
Bytes rgb_png(const Bytes& chunk = {}) {
  Bytes raw;
  for (int row = 0; row < 2; ++row) {
    raw.push_back(0);  // no filter
    raw.insert(raw.end(), kRgb.begin() + row * 6, kRgb.begin() + row * 6 + 6);
  }
  Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  png_chunk(png, "IHDR", {0, 0, 0, 2, 0, 0, 0, 2, 8, 2, 0, 0, 0});
  png.insert(png.end(), chunk.begin(), chunk.end());
  png_chunk(png, "IDAT", stored_zlib(raw));
  png_chunk(png, "IEND", {});
  return png;
}

// The pixels as an uncompressed little-endian TIFF.
Bytes rgb_tiff() {
  Bytes tiff = {'I', 'I', 42, 0, 8, 0, 0, 0, 10, 0};
  const auto entry = [&tiff](std::uint16_t tag, std::uint16_t type, std::uint32_t count,
                             std::uint32_t value) {
    const std::uint8_t e[12] = {static_cast<std::uint8_t>(tag),
                                static_cast<std::uint8_t>(tag >> 8),
                                static_cast<std::uint8_t>(type),
                                0,
                                static_cast<std::uint8_t>(count),
                                0,
                                0,
                                0,
                                static_cast<std::uint8_t>(value),
                                static_cast<std::uint8_t>(value >> 8),
                                0,
                                0};
    tiff.insert(tiff.end(), e, e + 12);
  };
  // Header 8, the directory 126, the bits per sample 6, then the pixels.
  entry(256, 3, 1, 2);    // width
  entry(257, 3, 1, 2);    // height
  entry(258, 3, 3, 134);  // bits per sample, at 134
  entry(259, 3, 1, 1);    // no compression
  entry(262, 3, 1, 2);    // RGB
  entry(273, 4, 1, 140);  // the strip, at 140
  entry(277, 3, 1, 3);    // samples per pixel
  entry(278, 3, 1, 2);    // rows per strip
  entry(279, 4, 1, 12);   // the strip's bytes
  entry(284, 3, 1, 1);    // chunky
  tiff.insert(tiff.end(), {0, 0, 0, 0, 8, 0, 8, 0, 8, 0});
  tiff.insert(tiff.end(), kRgb.begin(), kRgb.end());
  return tiff;
}

// PNG and TIFF decode always; a type Windows has no codec for here (HEIF
// under Wine) is refused as a damaged file is.
TEST(Win32Pictures, PngAndTiffDecodeAndATypeWithoutACodecIsNotLoaded) {
  TempFolder temp;
  for (const auto& [name, bytes] : {std::pair<const char*, Bytes>{"a.png", rgb_png()},
                                    std::pair<const char*, Bytes>{"a.tif", rgb_tiff()}}) {
    write_bytes(temp.path / name, bytes);
    for (const PictureColour colour : {PictureColour::managed, PictureColour::as_stored}) {
      std::uint32_t error = 99;
      PlatformBitmap* bitmap =
          load_picture_bitmap((temp.path / name).string().c_str(), &error, colour);
      ASSERT_NE(bitmap, nullptr) << name;
      EXPECT_EQ(rows_of(bitmap), kRgbRows) << name;
      delete_bitmap(bitmap);
    }
  }
  Bytes heif = {0, 0, 0, 24, 'f', 't', 'y', 'p', 'h', 'e', 'i', 'c',
                0, 0, 0, 0,  'm', 'i', 'f', '1', 'h', 'e', 'i', 'c'};
  heif.resize(400, 0);
  write_bytes(temp.path / "a.heic", heif);
  std::uint32_t error = 0;
  EXPECT_EQ(load_picture_bitmap((temp.path / "a.heic").string().c_str(), &error), nullptr);
  EXPECT_EQ(error, kPictureNotLoaded);
}

// A profile that claims gigabytes (or holds more than any display's) is
// never read from the file; one whose chunk runs past the end is refused.
TEST(Win32Pictures, AnEmbeddedProfileIsBoundedBeforeWicReadsIt) {
  Bytes profile(132, 0);
  std::memcpy(profile.data() + 12, "mntrRGB XYZ ", 12);
  std::memcpy(profile.data() + 36, "acsp", 4);
  const auto iccp = [](const Bytes& header, std::uint32_t claimed) {
    Bytes data = {'i', 'c', 'c', 0, 0};
    Bytes claiming = header;
    for (int i = 0; i < 4; ++i) claiming[i] = static_cast<std::uint8_t>(claimed >> (24 - 8 * i));
    const Bytes stream = stored_zlib(claiming);
    data.insert(data.end(), stream.begin(), stream.end());
    Bytes chunk;
    png_chunk(chunk, "iCCP", data);
    return chunk;
  };
  Bytes sound = rgb_png(iccp(profile, 132));
  const Bytes kept = sound;
  EXPECT_TRUE(bound_png_profiles(&sound));
  EXPECT_EQ(sound, kept);
  Bytes claiming = rgb_png(iccp(profile, 0xFFFFFFFCu));
  EXPECT_TRUE(bound_png_profiles(&claiming));
  EXPECT_EQ(claiming, rgb_png());
  Bytes past_end = rgb_png(iccp(profile, 132));
  past_end[33] = 0x7F;  // the chunk's length
  EXPECT_FALSE(bound_png_profiles(&past_end));
  // Decoded untagged, with no more memory than a small picture takes.
  TempFolder temp;
  write_bytes(temp.path / "claims.png", rgb_png(iccp(profile, 0xFFFFFFFCu)));
  PROCESS_MEMORY_COUNTERS before{};
  ASSERT_TRUE(GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before));
  std::uint32_t error = 99;
  PlatformBitmap* bitmap = load_picture_bitmap((temp.path / "claims.png").string().c_str(), &error);
  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(rows_of(bitmap), kRgbRows);
  delete_bitmap(bitmap);
  PROCESS_MEMORY_COUNTERS after{};
  ASSERT_TRUE(GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after));
  EXPECT_LT(after.PeakPagefileUsage - before.PeakPagefileUsage, 64u << 20);
}

std::wstring default_value(const std::wstring& key) {
  wchar_t text[512] = L"";
  DWORD size = sizeof text;
  RegGetValueW(HKEY_CURRENT_USER, (L"Software\\Classes\\" + key).c_str(), nullptr, RRF_RT_REG_SZ,
               nullptr, text, &size);
  return text;
}

TEST(Win32Associations, WrittenPerUserQuotedAndTheSameTwice) {
  wchar_t running[MAX_PATH];
  const std::wstring path(running, GetModuleFileNameW(nullptr, running, MAX_PATH));
  const std::wstring name = path.substr(path.find_last_of(L'\\') + 1);
  for (int time = 0; time < 2; ++time) {
    EXPECT_TRUE(register_extension("C:\\Program Files\\Tessmira\\", "GIF", "GIF File"));
  }
  EXPECT_EQ(default_value(L".GIF"), L"Tessmira.GIFFile");
  EXPECT_EQ(default_value(L"Tessmira.GIFFile"), L"GIF File");
  EXPECT_EQ(default_value(L"Tessmira.GIFFile\\shell"), L"Open");
  EXPECT_EQ(default_value(L"Tessmira.GIFFile\\shell\\Open\\Command"),
            L"\"C:\\Program Files\\Tessmira\\" + name + L"\" \"%1\"");
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Classes\\Tessmira.GIFFile");
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Classes\\.GIF");
}

}  // namespace
