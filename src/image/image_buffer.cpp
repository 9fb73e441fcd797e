#include <cstdlib>
#include <cstring>
#include <mutex>

#include "image/image.h"
#include "ports/files.h"
#include "ports/picture.h"
#include "text/text.h"

namespace {

constexpr std::uint32_t kClaimSleeps = 6;
constexpr std::uint32_t kClaimSleepMs = 500;

bool try_claim(AppState& state) {
  std::int32_t expected = 0;
  return state.worker.loader_busy.compare_exchange_strong(expected, 1, std::memory_order_acquire);
}

// Pixels along one side of a picture decoded at 1/reduction: rounded up.
std::uint64_t reduced(std::int64_t size, std::uint32_t reduction) {
  return static_cast<std::uint64_t>(size + reduction - 1) / reduction;
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

bool claim_loader_busy(AppState& state) {
  if (try_claim(state)) return true;
  for (std::uint32_t i = 0; i < kClaimSleeps; ++i) pause_ms(state, kClaimSleepMs);
  return try_claim(state);
}

void free_picture(Picture* picture) {
  delete_bitmap(picture->bitmap);
  std::free(picture->pixels);
  *picture = Picture{};
}

void free_image(AppState& state) {
  state.image.shown_file[0] = '\0';
  std::lock_guard<std::mutex> hold(state.image.image_lock);
  delete_bitmap(state.image.image_bitmap);
  state.image.image_bitmap = nullptr;
  std::free(state.image.pixel_buffer);
  state.image.pixel_buffer = nullptr;
  ++state.image.shown_serial;
}

std::uint32_t fit_reduction(std::int32_t client_width, std::int32_t client_height,
                            std::int32_t width, std::int32_t height) {
  const PaintPlan plan = plan_paint(client_width, client_height, width, height, 0, 0, 0);
  if (plan.draw == 0 || plan.scale > 50) return 1;
  for (std::uint32_t reduction = 8; reduction > 1; reduction /= 2) {
    if (reduced(width, reduction) >= static_cast<std::uint64_t>(plan.target_width) &&
        reduced(height, reduction) >= static_cast<std::uint64_t>(plan.target_height)) {
      return reduction;
    }
  }
  return 1;
}

std::uint32_t decode_picture(AppState& state, const char* path, std::int32_t fit_width,
                             std::int32_t fit_height, std::uint64_t budget, Picture* picture) {
  *picture = Picture{};
  // Read before the bytes are: a file rewritten meanwhile then shows as changed.
  file_stamp(path, &picture->stamp);
  std::uint32_t error = 0;
  PictureSource* source = picture_open(path, &error);
  if (source == nullptr) return error;
  const PictureFacts facts = picture_facts(source);
  std::uint32_t reduction = 1;
  if (facts.reducible != 0 && fit_width > 0 && fit_height > 0) {
    reduction = fit_reduction(fit_width, fit_height, facts.width, facts.height);
  }
  const std::uint64_t pixels = reduced(facts.width, reduction) * reduced(facts.height, reduction);
  if (pixels > budget) {
    picture_close(source);
    return kPictureOverBudget;
  }
  if (state.seams.decoding != nullptr) state.seams.decoding(path, reduction);
  // The serial first: a change meanwhile leaves this picture stale.
  picture->colour_serial = state.image.colour_serial.load();
  const PictureColour colour =
      state.extra.colour_management.load() ? PictureColour::managed : PictureColour::as_stored;
  PlatformBitmap* bitmap = picture_decode(source, reduction, colour, &error);
  picture_close(source);
  if (bitmap == nullptr) return error;
  const PictureInfo info = picture_info(bitmap);
  const std::uint32_t planes_times_bits =
      static_cast<std::uint32_t>(info.planes) * info.bits_per_pixel;
  const std::uint64_t size =
      image_buffer_size(static_cast<std::uint32_t>(info.width),
                        static_cast<std::uint32_t>(info.height), planes_times_bits);
  BitmapHeader& header = picture->header;
  header.size = 40;
  header.width = info.width;
  header.height = info.height;
  header.planes = info.planes;
  header.bit_count = info.bits_per_pixel;
  header.compression = 0;
  header.size_image = static_cast<std::uint32_t>(size);
  // A failed allocation leaves the bitmap without pixels: nothing is drawn.
  picture->pixels = static_cast<std::uint8_t*>(std::malloc(size));
  if (picture->pixels != nullptr) {
    picture_copy_rows(bitmap, picture->pixels, header);
    picture_release_pixels(bitmap);
  }
  picture->bitmap = bitmap;
  // The own size, upright; a reduced decode has fewer pixels than that.
  picture->width = reduction == 1 ? info.width : facts.width;
  picture->height = reduction == 1 ? info.height : facts.height;
  return 0;
}

void install_picture(AppState& state, Picture* picture, const char* path) {
  copy_text(path, state.image.shown_file);
  state.image.shown_stamp = picture->stamp;
  state.image.shown_colour = picture->colour_serial;
  {
    std::lock_guard<std::mutex> hold(state.image.image_lock);
    delete_bitmap(state.image.image_bitmap);
    std::free(state.image.pixel_buffer);
    state.image.image_bitmap = picture->bitmap;
    state.image.image_header = picture->header;
    state.image.image_width = picture->width;
    state.image.image_height = picture->height;
    state.image.pixel_buffer = picture->pixels;
    ++state.image.shown_serial;
  }
  *picture = Picture{};
}

bool picture_current(const Picture& picture, const char* path) {
  FileStamp now;
  return file_stamp(path, &now) && now == picture.stamp;
}

void load_image(AppState& state, const char* path) {
  while (!claim_loader_busy(state)) {
  }
  free_image(state);
  // Reduced only when the full size follows on the decoding thread.
  const bool reduce = state.prefetch.running.load() != 0;
  const std::int32_t fit_width = reduce ? state.image.fit_width.load() : 0;
  const std::int32_t fit_height = reduce ? state.image.fit_height.load() : 0;
  // Decoding runs outside image_lock, so painting is never held up by it.
  Picture picture;
  std::uint32_t error =
      decode_picture(state, path, fit_width, fit_height, kUnboundedPixels, &picture);
  // Tried again only when the file changed meanwhile (still being written):
  // the same bytes fail the same way.
  FileStamp now;
  const bool seen = file_stamp(path, &now);
  if (error != 0 && (seen ? !(now == picture.stamp) : picture.stamp.size >= 0)) {
    error = decode_picture(state, path, fit_width, fit_height, kUnboundedPixels, &picture);
  }
  if (error != 0) {
    show_title(state, TitleKind::failed, path);
  } else {
    install_picture(state, &picture, path);
  }
  state.worker.loader_busy.store(0, std::memory_order_release);
}

void show_load_failure(AppState& state, const char* path) {
  while (!claim_loader_busy(state)) {
  }
  free_image(state);
  show_title(state, TitleKind::failed, path);
  state.worker.loader_busy.store(0, std::memory_order_release);
}
