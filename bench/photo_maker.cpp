// Writes photo-like JPEGs for the step benchmark: smooth colour fields with
// fine noise, so that each compresses to the size of a camera's picture.
//
//   photo_maker FOLDER COUNT [WIDTH HEIGHT]   (default 6000 x 4000)
#include <QImage>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: photo_maker FOLDER COUNT [WIDTH HEIGHT]\n");
    return 2;
  }
  const int count = std::atoi(argv[2]);
  const int width = argc > 4 ? std::atoi(argv[3]) : 6000;
  const int height = argc > 4 ? std::atoi(argv[4]) : 4000;
  std::uint32_t noise = 12345;
  for (int n = 0; n < count; ++n) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
      auto* row = reinterpret_cast<std::uint32_t*>(image.scanLine(y));
      for (int x = 0; x < width; ++x) {
        noise = noise * 1664525u + 1013904223u;
        const std::uint32_t grain = (noise >> 24) & 0x0F;
        const std::uint32_t r = ((x * 255 / width) + n * 40 + grain) & 0xFF;
        const std::uint32_t g = ((y * 255 / height) + grain) & 0xFF;
        const std::uint32_t b = (((x + y) / 16 + n * 70) + grain) & 0xFF;
        row[x] = 0xFF000000u | r << 16 | g << 8 | b;
      }
    }
    const std::string path = std::string(argv[1]) + "/photo" + std::to_string(n + 1) + ".jpg";
    if (!image.save(QString::fromStdString(path), "JPEG", 90)) {
      std::fprintf(stderr, "photo_maker: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
