#include <mutex>

#include "image/image.h"
#include "platform/back_buffer.h"
#include "platform/desktop.h"
#include "text/text.h"

namespace {

constexpr std::uint32_t kShortPathCharacters = 75;
constexpr std::int32_t kOffWindow = 60000;

// A pointer coordinate as the drag stored it: values above 60000 are
// positions left of or above the window.
std::int64_t pointer_in_window(std::int32_t pan, std::int32_t client) {
  if (pan > kOffWindow) return 0;
  return pan > client ? client : pan;
}

void append_number(char* text, std::int32_t value) {
  char number[12];
  number_to_text(value, number);
  append_text(text, number);
}

}  // namespace

std::uint32_t percent_of(std::uint32_t a, std::uint32_t b) {
  return b == 0 ? 0 : a * 100u / b;
}

void shorten_path(char* text) {
  const std::uint32_t length = length_of_text(text);
  if (length <= kShortPathCharacters) return;
  char tail[kPathBytes];
  copy_text(text + (length - kShortPathCharacters), tail);
  copy_text("...", text);
  append_text(text, tail);
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

void build_title(AppState& state, std::uint32_t scale, char title[kTitleBytes]) {
  char part[kPathBytes];
  {
    // The worker changes both texts while the window paints.
    std::lock_guard<std::mutex> hold(state.shared_text_lock);
    copy_text(state.settings.image_path, title);
    copy_text(state.settings.view_folder, part);
  }
  shorten_path(title);
  shorten_path(part);
  append_text(title, " (");
  append_number(title, state.image_width);
  append_text(title, " x ");
  append_number(title, state.image_height);
  append_text(title, " @ ");
  append_number(title, static_cast<std::int32_t>(scale));
  append_text(title, "%) ");
  append_text(title, part);
  append_text(title, " ");
  if (read_shared(state.settings.select_mode) < 2) {
    append_number(title, state.current_index.load() + 1);
    append_text(title, " of ");
  }
  append_number(title, static_cast<std::int32_t>(state.file_count.load()));
  append_text(title, " Files - Tessmira 1.0");
}

void paint_window(AppState& state) {
  if (state.back_buffer == nullptr) {
    state.back_buffer = back_buffer_create(state.client_width, state.client_height);
    if (state.back_buffer == nullptr) return;
  }
  back_buffer_fill_black(state.back_buffer);
  {
    std::lock_guard<std::mutex> hold(state.image_lock);
    if (state.image_bitmap != nullptr) {
      const PaintPlan plan =
          plan_paint(state.client_width, state.client_height, state.image_width, state.image_height,
                     state.zoom_level, state.pan_x, state.pan_y);
      if (state.request_kind.load() == 2 && state.file_count.load() != 0) {
        char title[kTitleBytes];
        build_title(state, plan.scale, title);
        desktop_set_title(state.main_window, title);
      }
      if (state.loader_busy.load(std::memory_order_acquire) == 0 && state.pixel_buffer != nullptr &&
          plan.draw) {
        back_buffer_stretch(
            state.back_buffer, state.pixel_buffer, state.image_header,
            PixelRect{plan.target_x, plan.target_y, plan.target_width, plan.target_height},
            PixelRect{plan.source_x, plan.source_y, state.image_width, state.image_height});
      }
    }
  }
  back_buffer_present(state.main_window, state.back_buffer);
}
