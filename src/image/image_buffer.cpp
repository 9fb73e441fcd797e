#include <cstring>
#include <mutex>

#include "image/image.h"
#include "ports/files.h"
#include "ports/picture.h"
#include "state/seams.h"
#include "text/text.h"

namespace {

constexpr std::uint32_t kClaimSleeps = 6;
constexpr std::uint32_t kClaimSleepMs = 500;

bool try_claim(WorkerProtocol& worker) {
  std::int32_t expected = 0;
  return worker.loader_busy.compare_exchange_strong(expected, 1, std::memory_order_acquire);
}

// Pixels along one side of a picture decoded at 1/reduction: rounded up.
std::uint64_t reduced(std::int64_t size, std::uint32_t reduction) {
  return static_cast<std::uint64_t>(size + reduction - 1) / reduction;
}

}  // namespace

bool claim_loader_busy(WorkerProtocol& worker) {
  if (try_claim(worker)) return true;
  for (std::uint32_t i = 0; i < kClaimSleeps; ++i) pause_ms(kClaimSleepMs);
  return try_claim(worker);
}

namespace {

// Counts a decoded bitmap in (+1) or out (-1) of the pictures held.
void count_held(ImageView& image, const PlatformBitmap* bitmap, std::int32_t sign) {
  const PictureInfo info = picture_info(bitmap);
  const std::uint64_t pixels =
      static_cast<std::uint64_t>(info.width) * static_cast<std::uint64_t>(info.height);
  const std::int32_t pictures = image.held_pictures.fetch_add(sign) + sign;
  const std::uint64_t held = sign > 0 ? image.held_pixels.fetch_add(pixels) + pixels
                                      : image.held_pixels.fetch_sub(pixels) - pixels;
  if (test_seams().pictures_held != nullptr) test_seams().pictures_held(pictures, held);
}

}  // namespace

void release_bitmap(ImageView& image, PlatformBitmap* bitmap) {
  if (bitmap == nullptr) return;
  count_held(image, bitmap, -1);
  delete_bitmap(bitmap);
}

void free_picture(ImageView& image, Picture* picture) {
  release_bitmap(image, picture->bitmap);
  *picture = Picture{};
}

void free_image(ImageView& image) {
  image.shown_file[0] = '\0';
  // A full-size decode for the picture going is not wanted any more.
  image.full_cancel = true;
  std::lock_guard<std::mutex> hold(image.image_lock);
  release_bitmap(image, image.image_bitmap);
  image.image_bitmap = nullptr;
  image.pixel_buffer = nullptr;
  ++image.shown_serial;
}

bool larger_than_reduced(ImageView& image) {
  std::lock_guard<std::mutex> hold(image.image_lock);
  if (!pixels_reduced(image)) return false;
  const PaintPlan plan = plan_paint(image.client_width, image.client_height, image.image_width,
                                    image.image_height, 0, 0, 0);
  return plan.draw != 0 && (image.image_header.width < plan.target_width ||
                            image.image_header.height < plan.target_height);
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

std::uint32_t decode_picture(ImageView& image, const ExtraSettings& extra, const char* path,
                             std::int32_t fit_width, std::int32_t fit_height, std::uint64_t budget,
                             Picture* picture, const std::atomic<bool>* cancel) {
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
  if (test_seams().decoding != nullptr) test_seams().decoding(path, reduction);
  // The serial first: a change meanwhile leaves this picture stale.
  picture->colour_serial = image.colour_serial.load();
  const PictureColour colour =
      extra.colour_management.load() ? PictureColour::managed : PictureColour::as_stored;
  PlatformBitmap* bitmap = picture_decode(source, reduction, colour, cancel, &error);
  picture_close(source);
  if (test_seams().decoded != nullptr) {
    test_seams().decoded(path, reduction, bitmap == nullptr ? error : 0);
  }
  if (bitmap == nullptr) return error;
  count_held(image, bitmap, +1);
  const PictureInfo info = picture_info(bitmap);
  BitmapHeader& header = picture->header;
  header.size = 40;
  header.width = info.width;
  header.height = info.height;
  header.planes = info.planes;
  header.bit_count = info.bits_per_pixel;
  header.compression = 0;
  header.size_image = static_cast<std::uint32_t>(static_cast<std::uint64_t>(info.width) * 4 *
                                                 static_cast<std::uint64_t>(info.height));
  // The pixels stay where the decoder put them: one copy of them, no more.
  picture->pixels = picture_rows(bitmap);
  picture->bitmap = bitmap;
  // The own size, upright; a reduced decode has fewer pixels than that.
  picture->width = reduction == 1 ? info.width : facts.width;
  picture->height = reduction == 1 ? info.height : facts.height;
  return 0;
}

void install_picture(ImageView& image, Picture* picture, const char* path) {
  copy_text(path, image.shown_file);
  image.shown_stamp = picture->stamp;
  image.shown_colour = picture->colour_serial;
  image.full_cancel = true;
  {
    std::lock_guard<std::mutex> hold(image.image_lock);
    release_bitmap(image, image.image_bitmap);
    image.image_bitmap = picture->bitmap;
    image.image_header = picture->header;
    image.image_width = picture->width;
    image.image_height = picture->height;
    image.pixel_buffer = picture->pixels;
    ++image.shown_serial;
  }
  *picture = Picture{};
}

bool picture_current(const Picture& picture, const char* path) {
  FileStamp now;
  return file_stamp(path, &now) && now == picture.stamp;
}

void load_image(Viewer& viewer, const SettingsBlock& settings, const ExtraSettings& extra,
                const char* path) {
  while (!claim_loader_busy(viewer.worker)) {
  }
  free_image(viewer.image);
  // Reduced only when the full size follows on the decoding thread.
  const bool reduce = viewer.prefetch.running.load() != 0;
  const std::int32_t fit_width = reduce ? viewer.image.fit_width.load() : 0;
  const std::int32_t fit_height = reduce ? viewer.image.fit_height.load() : 0;
  // Decoding runs outside image_lock, so painting is never held up by it.
  Picture picture;
  std::uint32_t error =
      decode_picture(viewer.image, extra, path, fit_width, fit_height, kUnboundedPixels, &picture);
  // Tried again only when the file changed meanwhile (still being written):
  // the same bytes fail the same way.
  FileStamp now;
  const bool seen = file_stamp(path, &now);
  if (error != 0 && (seen ? !(now == picture.stamp) : picture.stamp.size >= 0)) {
    error = decode_picture(viewer.image, extra, path, fit_width, fit_height, kUnboundedPixels,
                           &picture);
  }
  if (error != 0) {
    show_title(viewer, settings, TitleKind::failed, path);
  } else {
    install_picture(viewer.image, &picture, path);
  }
  viewer.worker.loader_busy.store(0, std::memory_order_release);
}

void show_load_failure(Viewer& viewer, const SettingsBlock& settings, const char* path) {
  while (!claim_loader_busy(viewer.worker)) {
  }
  free_image(viewer.image);
  show_title(viewer, settings, TitleKind::failed, path);
  viewer.worker.loader_busy.store(0, std::memory_order_release);
}
