// The Win32 desktop layer's pieces that need no display, under Wine:
// pictures through WIC, and the file associations read back.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>

#include <string>

#include "ports/associations.h"
#include "ports/picture.h"
#include "state/bitmap_header.h"
#include "support.h"

using namespace test_support;

namespace {

std::vector<std::uint32_t> rows_of(PlatformBitmap* bitmap) {
  const PictureInfo info = picture_info(bitmap);
  BitmapHeader header{40, info.width, info.height, 1, 32, 0, 0, 0, 0, 0, 0, {}};
  std::vector<std::uint32_t> rows(static_cast<std::size_t>(info.width) * info.height);
  EXPECT_TRUE(picture_copy_rows(bitmap, reinterpret_cast<std::uint8_t*>(rows.data()), header));
  return rows;
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
  PlatformBitmap* turned = picture_decode(source, 1, &error);
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
