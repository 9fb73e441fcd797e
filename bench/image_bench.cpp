// Image pipeline benchmark: decode and buffer time for a 24-megapixel JPEG and
// large GIF and BMP files made here, the JPEG again tagged with an ICC
// profile with colour management on and off, and one fitted and one
// magnified paint of the JPEG into a 1920 x 1080 back buffer, and the CPU
// time of the JPEG's decode reduced for an 800 x 600 window (what a step
// costs). Prints milliseconds, the best of five for the JPEGs.
//
//   image_bench [FOLDER] [ICC_PROFILE] [JPEG]
//     (default /tmp, /usr/share/color/icc/colord/AdobeRGB1998.icc; JPEG: a
//     photo of the caller's to time the reduced decode of too)
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "image/image.h"
#include "pictures.h"
#include "ports/picture.h"

using namespace bench_pictures;
namespace fs = std::filesystem;

namespace {

double ms_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

// A photo-like picture: smooth gradients with some texture, so JPEG has work.
QImage photo(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y) {
    auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < width; ++x) {
      row[x] = qRgb((x * 255 / width + (x * y) % 7) & 0xFF, (y * 255 / height) & 0xFF,
                    ((x + y) * 3 + (x ^ y) % 13) & 0xFF);
    }
  }
  return image;
}

double time_load(AppState& state, const fs::path& path) {
  const auto start = std::chrono::steady_clock::now();
  load_image(state.viewer, state.settings, state.extra, path.c_str());
  const double ms = ms_since(start);
  return state.viewer.image.pixel_buffer != nullptr ? ms : -1;
}

// The file's bytes with the profile in APP2 segments after its start.
std::vector<std::uint8_t> tagged(const std::vector<std::uint8_t>& jpeg,
                                 const std::vector<std::uint8_t>& profile) {
  constexpr std::size_t kPiece = 65519;
  const std::size_t count = (profile.size() + kPiece - 1) / kPiece;
  std::vector<std::uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
  for (std::size_t n = 0; n < count; ++n) {
    const std::size_t size = std::min(kPiece, profile.size() - n * kPiece);
    const std::size_t length = 16 + size;
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
    out.insert(out.end(), head, head + sizeof head);
    const auto from = profile.begin() + static_cast<long>(n * kPiece);
    out.insert(out.end(), from, from + static_cast<long>(size));
  }
  out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
  return out;
}

double best_load(AppState& state, const fs::path& path, int runs) {
  double best = -1;
  for (int i = 0; i < runs; ++i) {
    const double ms = time_load(state, path);
    if (ms < 0) return -1;
    if (best < 0 || ms < best) best = ms;
  }
  return best;
}

// The CPU time of the best of five decodes of path reduced for an 800 x 600
// window, or -1.
double reduced_cpu_ms(AppState& state, const fs::path& path) {
  double best = -1;
  for (int run = 0; run < 5; ++run) {
    const std::clock_t start = std::clock();
    Picture picture;
    if (decode_picture(state.viewer.image, state.extra, path.c_str(), 800, 600, kUnboundedPixels,
                       &picture) != 0)
      return -1;
    const double ms = 1000.0 * static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    free_picture(state.viewer.image, &picture);
    if (best < 0 || ms < best) best = ms;
  }
  return best;
}

double time_paints(AppState& state, int zoom, int runs) {
  state.viewer.image.zoom_level = zoom;
  state.viewer.image.pan_x = state.viewer.image.client_width / 3;
  state.viewer.image.pan_y = state.viewer.image.client_height / 3;
  paint_window(state.viewer, state.settings);  // creates the back buffer
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < runs; ++i) paint_window(state.viewer, state.settings);
  return ms_since(start) / runs;
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path folder =
      fs::path(argc > 1 ? argv[1] : "/tmp") / ("tessmira-image-bench-" + std::to_string(getpid()));
  fs::create_directories(folder);
  std::printf("making pictures in %s\n", folder.c_str());
  const auto jpeg = encode(photo(6000, 4000), "jpg", 90);
  write_file(folder / "photo.jpg", jpeg);
  const fs::path profile_path =
      argc > 2 ? fs::path(argv[2]) : fs::path("/usr/share/color/icc/colord/AdobeRGB1998.icc");
  std::ifstream profile_file(profile_path, std::ios::binary);
  const std::vector<std::uint8_t> profile((std::istreambuf_iterator<char>(profile_file)),
                                          std::istreambuf_iterator<char>());
  if (profile.empty()) {
    std::fprintf(stderr, "image_bench: cannot read %s\n", profile_path.c_str());
    return 1;
  }
  write_file(folder / "tagged.jpg", tagged(jpeg, profile));
  write_file(folder / "large.bmp", encode(photo(4000, 3000), "bmp"));
  std::vector<std::uint8_t> indexes(4000u * 3000u);
  for (std::size_t i = 0; i < indexes.size(); ++i) {
    indexes[i] = static_cast<std::uint8_t>((i % 4000) * 255 / 4000);
  }
  write_file(folder / "large.gif", gif(4000, 3000, 0, 0, 4000, 3000, indexes));

  auto state = std::make_unique<AppState>();
  std::printf("%-34s %10s\n", "what", "ms");
  const std::pair<const char*, const char*> files[] = {
      {"large.gif", "decode + buffer, GIF 4000 x 3000"},
      {"large.bmp", "decode + buffer, BMP 4000 x 3000"},
      {"photo.jpg", "decode + buffer, JPEG 6000 x 4000"},
  };
  for (const auto& [name, what] : files) {
    const double ms = time_load(*state, folder / name);
    if (ms < 0) {
      std::fprintf(stderr, "image_bench: %s did not load\n", name);
      return 1;
    }
    std::printf("%-34s %10.1f\n", what, ms);
  }
  const std::pair<const char*, bool> colour_runs[] = {
      {"JPEG 6000 x 4000, untagged, managed", true},
      {"JPEG 6000 x 4000, untagged, raw", false},
      {"JPEG 6000 x 4000, tagged, managed", true},
      {"JPEG 6000 x 4000, tagged, raw", false},
  };
  for (const auto& [what, managed] : colour_runs) {
    state->extra.colour_management = managed;
    const bool is_tagged = std::string(what).find("untagged") == std::string::npos;
    const double ms = best_load(*state, folder / (is_tagged ? "tagged.jpg" : "photo.jpg"), 5);
    if (ms < 0) {
      std::fprintf(stderr, "image_bench: %s did not load\n", what);
      return 1;
    }
    std::printf("%-34s %10.1f\n", what, ms);
  }
  state->extra.colour_management = true;
  // What a step costs the decoding thread ahead, in CPU time: the picture
  // reduced for an 800 x 600 window; also for a JPEG of the caller's.
  std::vector<fs::path> reduced_runs{folder / "photo.jpg"};
  if (argc > 3) reduced_runs.emplace_back(argv[3]);
  for (const fs::path& path : reduced_runs) {
    const double ms = reduced_cpu_ms(*state, path);
    if (ms < 0) {
      std::fprintf(stderr, "image_bench: %s did not decode reduced\n", path.c_str());
      return 1;
    }
    std::printf("%-34s %10.1f   %s\n", "reduced decode for 800 x 600, CPU", ms,
                path.filename().c_str());
  }
  state->viewer.image.client_width = 1920;
  state->viewer.image.client_height = 1080;
  std::printf("%-34s %10.2f\n", "fitted paint, 1920 x 1080", time_paints(*state, 0, 20));
  std::printf("%-34s %10.2f\n", "magnified paint (x2), 1920 x 1080", time_paints(*state, 1, 20));
  free_image(state->viewer.image);
  delete_bitmap(state->viewer.image.back_buffer);
  fs::remove_all(folder);
  return 0;
}
