#include <mutex>

#include "image/image.h"
#include "ports/back_buffer.h"
#include "text/text.h"

namespace {

constexpr std::int32_t kOffWindow = 60000;

// A pointer coordinate as the drag stored it: values above 60000 are
// positions left of or above the window.
std::int64_t pointer_in_window(std::int32_t pan, std::int32_t client) {
  if (pan > kOffWindow) return 0;
  return pan > client ? client : pan;
}

// The plan's source in the pixels' own terms: a reduced decode has fewer
// pixels than the picture it stands for.
PixelRect pixel_source(const PaintPlan& plan, const BitmapHeader& header, std::int32_t width,
                       std::int32_t height) {
  if (header.width == width && header.height == height) {
    return PixelRect{plan.source_x, plan.source_y, width, height};
  }
  return PixelRect{static_cast<std::int32_t>(std::int64_t{plan.source_x} * header.width / width),
                   static_cast<std::int32_t>(std::int64_t{plan.source_y} * header.height / height),
                   header.width, header.height};
}

}  // namespace

std::uint32_t percent_of(std::uint32_t a, std::uint32_t b) {
  return b == 0 ? 0 : a * 100u / b;
}

PaintPlan plan_paint(std::int32_t client_width, std::int32_t client_height,
                     std::int32_t image_width, std::int32_t image_height, std::int32_t zoom_level,
                     std::int32_t pan_x, std::int32_t pan_y) {
  const auto cw = static_cast<std::uint32_t>(client_width);
  const auto ch = static_cast<std::uint32_t>(client_height);
  const auto iw = static_cast<std::uint32_t>(image_width);
  const auto ih = static_cast<std::uint32_t>(image_height);
  const std::uint32_t fit_x = percent_of(cw, iw);
  const std::uint32_t fit_y = percent_of(ch, ih);
  PaintPlan plan{};
  plan.scale = (fit_x < fit_y ? fit_x : fit_y) << zoom_level;
  // Nothing to draw into, or an image too large to show: no division by zero.
  if (plan.scale == 0 || client_width <= 0 || client_height <= 0 || image_width <= 0 ||
      image_height <= 0) {
    return plan;
  }
  const std::uint32_t dw = iw * plan.scale / 100u;
  const std::uint32_t dh = ih * plan.scale / 100u;
  plan.draw = 1;
  plan.target_width = static_cast<std::int32_t>(dw);
  plan.target_height = static_cast<std::int32_t>(dh);
  if (zoom_level == 0) {
    plan.target_x = static_cast<std::int32_t>((cw - dw) / 2);
    plan.target_y = static_cast<std::int32_t>((ch - dh) / 2);
    return plan;
  }
  const std::int64_t px = pointer_in_window(pan_x, client_width) * 100 / client_width;
  const std::int64_t py = pointer_in_window(pan_y, client_height) * 100 / client_height;
  const std::int64_t scale = plan.scale;
  plan.source_x =
      static_cast<std::int32_t>((static_cast<std::int64_t>(dw) - client_width) * px / scale);
  plan.source_y =
      static_cast<std::int32_t>(-((static_cast<std::int64_t>(dh) - client_height) * py / scale));
  return plan;
}

void paint_window(Viewer& viewer, const SettingsBlock& settings) {
  if (viewer.image.back_buffer == nullptr) {
    viewer.image.back_buffer =
        back_buffer_create(viewer.image.client_width, viewer.image.client_height);
    if (viewer.image.back_buffer == nullptr) return;
  }
  back_buffer_fill_black(viewer.image.back_buffer);
  bool titled = false;
  {
    std::lock_guard<std::mutex> hold(viewer.image.image_lock);
    if (viewer.image.image_bitmap != nullptr) {
      const PaintPlan plan =
          plan_paint(viewer.image.client_width, viewer.image.client_height,
                     viewer.image.image_width, viewer.image.image_height, viewer.image.zoom_level,
                     viewer.image.pan_x, viewer.image.pan_y);
      // The scale in the title is the one painted; while a list is in use.
      titled = viewer.worker.request_kind.load() == RequestKind::step &&
               viewer.worker.file_count.load() != 0;
      // Drawn whatever holds the loader claim (a dialog of ours, say): a
      // load frees the image before it decodes, under this lock.
      if (viewer.image.pixel_buffer != nullptr && plan.draw) {
        back_buffer_stretch(
            viewer.image.back_buffer, viewer.image.pixel_buffer, viewer.image.image_header,
            PixelRect{plan.target_x, plan.target_y, plan.target_width, plan.target_height},
            pixel_source(plan, viewer.image.image_header, viewer.image.image_width,
                         viewer.image.image_height));
      }
    }
  }
  back_buffer_present(viewer.window, viewer.image.back_buffer);
  {
    std::lock_guard<std::mutex> image_hold(viewer.image.image_lock);
    viewer.image.painted_serial = viewer.image.shown_serial;
  }
  // Whoever waits for the picture to reach the screen.
  if (void (*painted)(void*) = viewer.image.painted.load(std::memory_order_acquire)) {
    painted(viewer.image.painted_context.load());
  }
  if (titled) show_title(viewer, settings, TitleKind::image, nullptr);
}
