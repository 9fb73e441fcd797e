// The image pipeline: decoding through the Qt layer, the image buffer built
// from it, paint geometry, the title, and off-screen paints checked pixel by
// pixel.
#include <gtest/gtest.h>
#include <QBuffer>
#include <QImage>
#include <QImageWriter>

#include <condition_variable>
#include <mutex>
#include <random>
#include <thread>

#include "image/image.h"
#include "navigation/navigation.h"
#include "platform/headless/headless_desktop.h"
#include "platform/qt/qt_bitmap.h"
#include "ports/picture.h"
#include "state/seams.h"
#include "support.h"

using namespace test_support;

namespace {

// The colour of image pixel (x, y) in the test pattern: red x*8, green y*8.
QRgb pattern_colour(int x, int y) {
  return qRgb((x * 8) & 0xFF, (y * 8) & 0xFF, 77);
}

QImage pattern(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) image.setPixel(x, y, pattern_colour(x, y));
  }
  return image;
}

// Encodes image in a format Qt can write ("bmp", "jpg", "png").
Bytes encode(const QImage& image, const char* format, int quality = 90) {
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
Bytes sample_gif(std::uint16_t screen_size = 0, std::uint16_t frame_left = 0) {
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

// Picture files in a temporary folder, decoded, loaded and painted.
struct PictureFixture : ::testing::Test {
  TempFolder temp;
  std::unique_ptr<AppState> state = std::make_unique<AppState>();
  void SetUp() override {
    headless_reset();
    test_seams() = TestSeams{};
  }
  void TearDown() override {
    delete state->viewer.image.back_buffer;
    free_image(state->viewer.image);
    test_seams() = TestSeams{};
  }
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
  void show(int width, int height) {
    load_image(state->viewer, state->settings, state->extra,
               file("p.bmp", encode(pattern(width, height), "bmp")).c_str());
  }
  // Paints into a fresh back buffer each time, as after a resize.
  const QImage& paint(int client_width, int client_height) {
    delete state->viewer.image.back_buffer;
    state->viewer.image.back_buffer = nullptr;
    state->viewer.image.client_width = client_width;
    state->viewer.image.client_height = client_height;
    paint_window(state->viewer, state->settings);
    return state->viewer.image.back_buffer->image;
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
  load_image(state->viewer, state->settings, state->extra,
             file("p.bmp", encode(pattern(7, 3), "bmp")).c_str());
  ASSERT_NE(state->viewer.image.pixel_buffer, nullptr);
  EXPECT_EQ(state->viewer.worker.loader_busy.load(), 0);
  const BitmapHeader& h = state->viewer.image.image_header;
  // Size, width, height, planes, bits; the bytes of the rows the decoder holds: 7 x 4 x 3.
  EXPECT_EQ(std::vector<std::int64_t>(
                {h.size, h.width, h.height, h.planes, h.bit_count, h.compression, h.size_image}),
            std::vector<std::int64_t>({40, 7, 3, 1, 32, 0, 84}));
  // Row 0 of the buffer is the picture's bottom row; pixels are blue, green, red.
  const auto* pixels = reinterpret_cast<const std::uint32_t*>(state->viewer.image.pixel_buffer);
  EXPECT_EQ(pixels[0] & 0xFFFFFF, pattern_colour(0, 2) & 0xFFFFFF);
  EXPECT_EQ(pixels[7 * 2 + 6] & 0xFFFFFF, pattern_colour(6, 0) & 0xFFFFFF);
  EXPECT_TRUE(headless_titles().empty());
  const fs::path bad = file("notes.jpg", {'h', 'e', 'l', 'l', 'o'});
  load_image(state->viewer, state->settings, state->extra, bad.c_str());
  EXPECT_EQ(state->viewer.image.image_bitmap, nullptr);  // the previous image is gone too
  EXPECT_EQ(state->viewer.image.pixel_buffer, nullptr);
  EXPECT_EQ(state->viewer.worker.loader_busy.load(), 0);
  EXPECT_EQ(headless_titles(),
            std::vector<std::string>{"Image Incompatable With Tessmira - " + bad.string()});
}

TEST(Paint, PercentOfWrapsAndNeverDividesByZero) {
  EXPECT_EQ(percent_of(999, 1000), 99u);
  EXPECT_EQ(percent_of(50000000, 1), 50000000u * 100u);  // the product wraps
  EXPECT_EQ(percent_of(5, 0), 0u);
}

TEST(Paint, PlansFitCentreAndFollowThePointer) {
  struct Case {
    std::int32_t client_w, client_h, image_w, image_h, zoom, pan_x, pan_y;
    PaintPlan plan;  // scale, draw, target x, y, width, height, source x, y
  };
  const Case cases[] = {
      // Fitted: centred; small images are enlarged.
      {1000, 800, 2000, 1000, 0, 0, 0, {50, 1, 0, 150, 1000, 500, 0, 0}},
      {1000, 800, 100, 100, 0, 0, 0, {800, 1, 100, 0, 800, 800, 0, 0}},
      // Magnified: the source follows the pointer, clamped to the window;
      // values above 60000 are positions left of or above it.
      {1000, 800, 2000, 1000, 1, 500, 400, {100, 1, 0, 0, 2000, 1000, 500, -100}},
      {1000, 800, 2000, 1000, 1, 1000, 800, {100, 1, 0, 0, 2000, 1000, 1000, -200}},
      {1000, 800, 2000, 1000, 1, 65530, 65530, {100, 1, 0, 0, 2000, 1000, 0, 0}},
      {1000, 800, 2000, 1000, 1, 3000, 2000, {100, 1, 0, 0, 2000, 1000, 1000, -200}},
      {1000, 800, 2000, 1000, 3, 500, 400, {400, 1, 0, 0, 8000, 4000, 875, -400}},
      // Narrower than the window: moved right, the division truncating toward zero.
      {1000, 800, 100, 1000, 1, 500, 0, {160, 1, 0, 0, 160, 1600, -262, 0}},
      // A zero scale (over 100 times wider) or a zero client draws nothing.
      {1000, 800, 200000, 10, 2, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}},
      {0, 800, 100, 100, 1, 10, 10, {0, 0, 0, 0, 0, 0, 0, 0}},
      {1000, 0, 100, 100, 0, 10, 10, {0, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    const PaintPlan p =
        plan_paint(c.client_w, c.client_h, c.image_w, c.image_h, c.zoom, c.pan_x, c.pan_y);
    const PaintPlan& e = c.plan;
    EXPECT_EQ(p.draw, e.draw) << c.image_w << " zoom " << c.zoom << " at " << c.pan_x;
    if (e.draw == 0) continue;
    EXPECT_EQ(std::vector<std::int64_t>({p.scale, p.target_x, p.target_y, p.target_width,
                                         p.target_height, p.source_x, p.source_y}),
              std::vector<std::int64_t>({e.scale, e.target_x, e.target_y, e.target_width,
                                         e.target_height, e.source_x, e.source_y}))
        << c.image_w << " zoom " << c.zoom << " at " << c.pan_x;
  }
}

TEST(Paint, TitleInLinearAndRandomModesWithTheFolderShortened) {
  auto state = std::make_unique<AppState>();
  std::strcpy(state->settings.image_path, "/pictures/summer/beach.jpg");
  std::strcpy(state->settings.view_folder, "/pictures/summer");
  state->viewer.image.image_width = 1600;
  state->viewer.image.image_height = 1200;
  state->viewer.worker.current_index = 2;
  state->viewer.worker.file_count = 41;
  char title[kTitleBytes];
  state->settings.select_mode = 1;
  build_title(state->viewer, state->settings, 50, title);
  EXPECT_STREQ(title,
               "/pictures/summer/beach.jpg (1600 x 1200 @ 50%) /pictures/summer 3 of 41 Files - "
               "Tessmira 1.0");
  state->settings.select_mode = 2;
  // A folder of 75 characters is shown whole; a longer one by its last 75.
  for (const std::size_t length : {75, 76}) {
    const std::string folder = std::string("/").append(length - 1, 'f');
    std::strcpy(state->settings.view_folder, folder.c_str());
    build_title(state->viewer, state->settings, 50, title);
    const std::string shown = length == 75 ? folder : "..." + folder.substr(1);
    EXPECT_EQ(std::string(title), "/pictures/summer/beach.jpg (1600 x 1200 @ 50%) " + shown +
                                      " 41 Files - Tessmira 1.0");
  }
}

TEST(Paint, AReductionStillCoversTheFittedSize) {
  // 6000 x 4000 in 800 x 600: 13%, 780 x 520; a quarter (1500 x 1000) covers it.
  EXPECT_EQ(fit_reduction(800, 600, 6000, 4000), 4u);
  EXPECT_EQ(fit_reduction(750, 500, 6000, 4000), 8u);    // 12%: 720 x 480 within 750 x 500
  EXPECT_EQ(fit_reduction(3000, 2000, 6000, 4000), 2u);  // 50%
  EXPECT_EQ(fit_reduction(3060, 2040, 6000, 4000), 1u);  // 51%: decoded in full
  EXPECT_EQ(fit_reduction(50, 50, 98, 98), 1u);          // 51%, though a half would cover it
  EXPECT_EQ(fit_reduction(0, 600, 6000, 4000), 1u);
  EXPECT_EQ(fit_reduction(8, 8, 17, 17), 2u);  // 47%: 7 of the rounded-up 9 pixels
}

// Twelve flat 400 x 400 squares of colour.
QImage squares() {
  QImage image(1600, 1200, QImage::Format_RGB32);
  for (int y = 0; y < 1200; ++y) {
    for (int x = 0; x < 1600; ++x) {
      const int n = y / 400 * 4 + x / 400;
      image.setPixel(x, y, qRgb(n * 20, 255 - n * 20, (n * 97) & 0xFF));
    }
  }
  return image;
}

TEST_F(PictureFixture, AReducedDecodeTitlesTheOwnSizeAndPaintsAsTheFullOne) {
  const fs::path path = file("squares.jpg", encode(squares(), "jpg", 95));
  Picture reduced;
  ASSERT_EQ(decode_picture(state->viewer.image, state->extra, path.c_str(), 400, 300,
                           kUnboundedPixels, &reduced),
            0u);
  EXPECT_EQ(std::make_pair(reduced.width, reduced.height), std::make_pair(1600, 1200));
  EXPECT_EQ(std::make_pair(reduced.header.width, reduced.header.height), std::make_pair(400, 300));
  std::strcpy(state->settings.image_path, path.c_str());
  state->viewer.worker.file_count = 1;
  state->viewer.worker.request_kind = RequestKind::step;  // a list in use: the paint titles
  install_picture(state->viewer.image, &reduced, path.c_str());
  const QImage small = paint(400, 300);
  ASSERT_FALSE(headless_titles().empty());
  EXPECT_NE(headless_titles().back().find(" (1600 x 1200 @ 25%) "), std::string::npos);
  load_image(state->viewer, state->settings, state->extra,
             path.c_str());  // no decoding thread: in full
  ASSERT_EQ(state->viewer.image.image_header.width, 1600);
  const QImage& full = paint(400, 300);
  // Flat colour exactly; at the squares' edges, where the full picture is
  // painted by picking a side, near the average of the 4 x 4 pixels the
  // reduced decode stands for (computed here: Qt's smooth scaling runs on
  // threads ThreadSanitizer cannot see into).
  const auto* rows = reinterpret_cast<const std::uint32_t*>(state->viewer.image.pixel_buffer);
  const auto average = [rows](int x, int y, int shift) {
    int sum = 0;
    for (int i = 0; i < 16; ++i)
      sum += (rows[(1199 - y * 4 - i / 4) * 1600 + x * 4 + i % 4] >> shift) & 0xFF;
    return sum / 16;
  };
  for (int y = 0; y < 300; ++y) {
    for (int x = 0; x < 400; ++x) {
      const bool inside = (x % 100) > 2 && (x % 100) < 97 && (y % 100) > 2 && (y % 100) < 97;
      for (const int shift : {0, 8, 16}) {
        const int a = static_cast<int>((small.pixel(x, y) >> shift) & 0xFF);
        const int b =
            inside ? static_cast<int>((full.pixel(x, y) >> shift) & 0xFF) : average(x, y, shift);
        ASSERT_LE(std::abs(a - b), inside ? 0 : 24) << x << "," << y;
      }
    }
  }
  // Over the budget nothing is decoded; a turned photo reduces upright.
  Picture picture;
  EXPECT_EQ(decode_picture(state->viewer.image, state->extra, path.c_str(), 400, 300, 400 * 300 - 1,
                           &picture),
            kPictureOverBudget);
  EXPECT_EQ(picture.bitmap, nullptr);
  const fs::path turned =
      file("turned.jpg", with_exif_orientation(encode(pattern(160, 80), "jpg"), 6));
  ASSERT_EQ(decode_picture(state->viewer.image, state->extra, turned.c_str(), 20, 40,
                           kUnboundedPixels, &picture),
            0u);
  EXPECT_EQ(std::make_pair(picture.width, picture.height), std::make_pair(80, 160));
  EXPECT_EQ(std::make_pair(picture.header.width, picture.header.height), std::make_pair(20, 40));
  free_picture(state->viewer.image, &picture);
}

// The decodes the decoding threads make, by reduction and outcome; a
// full-size one may be held at its start until the test lets it go.
struct FullDecodes {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<std::uint32_t> started;  // reductions
  std::vector<std::uint32_t> ended;    // outcomes of the full-size ones
  bool hold = false;
  bool held = false;
};
FullDecodes full_decodes;

void full_decoding(const char*, std::uint32_t reduction) {
  std::unique_lock<std::mutex> hold(full_decodes.lock);
  full_decodes.started.push_back(reduction);
  if (reduction != 1) return;
  full_decodes.held = full_decodes.hold;
  full_decodes.changed.notify_all();
  full_decodes.changed.wait(hold, [] { return !full_decodes.hold; });
  full_decodes.held = false;
}

void full_decoded(const char*, std::uint32_t reduction, std::uint32_t error) {
  std::lock_guard<std::mutex> hold(full_decodes.lock);
  if (reduction == 1) full_decodes.ended.push_back(error);
  full_decodes.changed.notify_all();
}

TEST_F(PictureFixture, TheFullSizeIsDecodedForTheMagnifierOrWhenIdleAndAStepStopsIt) {
  const fs::path path = file("p.jpg", encode(pattern(160, 120), "jpg", 100));
  Picture full;
  ASSERT_EQ(decode_picture(state->viewer.image, state->extra, path.c_str(), 0, 0, kUnboundedPixels,
                           &full),
            0u);
  state->viewer.image.fit_width = 40;
  state->viewer.image.fit_height = 30;
  std::strcpy(state->settings.image_path, path.c_str());
  state->viewer.prefetch.full_idle_ms = 3600u * 1000u;  // the user never rests
  test_seams().decoding = full_decoding;
  test_seams().decoded = full_decoded;
  full_decodes.started.clear();  // a repeated run starts afresh
  full_decodes.ended.clear();
  full_decodes.hold = true;
  prefetch_start(state->viewer, state->extra);
  const auto shown_width = [&] {
    std::lock_guard<std::mutex> hold(state->viewer.image.image_lock);
    return state->viewer.image.image_header.width;
  };
  // Steps with the magnifier unused: the reduced decodes, never a full one.
  for (int step = 0; step < 3; ++step) {
    load_image(state->viewer, state->settings, state->extra, path.c_str());
    prefetch_next(state->viewer, state->settings);
  }
  EXPECT_EQ(shown_width(), 40);
  {
    std::lock_guard<std::mutex> hold(full_decodes.lock);
    EXPECT_EQ(full_decodes.started, std::vector<std::uint32_t>(3, 4));
  }
  // A drag starts the full decode; a step while it runs stops it.
  set_magnifying(state->viewer, true);
  std::unique_lock<std::mutex> hold(full_decodes.lock);
  ASSERT_TRUE(full_decodes.changed.wait_for(hold, std::chrono::seconds(30),
                                            [] { return full_decodes.held; }));
  request_next_image(state->viewer, state->settings, 0);
  full_decodes.hold = false;
  full_decodes.changed.notify_all();
  ASSERT_TRUE(full_decodes.changed.wait_for(hold, std::chrono::seconds(30),
                                            [] { return !full_decodes.ended.empty(); }));
  EXPECT_EQ(full_decodes.ended[0], kPictureCancelled);
  hold.unlock();
  EXPECT_EQ(shown_width(), 40);
  // Shown again (the step's picture), with the drag still on: in full once decoded.
  load_image(state->viewer, state->settings, state->extra, path.c_str());
  prefetch_next(state->viewer, state->settings);
  ASSERT_TRUE(eventually([&] { return shown_width() == 160; }));
  // Without a drag, a picture looked at for long enough gets its full size too.
  set_magnifying(state->viewer, false);
  {
    std::lock_guard<std::mutex> rest(state->viewer.prefetch.lock);
    state->viewer.prefetch.full_idle_ms = 0;
  }
  load_image(state->viewer, state->settings, state->extra, path.c_str());
  EXPECT_EQ(shown_width(), 40);
  prefetch_next(state->viewer, state->settings);
  const bool in_full = eventually([&] { return shown_width() == 160; });
  prefetch_stop(state->viewer);
  ASSERT_TRUE(in_full);
  EXPECT_EQ(state->viewer.image.image_width, 160);
  // Magnified 4 times from the top-left corner: each client pixel is a picture pixel.
  state->viewer.image.zoom_level = 2;
  const QImage& magnified = paint(40, 30);
  const auto* pixels = reinterpret_cast<const std::uint32_t*>(full.pixels);
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 40; ++x) {
      ASSERT_EQ(magnified.pixel(x, y) & 0xFFFFFF, pixels[(119 - y) * 160 + x] & 0xFFFFFF)
          << x << "," << y;
    }
  }
  free_picture(state->viewer.image, &full);
}

constexpr QRgb kBlack = 0xFF000000u;

TEST_F(PictureFixture, FittedPaintCentresOnBlackAndMagnifiedFollowsThePointer) {
  show(4, 2);
  const QImage& fitted = paint(10, 8);  // fit 250: 10 x 5 at (0, 1)
  for (int x = 0; x < 10; ++x) {
    for (const int y : {0, 6, 7}) EXPECT_EQ(fitted.pixel(x, y), kBlack) << x << "," << y;
  }
  EXPECT_EQ(fitted.pixel(0, 1), pattern_colour(0, 0));
  EXPECT_EQ(fitted.pixel(9, 5), pattern_colour(3, 1));
  EXPECT_EQ(fitted.pixel(5, 3), pattern_colour(2, 1));
  show(20, 10);
  state->viewer.image.zoom_level = 1;  // scale 100: one image pixel per client pixel
  const QImage& top_left = paint(10, 8);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 10; ++x)
      ASSERT_EQ(top_left.pixel(x, y), pattern_colour(x, y)) << x << "," << y;
  }
  state->viewer.image.pan_x = 10;
  state->viewer.image.pan_y = 8;
  EXPECT_EQ(paint(10, 8).pixel(9, 7), pattern_colour(19, 9));
  // Narrow: fit 40, scale 80, drawn 3 x 16 at source x (3 - 20) x 50 / 80 = -10;
  // the image's columns land at 8 to 10, half of the free space left of it.
  show(4, 20);
  state->viewer.image.pan_y = 0;
  const QImage& narrow = paint(20, 8);
  const QRgb row[] = {kBlack, pattern_colour(0, 1), pattern_colour(2, 1), pattern_colour(3, 1),
                      kBlack};
  for (int x = 7; x <= 11; ++x) EXPECT_EQ(narrow.pixel(x, 0), row[x - 7]) << x;
}

}  // namespace
