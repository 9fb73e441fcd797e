// The picture ahead and the decoding threads. While a picture is looked at,
// one decodes the picture the next forward step will show, the other, when
// the shown one was decoded reduced, its full size: at once for a drag of
// the magnifier, else once the user has not stepped for a while, at low
// priority; any step stops it. The worker meanwhile stays free to serve
// requests.
#include <chrono>
#include <cstring>
#include <mutex>

#include "image/image.h"
#include "navigation/navigation.h"
#include "ports/clock.h"
#include "ports/desktop.h"
#include "ports/picture.h"
#include "text/text.h"

namespace {

// Empties the record ahead; a pick nobody saw gives its random words back.
// Under prefetch.lock.
void discard_locked(Viewer& viewer) {
  AheadPicture& ahead = viewer.prefetch.ahead;
  if (ahead.drawn != 0) give_back_pick(viewer, ahead.draw);
  ahead.drawn = 0;
  free_picture(viewer.image, &ahead.picture);
  ahead.status = AheadStatus::none;
  ++ahead.ticket;
}

// Pixels the shown picture will hold once its full-size decode is done,
// beside those held now.
std::uint64_t pixels_to_come(ImageView& image) {
  std::lock_guard<std::mutex> hold(image.image_lock);
  if (!pixels_reduced(image)) return 0;
  return static_cast<std::uint64_t>(image.image_width) *
         static_cast<std::uint64_t>(image.image_height);
}

// Puts the full-size pixels in place of the reduced ones, when the picture
// they were decoded for is still shown.
void decode_full_size(Viewer& viewer, const ExtraSettings& extra, const char* path,
                      std::uint32_t serial) {
  {
    std::lock_guard<std::mutex> hold(viewer.image.image_lock);
    if (viewer.image.shown_serial != serial) return;
  }
  Picture picture;
  if (decode_picture(viewer.image, extra, path, 0, 0, kUnboundedPixels, &picture,
                     &viewer.image.full_cancel) != 0) {
    return;
  }
  bool placed = false;
  {
    std::lock_guard<std::mutex> hold(viewer.image.image_lock);
    ImageView& image = viewer.image;
    if (image.shown_serial == serial && picture.width == image.image_width &&
        picture.height == image.image_height && picture.pixels != nullptr) {
      std::swap(image.image_bitmap, picture.bitmap);
      std::swap(image.pixel_buffer, picture.pixels);
      std::swap(image.image_header, picture.header);
      placed = true;
    }
  }
  free_picture(viewer.image, &picture);  // the reduced pixels, or the decode nobody needs now
  if (placed) desktop_request_repaint(viewer.window);
}

// Whether the full-size decode the record is armed for starts now: at once
// while the magnifier is used, else when no step came for full_idle_ms and
// nothing is decoded ahead. *wait is how long to wait before asking again.
bool full_size_due(Viewer& viewer, std::chrono::milliseconds* wait) {
  PrefetchState& prefetch = viewer.prefetch;
  if (viewer.image.magnifying.load() || prefetch.full_urgent) return true;
  const AheadStatus ahead = prefetch.ahead.status;
  if (ahead == AheadStatus::queued || ahead == AheadStatus::decoding) {
    *wait = std::chrono::milliseconds::max();  // the ahead decode's end signals
    return false;
  }
  const auto due = prefetch.full_armed_at + std::chrono::milliseconds(prefetch.full_idle_ms);
  const auto now = std::chrono::steady_clock::now();
  if (now >= due) return true;
  *wait = std::chrono::duration_cast<std::chrono::milliseconds>(due - now) +
          std::chrono::milliseconds(1);
  return false;
}

// How long the picture ahead waits for the shown one to be painted: on a
// small machine the decode would take the core the paint and the display
// server need. No paint comes for a hidden window, nor without one.
constexpr std::chrono::milliseconds kPaintFirstWait{40};

// Whether the picture ahead may be decoded now: the shown picture was
// painted, or waited for long enough. Under prefetch.lock.
bool painted_or_late(Viewer& viewer) {
  if (std::chrono::steady_clock::now() >= viewer.prefetch.ahead.queued_at + kPaintFirstWait) {
    return true;
  }
  std::lock_guard<std::mutex> hold(viewer.image.image_lock);
  return viewer.image.painted_serial == viewer.image.shown_serial;
}

// One of the two decoding threads: the picture ahead (full_size false) or
// the shown picture at full size, so that neither waits behind the other.
void decoding_thread(Viewer& viewer, const ExtraSettings& extra, bool full_size) {
  // What this thread decodes nobody waits for: it yields to what they do.
  if (full_size) lower_thread_priority();
  PrefetchState& prefetch = viewer.prefetch;
  AheadPicture& ahead = prefetch.ahead;
  std::unique_lock<std::mutex> hold(prefetch.lock);
  while (!prefetch.stop) {
    char path[kPathBytes];
    if (!full_size && ahead.status == AheadStatus::queued && !painted_or_late(viewer)) {
      // The step's own picture reaches the screen first.
      prefetch.signal.wait_until(hold, ahead.queued_at + kPaintFirstWait);
    } else if (!full_size && ahead.status == AheadStatus::queued) {
      const std::uint32_t ticket = ahead.ticket;
      copy_text(ahead.path, path);
      ahead.status = AheadStatus::decoding;
      hold.unlock();
      const std::uint64_t held = viewer.image.held_pixels.load() + pixels_to_come(viewer.image);
      Picture picture;
      const std::uint32_t error =
          held >= kPrefetchBudgetPixels
              ? kPictureOverBudget
              : decode_picture(viewer.image, extra, path, viewer.image.fit_width.load(),
                               viewer.image.fit_height.load(), kPrefetchBudgetPixels - held,
                               &picture);
      hold.lock();
      if (ticket == ahead.ticket) {
        ahead.picture = picture;
        // Over the budget or out of memory is no verdict on the file: the
        // step decodes it.
        ahead.status = error == 0                   ? AheadStatus::ready
                       : error == kPictureNotLoaded ? AheadStatus::failed
                                                    : AheadStatus::over_budget;
      } else {
        free_picture(viewer.image, &picture);
      }
      prefetch.signal.notify_all();
    } else if (full_size && prefetch.full_armed) {
      std::chrono::milliseconds wait{0};
      if (!full_size_due(viewer, &wait)) {
        if (wait == std::chrono::milliseconds::max()) {
          prefetch.signal.wait(hold);
        } else {
          prefetch.signal.wait_for(hold, wait);
        }
        continue;
      }
      prefetch.full_armed = false;
      // A request from here on stops the decode; one raised before it is
      // served soon, and the change of picture stops it then.
      viewer.image.full_cancel = false;
      const std::uint32_t serial = prefetch.full_serial;
      copy_text(prefetch.full_path, path);
      hold.unlock();
      decode_full_size(viewer, extra, path, serial);
      hold.lock();
    } else {
      prefetch.signal.wait(hold);
    }
  }
}

// The ahead record names this file of the present list.
bool ahead_is(const Viewer& viewer, const char* path, std::int32_t index) {
  const AheadPicture& ahead = viewer.prefetch.ahead;
  return ahead.status != AheadStatus::none && ahead.generation == viewer.list.generation &&
         ahead.index == index && std::strcmp(ahead.path, path) == 0;
}

// Takes the prepared picture of path when it is there or being decoded (then
// waited for): ready, or failed (with the stamp of the file that failed);
// none for anything else. A queued one is dropped, as the worker decodes
// sooner itself.
AheadStatus take_prepared(Viewer& viewer, const char* path, std::int32_t index, Picture* picture) {
  PrefetchState& prefetch = viewer.prefetch;
  AheadPicture& ahead = prefetch.ahead;
  std::unique_lock<std::mutex> hold(prefetch.lock);
  if (!ahead_is(viewer, path, index)) return AheadStatus::none;
  const std::uint32_t ticket = ahead.ticket;
  prefetch.signal.wait(hold, [&ahead, ticket] {
    return ahead.ticket != ticket || ahead.status != AheadStatus::decoding;
  });
  if (ahead.ticket != ticket) return AheadStatus::none;
  const AheadStatus status = ahead.status;
  if (status == AheadStatus::ready || status == AheadStatus::failed) {
    *picture = ahead.picture;
    ahead.picture = Picture{};
  }
  ahead.status = AheadStatus::none;
  ++ahead.ticket;
  return status == AheadStatus::ready || status == AheadStatus::failed ? status : AheadStatus::none;
}

// Readies the full-size decode of the shown picture when it is reduced; the
// wait for the user to stay on it starts anew. Under prefetch.lock.
void arm_full_size(Viewer& viewer, const SettingsBlock& settings) {
  PrefetchState& prefetch = viewer.prefetch;
  std::lock_guard<std::mutex> image_hold(viewer.image.image_lock);
  const ImageView& image = viewer.image;
  if (!pixels_reduced(image)) {
    prefetch.full_armed = false;
    return;
  }
  if (prefetch.full_serial != image.shown_serial) prefetch.full_urgent = false;
  prefetch.full_armed = true;
  prefetch.full_serial = image.shown_serial;
  prefetch.full_armed_at = std::chrono::steady_clock::now();
  std::lock_guard<std::mutex> text_hold(viewer.texts);
  copy_text(settings.image_path, prefetch.full_path);
}

}  // namespace

void set_magnifying(Viewer& viewer, bool on) {
  if (viewer.image.magnifying.exchange(on) == on || !on) return;
  { std::lock_guard<std::mutex> hold(viewer.prefetch.lock); }
  viewer.prefetch.signal.notify_all();
}

void want_full_size(Viewer& viewer) {
  {
    std::lock_guard<std::mutex> hold(viewer.prefetch.lock);
    viewer.prefetch.full_urgent = true;
  }
  viewer.prefetch.signal.notify_all();
}

namespace {

// Wakes the picture ahead's wait once the shown one is painted.
void wake_on_paint(void* context) {
  auto* prefetch = static_cast<PrefetchState*>(context);
  { std::lock_guard<std::mutex> hold(prefetch->lock); }
  prefetch->signal.notify_all();
}

}  // namespace

void prefetch_start(Viewer& viewer, const ExtraSettings& extra) {
  PrefetchState& prefetch = viewer.prefetch;
  if (prefetch.running.load() != 0) return;
  {
    std::lock_guard<std::mutex> hold(prefetch.lock);
    prefetch.stop = false;
  }
  prefetch.ahead_thread = std::thread(decoding_thread, std::ref(viewer), std::cref(extra), false);
  prefetch.full_thread = std::thread(decoding_thread, std::ref(viewer), std::cref(extra), true);
  viewer.image.painted_context.store(&prefetch);
  viewer.image.painted.store(wake_on_paint, std::memory_order_release);
  prefetch.running = 1;
}

void prefetch_stop(Viewer& viewer) {
  PrefetchState& prefetch = viewer.prefetch;
  if (prefetch.running.load() == 0) return;
  {
    std::lock_guard<std::mutex> hold(prefetch.lock);
    prefetch.stop = true;
  }
  prefetch.signal.notify_all();
  prefetch.ahead_thread.join();
  prefetch.full_thread.join();
  prefetch.running = 0;
  std::lock_guard<std::mutex> hold(prefetch.lock);
  discard_locked(viewer);
  prefetch.full_armed = false;
}

void prefetch_discard(Viewer& viewer) {
  std::lock_guard<std::mutex> hold(viewer.prefetch.lock);
  discard_locked(viewer);
}

bool take_ahead_pick(Viewer& viewer, SettingsBlock& settings, std::uint32_t* slot) {
  std::lock_guard<std::mutex> hold(viewer.prefetch.lock);
  AheadPicture& ahead = viewer.prefetch.ahead;
  if (ahead.drawn == 0 || ahead.generation != viewer.list.generation ||
      ahead.mode != select_mode_of(settings)) {
    return false;
  }
  commit_pick(viewer, settings, ahead.draw);
  ahead.drawn = 0;
  *slot = static_cast<std::uint32_t>(ahead.index);
  return true;
}

void show_file(Viewer& viewer, const SettingsBlock& settings, const ExtraSettings& extra,
               const char* path, std::int32_t index) {
  Picture picture;
  const AheadStatus prepared = take_prepared(viewer, path, index, &picture);
  const bool current = prepared != AheadStatus::none && picture_current(picture, path);
  if (current && prepared == AheadStatus::ready) {
    while (!claim_loader_busy(viewer.worker)) {
    }
    install_picture(viewer.image, &picture, path);
    viewer.worker.loader_busy.store(0, std::memory_order_release);
    return;
  }
  free_picture(viewer.image, &picture);
  // The same file failed ahead: not decoded a second time.
  if (current) {
    show_load_failure(viewer, settings, path);
    return;
  }
  // Not prepared, or the file changed since: decoded now.
  load_image(viewer, settings, extra, path);
}

void prefetch_next(Viewer& viewer, SettingsBlock& settings) {
  PrefetchState& prefetch = viewer.prefetch;
  if (prefetch.running.load() == 0) return;
  const std::uint32_t count = viewer.worker.file_count.load();
  const SelectMode mode = select_mode_of(settings);
  const std::uint32_t generation = viewer.list.generation;
  AheadPicture& ahead = prefetch.ahead;
  std::unique_lock<std::mutex> hold(prefetch.lock);
  arm_full_size(viewer, settings);
  if (ahead.generation != generation || ahead.mode != mode) discard_locked(viewer);
  if (prefetch.enabled != 0 && count != 0) {
    if (!is_random(mode)) {
      const std::uint32_t next = static_cast<std::uint32_t>(viewer.worker.current_index.load()) + 1;
      const std::int32_t index = next >= count ? 0 : static_cast<std::int32_t>(next);
      if (ahead.status == AheadStatus::none || ahead.index != index) {
        discard_locked(viewer);
        ahead.index = index;
        ahead.status = AheadStatus::queued;
        ahead.queued_at = std::chrono::steady_clock::now();
      }
    } else if (ahead.drawn == 0) {
      discard_locked(viewer);
      hold.unlock();
      PickDraw draw;
      const std::uint32_t slot = draw_pick(viewer, settings, count, &draw);
      hold.lock();
      ahead.draw = draw;
      ahead.drawn = 1;
      ahead.index = static_cast<std::int32_t>(slot);
      ahead.status = AheadStatus::queued;
      ahead.queued_at = std::chrono::steady_clock::now();
    }
    ahead.generation = generation;
    ahead.mode = mode;
    copy_text(listed_path(viewer.list, static_cast<std::uint32_t>(ahead.index)), ahead.path);
  }
  hold.unlock();
  prefetch.signal.notify_all();
}
