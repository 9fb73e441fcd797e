// Every picture type through the Linux picture layer, made by the formats'
// own encoders, and colour management checked against Little CMS's transicc.
#include <gtest/gtest.h>
#include <zlib.h>

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <array>
#include <cstdio>
#include <sstream>
// After cstdio, which it needs.
#include <jpeglib.h>

#include "platform/qt/qt_bitmap.h"
#include "ports/picture.h"
#include "support.h"

using namespace test_support;

namespace {

using Rgb = std::array<int, 3>;
// The three stripes' colours, 16 pixels wide each, left to right.
constexpr Rgb kStripes[3] = {{200, 40, 90}, {30, 160, 220}, {128, 128, 128}};
constexpr int kWidth = 48;
constexpr int kHeight = 32;
const fs::path kProfiles = "/usr/share/color/icc";

std::string quoted(const fs::path& path) {
  return "'" + path.string() + "'";
}
bool run(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

Bytes png_of(const QImage& image) {
  QByteArray data;
  QBuffer buffer(&data);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter(&buffer, "png").write(image);
  return Bytes(data.begin(), data.end());
}

QImage stripes() {
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  for (int x = 0; x < kWidth; ++x) {
    const Rgb& c = kStripes[x / 16];
    for (int y = 0; y < kHeight; ++y) image.setPixel(x, y, qRgb(c[0], c[1], c[2]));
  }
  return image;
}

void put32(Bytes& out, std::uint32_t value) {
  const std::uint8_t bytes[4] = {
      static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
      static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
  out.insert(out.end(), bytes, bytes + 4);
}

// A PNG chunk of type with data, its CRC computed.
Bytes png_chunk(const char* type, const Bytes& data) {
  Bytes chunk;
  put32(chunk, static_cast<std::uint32_t>(data.size()));
  chunk.insert(chunk.end(), type, type + 4);
  chunk.insert(chunk.end(), data.begin(), data.end());
  put32(chunk,
        static_cast<std::uint32_t>(crc32(0, chunk.data() + 4, static_cast<uInt>(data.size() + 4))));
  return chunk;
}

// The PNG with chunks put after its header.
Bytes with_chunks(Bytes png, const Bytes& chunks) {
  png.insert(png.begin() + 33, chunks.begin(), chunks.end());
  return png;
}

Bytes iccp_chunk(const Bytes& profile) {
  uLongf size = compressBound(static_cast<uLong>(profile.size()));
  Bytes data = {'i', 'c', 'c', 0, 0};
  Bytes packed(size);
  compress(packed.data(), &size, profile.data(), static_cast<uLong>(profile.size()));
  data.insert(data.end(), packed.begin(), packed.begin() + static_cast<long>(size));
  return png_chunk("iCCP", data);
}

// The JPEG with the profile in APP2 segments after its start, as many as
// it takes (65,519 bytes of profile each).
Bytes with_app2_profile(Bytes jpeg, const Bytes& profile) {
  constexpr std::size_t kPiece = 65519;
  const std::size_t count = (profile.size() + kPiece - 1) / kPiece;
  Bytes segments;
  for (std::size_t n = 0; n < count; ++n) {
    const std::size_t piece = std::min(kPiece, profile.size() - n * kPiece);
    const std::size_t length = 2 + 14 + piece;
    const std::uint8_t head[18] = {0xFF,
                                   0xE2,
                                   static_cast<std::uint8_t>(length >> 8),
                                   static_cast<std::uint8_t>(length),
                                   'I',
                                   'C',
                                   'C',
                                   '_',
                                   'P',
                                   'R',
                                   'O',
                                   'F',
                                   'I',
                                   'L',
                                   'E',
                                   0,
                                   static_cast<std::uint8_t>(n + 1),
                                   static_cast<std::uint8_t>(count)};
    segments.insert(segments.end(), head, head + sizeof head);
    const auto from = profile.begin() + static_cast<long>(n * kPiece);
    segments.insert(segments.end(), from, from + static_cast<long>(piece));
  }
  jpeg.insert(jpeg.begin() + 2, segments.begin(), segments.end());
  return jpeg;
}

// A CMYK JPEG of the stripes' inks (quality 100), stored inverted with
// Adobe's marker as Adobe's writers do.
Bytes cmyk_jpeg(const std::array<std::array<int, 4>, 3>& inks) {
  jpeg_compress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &out, &size);
  info.image_width = kWidth;
  info.image_height = kHeight;
  info.input_components = 4;
  info.in_color_space = JCS_CMYK;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 100, TRUE);
  info.write_Adobe_marker = TRUE;
  jpeg_start_compress(&info, TRUE);
  std::vector<std::uint8_t> row(kWidth * 4);
  for (int x = 0; x < kWidth; ++x) {
    for (int i = 0; i < 4; ++i) row[x * 4 + i] = static_cast<std::uint8_t>(255 - inks[x / 16][i]);
  }
  while (info.next_scanline < info.image_height) {
    JSAMPROW line = row.data();
    jpeg_write_scanlines(&info, &line, 1);
  }
  jpeg_finish_compress(&info);
  Bytes bytes(out, out + size);
  jpeg_destroy_compress(&info);
  std::free(out);
  return bytes;
}

// What transicc gives for values (0..255 for RGB, percent for CMYK) from
// profile to `to` ("*sRGB" or a file), perceptual, clamped to 0..255.
Rgb transicc(const fs::path& from, const std::string& to, const std::vector<double>& values) {
  std::ostringstream command;
  command << "echo";
  for (const double v : values) command << ' ' << v;
  command << " | transicc -t 0 -n -i " << quoted(from) << " -o " << to << " 2>/dev/null | tail -1";
  FILE* pipe = popen(command.str().c_str(), "r");
  Rgb out = {-999, -999, -999};
  double r = 0, g = 0, b = 0;
  if (pipe != nullptr && std::fscanf(pipe, "%lf %lf %lf", &r, &g, &b) == 3) {
    const auto level = [](double v) {
      return static_cast<int>(std::lround(std::clamp(v, 0.0, 255.0)));
    };
    out = {level(r), level(g), level(b)};
  }
  if (pipe != nullptr) pclose(pipe);
  return out;
}

struct FormatFixture : ::testing::Test {
  TempFolder temp;
  void TearDown() override { picture_set_display_profile(nullptr, 0); }
  fs::path put(const char* name, const Bytes& bytes) {
    write_bytes(temp.path / name, bytes);
    return temp.path / name;
  }
  // The file in every type, made from the PNG by each format's encoder.
  std::vector<fs::path> every_type(const fs::path& png, const fs::path* profile = nullptr) {
    const std::string in = quoted(png);
    const fs::path base = temp.path / png.stem();
    const std::string icc = profile != nullptr ? " --icc " + quoted(*profile) : "";
    const std::pair<const char*, std::string> made[] = {
        {".webp", "cwebp -quiet -lossless -metadata icc " + in + " -o "},
        {".tiff", "convert " + in + " -compress lzw "},
        {".avif", "avifenc -l" + icc + " " + in + " "},
        {".heic", "heif-enc -L " + in + " -o "},
        {".jxl", "cjxl -d 0 " + in + " "},
    };
    std::vector<fs::path> files = {png};
    for (const auto& [ending, command] : made) {
      const fs::path file = base.string() + ending;
      EXPECT_TRUE(run(command + quoted(file))) << command;
      files.push_back(file);
    }
    return files;
  }
};

// Decodes the file: the bitmap's image, or a null one with *error set.
QImage decoded(const fs::path& path, PictureColour colour = PictureColour::managed,
               std::uint32_t* error = nullptr) {
  std::uint32_t code = 99;
  PlatformBitmap* bitmap = load_picture_bitmap(path.c_str(), &code, colour);
  if (error != nullptr) *error = code;
  if (bitmap == nullptr) return QImage();
  // Top-down, as Qt's own readers give pictures.
  QImage image = bitmap->image.mirrored();
  delete_bitmap(bitmap);
  return image;
}

// The same pixels, whatever colour space Qt's reader noted.
bool same_pixels(const QImage& a, const QImage& b) {
  if (a.size() != b.size() || a.format() != b.format()) return false;
  for (int y = 0; y < a.height(); ++y) {
    if (std::memcmp(a.constScanLine(y), b.constScanLine(y),
                    static_cast<std::size_t>(a.width()) * 4) != 0)
      return false;
  }
  return true;
}

// The stripes' middle pixels.
std::array<Rgb, 3> stripe_colours(const QImage& image) {
  std::array<Rgb, 3> out{};
  for (int i = 0; i < 3; ++i) {
    const QRgb pixel = image.pixel(8 + 16 * i, kHeight / 2);
    out[i] = {qRed(pixel), qGreen(pixel), qBlue(pixel)};
  }
  return out;
}

void expect_near(const std::array<Rgb, 3>& got, const std::array<Rgb, 3>& want, int tolerance,
                 const std::string& what) {
  for (int i = 0; i < 3; ++i) {
    for (int c = 0; c < 3; ++c) {
      EXPECT_NEAR(got[i][c], want[i][c], tolerance) << what << " stripe " << i << " channel " << c;
    }
  }
}

const std::array<Rgb, 3> kStripeColours = {kStripes[0], kStripes[1], kStripes[2]};

TEST_F(FormatFixture, EveryTypeDecodesToItsSizeAndColours) {
  const fs::path png = put("plain.png", png_of(stripes()));
  std::vector<fs::path> files = every_type(png);
  ASSERT_TRUE(run("convert " + quoted(png) + " " + quoted(temp.path / "plain.gif")));
  ASSERT_TRUE(run("convert " + quoted(png) + " -quality 98 " + quoted(temp.path / "plain.jpeg")));
  ASSERT_TRUE(run("convert " + quoted(png) + " " + quoted(temp.path / "plain.bmp")));
  for (const char* other : {"plain.gif", "plain.jpeg", "plain.bmp"})
    files.push_back(temp.path / other);
  for (const fs::path& file : files) {
    const QImage image = decoded(file);
    ASSERT_FALSE(image.isNull()) << file;
    EXPECT_EQ(image.size(), QSize(kWidth, kHeight)) << file;
    // Lossless where the format allows; untagged: the same numbers either way.
    const int tolerance = file.extension() == ".jpeg" ? 6 : file.extension() == ".heic" ? 2 : 0;
    expect_near(stripe_colours(image), kStripeColours, tolerance, file.string());
    EXPECT_TRUE(same_pixels(decoded(file, PictureColour::as_stored), image)) << file;
  }
  // An untagged PNG is drawn bit for bit as stored, every pixel.
  EXPECT_TRUE(same_pixels(decoded(png), stripes()));
}

TEST_F(FormatFixture, DamagedAndTruncatedFilesOfEveryTypeAreRefusedCleanly) {
  const fs::path png = put("plain.png", png_of(stripes()));
  std::vector<fs::path> files = every_type(png);
  ASSERT_TRUE(run("convert " + quoted(png) + " " + quoted(temp.path / "plain.jpg")));
  files.push_back(temp.path / "plain.jpg");
  std::mt19937 random(11);
  for (const fs::path& file : files) {
    const Bytes whole = read_bytes(file);
    std::vector<Bytes> damaged = {Bytes(whole.begin(), whole.begin() + 40),
                                  Bytes(whole.begin(), whole.begin() + whole.size() / 2), whole};
    for (int i = 0; i < 40; ++i) damaged.back()[random() % whole.size()] ^= 0x5A;
    for (const Bytes& bytes : damaged) {
      std::uint32_t error = 0;
      const QImage image = decoded(put("damaged", bytes), PictureColour::managed, &error);
      // Not loaded, or what the damaged file still holds at its own size.
      if (image.isNull()) {
        EXPECT_EQ(error, kPictureNotLoaded) << file;
      } else {
        EXPECT_EQ(image.size(), QSize(kWidth, kHeight)) << file;
      }
    }
    EXPECT_TRUE(decoded(put("damaged", Bytes(whole.begin(), whole.begin() + 40))).isNull()) << file;
  }
}

TEST_F(FormatFixture, TaggedPicturesGiveWhatLittleCmsGives) {
  const Bytes plain = png_of(stripes());
  for (const char* name :
       {"colord/AdobeRGB1998.icc", "colord/ProPhotoRGB.icc", "colord/SwappedRedAndGreen.icc"}) {
    const fs::path profile = kProfiles / name;
    std::array<Rgb, 3> want{};
    for (int i = 0; i < 3; ++i) {
      want[i] = transicc(profile, "'*sRGB'",
                         {double(kStripes[i][0]), double(kStripes[i][1]), double(kStripes[i][2])});
    }
    const Bytes icc = read_bytes(profile);
    const fs::path png = put("tagged.png", with_chunks(plain, iccp_chunk(icc)));
    std::vector<fs::path> files = every_type(png, &profile);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(100);
    writer.write(stripes());
    files.push_back(put("tagged.jpg", with_app2_profile(Bytes(jpeg.begin(), jpeg.end()), icc)));
    for (const fs::path& file : files) {
      const int tolerance = file.extension() == ".jpg" ? 4 : 2;
      expect_near(stripe_colours(decoded(file)), want, tolerance, file.string() + " " + name);
      // Off: the numbers as stored.
      expect_near(stripe_colours(decoded(file, PictureColour::as_stored)), kStripeColours,
                  tolerance, file.string() + " as stored");
    }
  }
  // A tagged photo is converted while it decodes: turned upright by its EXIF
  // orientation, reduced by the DCT as an untagged one is.
  QImage wide(40, 20, QImage::Format_RGB32);
  wide.fill(qRgb(200, 40, 90));
  wide.setPixel(0, 0, qRgb(255, 255, 255));  // a mark in the top-left corner
  QByteArray jpeg;
  QBuffer buffer(&jpeg);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, "jpeg");
  writer.setQuality(100);
  writer.write(wide);
  const fs::path adobe = kProfiles / "colord/AdobeRGB1998.icc";
  const fs::path turned = put(
      "turned.jpg", with_exif_orientation(
                        with_app2_profile(Bytes(jpeg.begin(), jpeg.end()), read_bytes(adobe)), 6));
  const QImage upright = decoded(turned);
  ASSERT_EQ(upright.size(), QSize(20, 40));
  EXPECT_GT(qBlue(upright.pixel(19, 0)), 150);  // the mark, a quarter turn clockwise
  const Rgb red = transicc(adobe, "'*sRGB'", {200, 40, 90});
  expect_near({Rgb{qRed(upright.pixel(10, 30)), qGreen(upright.pixel(10, 30)),
                   qBlue(upright.pixel(10, 30))},
               red, red},
              {red, red, red}, 4, "turned");
  std::uint32_t error = 0;
  PictureSource* source = picture_open(turned.c_str(), &error);
  ASSERT_NE(source, nullptr);
  PlatformBitmap* half = picture_decode(source, 2, PictureColour::managed, nullptr, &error);
  picture_close(source);
  ASSERT_NE(half, nullptr);
  EXPECT_EQ(half->image.size(), QSize(10, 20));
  delete_bitmap(half);

  // The display's own profile is what the colours go to.
  const fs::path pro = kProfiles / "colord/ProPhotoRGB.icc";
  const Bytes display = read_bytes(adobe);
  picture_set_display_profile(display.data(), display.size());
  const fs::path png = put("pro.png", with_chunks(plain, iccp_chunk(read_bytes(pro))));
  std::array<Rgb, 3> want{};
  for (int i = 0; i < 3; ++i) {
    want[i] = transicc(pro, quoted(adobe),
                       {double(kStripes[i][0]), double(kStripes[i][1]), double(kStripes[i][2])});
  }
  expect_near(stripe_colours(decoded(png)), want, 2, "ProPhoto on an Adobe RGB display");
  // An untagged picture is drawn as stored, whatever the display.
  const fs::path untagged = put("plain.png", plain);
  EXPECT_TRUE(same_pixels(decoded(untagged), stripes()));
}

TEST_F(FormatFixture, CmykJpegsAndPngColourChunks) {
  const std::array<std::array<int, 4>, 3> inks = {
      {{0, 200, 150, 20}, {180, 40, 0, 10}, {0, 0, 0, 128}}};
  const fs::path cmyk_profile = kProfiles / "ghostscript/default_cmyk.icc";
  const fs::path jpeg =
      put("cmyk.jpg", with_app2_profile(cmyk_jpeg(inks), read_bytes(cmyk_profile)));
  std::array<Rgb, 3> want{};
  std::array<Rgb, 3> plain{};
  for (int i = 0; i < 3; ++i) {
    want[i] =
        transicc(cmyk_profile, "'*sRGB'",
                 {inks[i][0] / 2.55, inks[i][1] / 2.55, inks[i][2] / 2.55, inks[i][3] / 2.55});
    const int k = 255 - inks[i][3];
    plain[i] = {(255 - inks[i][0]) * k / 255, (255 - inks[i][1]) * k / 255,
                (255 - inks[i][2]) * k / 255};
  }
  std::uint32_t error = 0;
  const QImage managed = decoded(jpeg, PictureColour::managed, &error);
  ASSERT_EQ(error, 0u);
  ASSERT_EQ(managed.size(), QSize(kWidth, kHeight));
  expect_near(stripe_colours(managed), want, 3, "CMYK through its profile");
  expect_near(stripe_colours(decoded(jpeg, PictureColour::as_stored)), plain, 3, "CMYK plain");
  // PNG's chunks: sRGB's mark and sRGB described as gamma 1/2.2 leave the
  // numbers; linear light (gAMA 1.0) is encoded for sRGB.
  const Bytes png = png_of(stripes());
  const Bytes srgb = png_chunk("sRGB", {0});
  const Bytes gamma_22 = png_chunk("gAMA", {0, 0, 0xB1, 0x8F});  // 45455
  const Bytes linear = png_chunk("gAMA", {0, 1, 0x86, 0xA0});    // 100000
  EXPECT_TRUE(same_pixels(decoded(put("srgb.png", with_chunks(png, srgb))), stripes()));
  EXPECT_TRUE(same_pixels(decoded(put("g22.png", with_chunks(png, gamma_22))), stripes()));
  const auto grey = stripe_colours(decoded(put("linear.png", with_chunks(png, linear))))[2];
  // 128/255 in linear light is 187.5 in sRGB's curve.
  expect_near({grey, grey, grey}, {Rgb{188, 188, 188}, Rgb{188, 188, 188}, Rgb{188, 188, 188}}, 2,
              "linear grey");
  // A profile the sRGB mark follows wins over it.
  const fs::path swapped = kProfiles / "colord/SwappedRedAndGreen.icc";
  const auto first = stripe_colours(
      decoded(put("both.png", with_chunks(png, iccp_chunk(read_bytes(swapped))))))[0];
  EXPECT_GT(first[1], first[0]);  // red and green changed places
}

}  // namespace
