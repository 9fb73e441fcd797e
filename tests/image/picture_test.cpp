// Decoding through the Qt layer and the image buffer built from it.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <random>

#include "image/image.h"
#include "picture_files.h"
#include "platform/headless/headless_desktop.h"
#include "platform/picture.h"

namespace fs = std::filesystem;
using namespace picture_files;

namespace {

struct PictureFixture : ::testing::Test {
  fs::path folder;
  std::unique_ptr<AppState> state = std::make_unique<AppState>();
  void SetUp() override {
    char pattern_path[] = "/tmp/tessmira-picture-XXXXXX";
    ASSERT_NE(mkdtemp(pattern_path), nullptr);
    folder = pattern_path;
    headless_reset();
  }
  void TearDown() override {
    free_image(*state);
    fs::remove_all(folder);
  }
  fs::path file(const char* name, const Bytes& bytes) {
    write_file(folder / name, bytes);
    return folder / name;
  }
  // Decodes path: the bitmap's size, or the error code as width -error.
  std::pair<int, int> decode(const fs::path& path) {
    std::uint32_t error = 99;
    PlatformBitmap* bitmap = load_picture_bitmap(path.c_str(), &error);
    if (bitmap == nullptr) return {-static_cast<int>(error), 0};
    const PictureInfo info = picture_info(bitmap);
    delete_bitmap(bitmap);
    return {info.width, info.height};
  }
};

TEST_F(PictureFixture, EachFormatDecodesAtItsPixelSize) {
  EXPECT_EQ(decode(file("a.bmp", encode(pattern(33, 17), "bmp"))), std::make_pair(33, 17));
  EXPECT_EQ(decode(file("a.jpg", encode(pattern(64, 48), "jpg"))), std::make_pair(64, 48));
  std::vector<std::uint8_t> indexes(30 * 20);
  for (std::size_t i = 0; i < indexes.size(); ++i) indexes[i] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(decode(file("a.gif", gif(30, 20, 0, 0, 30, 20, indexes))), std::make_pair(30, 20));
  // The content decides, not the name; names need not be valid UTF-8.
  EXPECT_EQ(decode(file("named \xff\xfe.txt", encode(pattern(5, 6), "bmp"))), std::make_pair(5, 6));
  // A photo turned by its EXIF orientation stands upright.
  EXPECT_EQ(decode(file("turned.jpg", with_exif_orientation(encode(pattern(40, 20), "jpg"), 6))),
            std::make_pair(20, 40));
}

TEST_F(PictureFixture, BadInputFailsWithCodeTwoAndNeverCrashes) {
  const int not_loaded = -static_cast<int>(kPictureNotLoaded);
  EXPECT_EQ(decode(folder / "missing.jpg").first, not_loaded);
  EXPECT_EQ(decode(file("empty.jpg", {})).first, not_loaded);
  EXPECT_EQ(decode(folder).first, not_loaded);  // a directory
  std::mt19937 random(7);
  Bytes noise(5000);
  for (auto& byte : noise) byte = static_cast<std::uint8_t>(random());
  EXPECT_EQ(decode(file("noise.jpg", noise)).first, not_loaded);
  // Headers that claim enormous pictures are refused before anything is allocated.
  EXPECT_EQ(decode(file("huge.bmp", bmp_claiming(100000, 100000))).first, not_loaded);
  EXPECT_EQ(decode(file("huge.gif", gif(65535, 65535, 0, 0, 65535, 65535, {1, 2, 3}))).first,
            not_loaded);

  // Truncated files decode what they hold, at their declared size.
  for (const char* format : {"bmp", "jpg"}) {
    Bytes whole = encode(pattern(64, 64), format);
    whole.resize(whole.size() / 2);
    EXPECT_EQ(decode(file((std::string("cut.") + format).c_str(), whole)), std::make_pair(64, 64))
        << format;
  }
  Bytes cut_gif = gif(40, 40, 0, 0, 40, 40, std::vector<std::uint8_t>(1600, 3));
  cut_gif.resize(cut_gif.size() / 2);
  EXPECT_EQ(decode(file("cut.gif", cut_gif)), std::make_pair(40, 40));
  // A frame outside its screen gives the screen; indexes past a two-colour
  // table decode too.
  EXPECT_EQ(decode(file("outside.gif",
                        gif(10, 10, 5000, 5000, 20, 20, std::vector<std::uint8_t>(400, 1)))),
            std::make_pair(10, 10));
  EXPECT_EQ(
      decode(file("palette.gif", gif(8, 8, 0, 0, 8, 8, std::vector<std::uint8_t>(64, 200), 1))),
      std::make_pair(8, 8));
}

TEST_F(PictureFixture, LoadImageFillsABottomUpBufferAndHeader) {
  const fs::path path = file("p.bmp", encode(pattern(7, 3), "bmp"));
  load_image(*state, path.c_str());
  ASSERT_NE(state->image_bitmap, nullptr);
  ASSERT_NE(state->pixel_buffer, nullptr);
  EXPECT_EQ(state->loader_busy.load(), 0);
  EXPECT_EQ(state->image_width, 7);
  EXPECT_EQ(state->image_height, 3);
  const BitmapHeader& h = state->image_header;
  EXPECT_EQ(h.size, 40u);
  EXPECT_EQ(h.width, 7);
  EXPECT_EQ(h.height, 3);
  EXPECT_EQ(h.planes, 1);
  EXPECT_EQ(h.bit_count, 32);
  EXPECT_EQ(h.compression, 0u);
  EXPECT_EQ(h.size_image, 1u * 3 * 32);  // (7 + 7) / 8 x 3 x 32
  // Row 0 of the buffer is the picture's bottom row; pixels are blue, green, red.
  const auto* pixels = reinterpret_cast<const std::uint32_t*>(state->pixel_buffer);
  EXPECT_EQ(pixels[0] & 0xFFFFFF, pattern_colour(0, 2) & 0xFFFFFF);
  EXPECT_EQ(pixels[7 * 2 + 6] & 0xFFFFFF, pattern_colour(6, 0) & 0xFFFFFF);
  EXPECT_TRUE(headless_titles().empty());
}

TEST_F(PictureFixture, AFileThatIsNoPictureSetsTheFailureTitle) {
  load_image(*state, (folder / "p.bmp").c_str());
  ASSERT_EQ(state->loader_busy.load(), 0);
  const fs::path path = file("p.bmp", encode(pattern(4, 4), "bmp"));
  load_image(*state, path.c_str());
  ASSERT_NE(state->image_bitmap, nullptr);
  const fs::path bad = file("notes.jpg", {'h', 'e', 'l', 'l', 'o'});
  load_image(*state, bad.c_str());
  EXPECT_EQ(state->image_bitmap, nullptr);  // the previous image is gone too
  EXPECT_EQ(state->pixel_buffer, nullptr);
  EXPECT_EQ(state->loader_busy.load(), 0);
  const auto titles = headless_titles();
  ASSERT_EQ(titles.size(), 2u);
  EXPECT_EQ(titles.back(), "Image Incompatable With Tessmira - " + bad.string());
}

std::atomic<int> sleeps{0};
AppState* released_by_sleep = nullptr;

TEST_F(PictureFixture, ALoadWaitsWhileAnotherHolderHasTheFlag) {
  // Held throughout: the claim gives up after six sleeps of 500 ms.
  sleeps = 0;
  state->sleep_ms = [](std::uint32_t ms) {
    EXPECT_EQ(ms, 500u);
    ++sleeps;
  };
  state->loader_busy = 1;
  EXPECT_EQ(claim_loader_busy(*state), 0);
  EXPECT_EQ(sleeps.load(), 6);

  // Released during the third round's sleeps: the load then proceeds.
  sleeps = 0;
  released_by_sleep = state.get();
  state->sleep_ms = [](std::uint32_t) {
    if (++sleeps == 14) released_by_sleep->loader_busy = 0;
  };
  const fs::path path = file("w.bmp", encode(pattern(2, 2), "bmp"));
  load_image(*state, path.c_str());
  EXPECT_EQ(sleeps.load(), 18);
  EXPECT_NE(state->pixel_buffer, nullptr);
  EXPECT_EQ(state->loader_busy.load(), 0);
}

TEST_F(PictureFixture, FiftyMegapixelJpegLoads) {
  QImage big(10000, 5000, QImage::Format_RGB32);
  big.fill(qRgb(10, 200, 30));
  const fs::path path = file("big.jpg", encode(big, "jpg", 40));
  big = QImage();
  load_image(*state, path.c_str());
  ASSERT_NE(state->pixel_buffer, nullptr);
  EXPECT_EQ(state->image_width, 10000);
  EXPECT_EQ(state->image_height, 5000);
  EXPECT_EQ(state->image_header.size_image, 200000000u);
}

}  // namespace
