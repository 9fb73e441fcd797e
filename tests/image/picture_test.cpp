// Decoding through the Qt layer and the image buffer built from it.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "image/image.h"
#include "picture_files.h"
#include "platform/headless/headless_desktop.h"
#include "platform/picture.h"

using namespace picture_files;
using namespace test_support;

namespace {

struct PictureFixture : ::testing::Test {
  TempFolder temp;
  std::unique_ptr<AppState> state = std::make_unique<AppState>();
  void SetUp() override { headless_reset(); }
  void TearDown() override { free_image(*state); }
  fs::path file(const char* name, const Bytes& bytes) {
    write_bytes(temp.path / name, bytes);
    return temp.path / name;
  }
  // Decodes the bytes: the bitmap's size, or the error code as width -error.
  std::pair<int, int> decode(const Bytes& bytes, const char* name = "picture") {
    std::uint32_t error = 99;
    PlatformBitmap* bitmap = load_picture_bitmap(file(name, bytes).c_str(), &error);
    if (bitmap == nullptr) return {-static_cast<int>(error), 0};
    const PictureInfo info = picture_info(bitmap);
    delete_bitmap(bitmap);
    return {info.width, info.height};
  }
};

TEST_F(PictureFixture, EachFormatDecodesAtItsPixelSize) {
  EXPECT_EQ(decode(encode(pattern(33, 17), "bmp")), std::make_pair(33, 17));
  EXPECT_EQ(decode(encode(pattern(64, 48), "jpg")), std::make_pair(64, 48));
  EXPECT_EQ(decode(sample_gif()), std::make_pair(900, 200));
  // The content decides, not the name; names need not be valid UTF-8.
  EXPECT_EQ(decode(encode(pattern(5, 6), "bmp"), "named \xff\xfe.txt"), std::make_pair(5, 6));
  // A photo turned by its EXIF orientation stands upright.
  EXPECT_EQ(decode(with_exif_orientation(encode(pattern(40, 20), "jpg"), 6)),
            std::make_pair(20, 40));
}

TEST_F(PictureFixture, BadInputFailsWithCodeTwoAndNeverCrashes) {
  const std::pair<int, int> not_loaded(-static_cast<int>(kPictureNotLoaded), 0);
  EXPECT_EQ(decode({}), not_loaded);
  std::mt19937 random(7);
  Bytes noise(5000);
  for (auto& byte : noise) byte = static_cast<std::uint8_t>(random());
  EXPECT_EQ(decode(noise), not_loaded);
  // Headers that claim enormous pictures are refused before anything is allocated.
  Bytes huge_bmp = encode(pattern(4, 4), "bmp");
  huge_bmp[20] = huge_bmp[24] = 0x10;  // 1,048,580 pixels square
  EXPECT_EQ(decode(huge_bmp), not_loaded);
  EXPECT_EQ(decode(sample_gif(65535)), not_loaded);
  // Truncated files decode what they hold, at their declared size.
  for (const char* format : {"bmp", "jpg"}) {
    Bytes whole = encode(pattern(64, 64), format);
    whole.resize(whole.size() / 2);
    EXPECT_EQ(decode(whole), std::make_pair(64, 64)) << format;
  }
  Bytes cut_gif = sample_gif();
  cut_gif.resize(cut_gif.size() / 2);
  EXPECT_EQ(decode(cut_gif), std::make_pair(900, 200));
  // A frame outside its screen gives the screen.
  EXPECT_EQ(decode(sample_gif(0, 5000)), std::make_pair(900, 200));
}

TEST_F(PictureFixture, LoadImageFillsABottomUpBufferOrSetsTheFailureTitle) {
  load_image(*state, file("p.bmp", encode(pattern(7, 3), "bmp")).c_str());
  ASSERT_NE(state->pixel_buffer, nullptr);
  EXPECT_EQ(state->loader_busy.load(), 0);
  const BitmapHeader& h = state->image_header;
  // Size, width, height, planes, bits; the rows padded to 32 pixels: (7 + 7) / 8 x 3 x 32.
  EXPECT_EQ(std::vector<std::int64_t>(
                {h.size, h.width, h.height, h.planes, h.bit_count, h.compression, h.size_image}),
            std::vector<std::int64_t>({40, 7, 3, 1, 32, 0, 96}));
  // Row 0 of the buffer is the picture's bottom row; pixels are blue, green, red.
  const auto* pixels = reinterpret_cast<const std::uint32_t*>(state->pixel_buffer);
  EXPECT_EQ(pixels[0] & 0xFFFFFF, pattern_colour(0, 2) & 0xFFFFFF);
  EXPECT_EQ(pixels[7 * 2 + 6] & 0xFFFFFF, pattern_colour(6, 0) & 0xFFFFFF);
  EXPECT_TRUE(headless_titles().empty());
  const fs::path bad = file("notes.jpg", {'h', 'e', 'l', 'l', 'o'});
  load_image(*state, bad.c_str());
  EXPECT_EQ(state->image_bitmap, nullptr);  // the previous image is gone too
  EXPECT_EQ(state->pixel_buffer, nullptr);
  EXPECT_EQ(state->loader_busy.load(), 0);
  EXPECT_EQ(headless_titles(),
            std::vector<std::string>{"Image Incompatable With Tessmira - " + bad.string()});
}

}  // namespace
