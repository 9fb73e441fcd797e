#include "commands/commands.h"
#include "image/image.h"
#include "navigation/navigation.h"
#include "ports/back_buffer.h"
#include "ports/desktop.h"
#include "ports/picture.h"
#include "settings/settings.h"
#include "shell/shell.h"
#include "shell/startup.h"

namespace {

constexpr std::int32_t kMaxZoom = 5;
constexpr std::uint32_t kLastCountedClose = 670;

}  // namespace

void initial_window_size(std::int32_t screen_width, std::int32_t screen_height, std::int32_t* width,
                         std::int32_t* height) {
  *width = screen_width > 800 ? 800 : 640;
  *height = screen_height > 600 ? 600 : 480;
}

void planned_client_size(const AppState& state, bool settings_loaded, std::int32_t screen_width,
                         std::int32_t screen_height, std::int32_t* width, std::int32_t* height) {
  const WindowPlacement& placement = state.settings.window_placement;
  if (state.settings.full_screen != 0 ||
      (settings_loaded && shown_as(placement, ShowState::maximised))) {
    *width = screen_width;
    *height = screen_height;
    return;
  }
  if (!settings_loaded) return;
  const std::int64_t normal_width =
      std::int64_t{placement.normal_right} - std::int64_t{placement.normal_left};
  const std::int64_t normal_height =
      std::int64_t{placement.normal_bottom} - std::int64_t{placement.normal_top};
  if (normal_width > 0 && normal_height > 0 && normal_width <= 2 * std::int64_t{screen_width} &&
      normal_height <= 2 * std::int64_t{screen_height}) {
    *width = static_cast<std::int32_t>(normal_width);
    *height = static_cast<std::int32_t>(normal_height);
  }
}

void window_created(AppState& state) {
  // A missing path named on the command line keeps its title until a
  // picture is shown.
  show_title(state.viewer, state.settings,
             state.viewer.image.title_kind.load() == TitleKind::missing ? TitleKind::missing
                                                                        : TitleKind::program,
             nullptr);
  if (state.settings.translucent != 0 && state.window.translucency_available != 0) {
    set_translucency(state.viewer.window, state.settings.translucency_alpha);
  }
  set_topmost(state.viewer.window, state.settings.always_on_top);
  set_advance_ticks(state.viewer.worker, state.settings);
  // A repeat judged before any picture was shown counts from here.
  state.window.key_repeats.shown_at = ticks_now();
}

void handle_paint(AppState& state) {
  paint_window(state.viewer, state.settings);
  key_step_painted(state);
}

void handle_resize(AppState& state, std::int32_t width, std::int32_t height) {
  state.viewer.image.client_width = width;
  state.viewer.image.client_height = height;
  state.viewer.image.fit_width = width;
  state.viewer.image.fit_height = height;
  delete_bitmap(state.viewer.image.back_buffer);
  state.viewer.image.back_buffer = nullptr;
  // A larger window may show the reduced picture above 50%, where its own
  // pixels are the ones to draw.
  if (larger_than_reduced(state.viewer.image)) want_full_size(state.viewer);
}

void handle_mouse_move(AppState& state, bool left_button_down, std::int32_t x, std::int32_t y) {
  if (!left_button_down) return;
  if (state.viewer.image.zoom_level == 0) {
    state.viewer.image.zoom_level = 1;
    set_magnifying(state.viewer, true);
  }
  state.viewer.image.pan_x = x & 0xFFFF;
  state.viewer.image.pan_y = y & 0xFFFF;
  desktop_request_repaint(state.viewer.window);
}

void handle_button_up(AppState& state, std::uint32_t modifiers) {
  if (state.viewer.image.zoom_level != 0) {
    state.viewer.image.zoom_level = 0;
    set_magnifying(state.viewer, false);
    desktop_request_repaint(state.viewer.window);
  } else {
    request_next_image(state.viewer, state.settings, modifiers);
  }
}

void handle_context_menu(AppState& state) {
  show_context_menu(state);
}

bool handle_wheel(AppState& state, std::int32_t delta) {
  if (state.viewer.image.zoom_level == 0) return false;
  std::int32_t level = state.viewer.image.zoom_level + (delta < 0 ? -1 : 1);
  if (level < 1) level = 1;
  if (level > kMaxZoom) level = kMaxZoom;
  state.viewer.image.zoom_level = level;
  desktop_request_repaint(state.viewer.window);
  return true;
}

void handle_close(AppState& state) {
  const std::uint32_t counter = state.viewer.worker.stop_counter.load();
  if (counter < kStopRequested) {
    state.viewer.worker.stop_counter = kStopRequested;
    wake_worker(state.viewer.worker);
    save_settings(state.settings, state.extra, state.data, state.viewer.texts, state.viewer.window);
  } else if (counter < kLastCountedClose) {
    state.viewer.worker.stop_counter.fetch_add(1);
  } else {
    // The worker has not answered: end without it.
    desktop_post_command(state.viewer.window, kCommandWorkerStopped);
  }
}

bool handle_drop(AppState& state, const char* path) {
  return open_image_file(state.viewer, state.settings, path);
}

void handle_posted_command(AppState& state, std::int32_t id) {
  handle_command(state, id);
}

void handle_display_profile_change(AppState& state) {
  if (state.extra.colour_management.load()) request_recolour(state.viewer);
}

void handle_session_end(AppState& state) {
  state.catalog.cancel = 1;
  if (state.viewer.window != nullptr) handle_close(state);
}
