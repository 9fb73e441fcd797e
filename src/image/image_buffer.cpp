#include <cstdlib>
#include <cstring>
#include <mutex>

#include "image/image.h"
#include "platform/picture.h"
#include "text/text.h"

namespace {

constexpr std::uint32_t kClaimSleeps = 6;
constexpr std::uint32_t kClaimSleepMs = 500;

bool try_claim(AppState& state) {
  std::int32_t expected = 0;
  return state.worker.loader_busy.compare_exchange_strong(expected, 1, std::memory_order_acquire);
}

}  // namespace

std::uint32_t standard_depth(std::uint32_t planes_times_bits) {
  const std::uint32_t product = planes_times_bits & 0xFFFF;
  if (product == 1) return 1;
  if (product <= 4) return 4;
  if (product <= 8) return 8;
  if (product <= 16) return 16;
  if (product <= 24) return 24;
  return 32;
}

std::uint64_t image_buffer_size(std::uint32_t width, std::uint32_t height,
                                std::uint32_t planes_times_bits) {
  const std::uint64_t depth = standard_depth(planes_times_bits);
  const std::uint64_t rounded = (static_cast<std::uint64_t>(width) + 7) / 8 * height * depth;
  const std::uint64_t row = (static_cast<std::uint64_t>(width) * depth + 31) / 32 * 4;
  const std::uint64_t padded = row * height;
  return rounded > padded ? rounded : padded;
}

std::int32_t claim_loader_busy(AppState& state) {
  if (try_claim(state)) return 1;
  for (std::uint32_t i = 0; i < kClaimSleeps; ++i) pause_ms(state, kClaimSleepMs);
  return try_claim(state) ? 1 : 0;
}

void free_image(AppState& state) {
  std::lock_guard<std::mutex> hold(state.image.image_lock);
  delete_bitmap(state.image.image_bitmap);
  state.image.image_bitmap = nullptr;
  std::free(state.image.pixel_buffer);
  state.image.pixel_buffer = nullptr;
}

void load_image(AppState& state, const char* path) {
  while (!claim_loader_busy(state)) {
  }
  free_image(state);
  // Decoding runs outside image_lock, so painting is never held up by it.
  std::uint32_t error = 0;
  PlatformBitmap* bitmap = load_picture_bitmap(path, &error);
  if (bitmap == nullptr) bitmap = load_picture_bitmap(path, &error);
  if (bitmap == nullptr) {
    show_title(state, TitleKind::failed, path);
    state.worker.loader_busy.store(0, std::memory_order_release);
    return;
  }
  const PictureInfo info = picture_info(bitmap);
  const std::uint32_t planes_times_bits =
      static_cast<std::uint32_t>(info.planes) * info.bits_per_pixel;
  const std::uint64_t size =
      image_buffer_size(static_cast<std::uint32_t>(info.width),
                        static_cast<std::uint32_t>(info.height), planes_times_bits);
  BitmapHeader header{};
  header.size = 40;
  header.width = info.width;
  header.height = info.height;
  header.planes = info.planes;
  header.bit_count = info.bits_per_pixel;
  header.compression = 0;
  header.size_image = static_cast<std::uint32_t>(size);
  // A failed allocation leaves the bitmap without pixels: nothing is drawn.
  auto* pixels = static_cast<std::uint8_t*>(std::malloc(size));
  if (pixels != nullptr) {
    picture_copy_rows(bitmap, pixels, header);
    picture_release_pixels(bitmap);
  }
  {
    std::lock_guard<std::mutex> hold(state.image.image_lock);
    state.image.image_bitmap = bitmap;
    state.image.image_header = header;
    state.image.image_width = info.width;
    state.image.image_height = info.height;
    state.image.pixel_buffer = pixels;
  }
  state.worker.loader_busy.store(0, std::memory_order_release);
}
