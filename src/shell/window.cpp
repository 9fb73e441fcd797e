#include <mutex>

#include "commands/commands.h"
#include "image/image.h"
#include "navigation/navigation.h"
#include "platform/back_buffer.h"
#include "platform/desktop.h"
#include "platform/picture.h"
#include "settings/settings.h"
#include "shell/shell.h"
#include "text/text.h"

namespace {

constexpr std::int32_t kMaxZoom = 5;
constexpr std::uint32_t kLastCountedClose = 670;

}  // namespace

void initial_window_size(std::int32_t screen_width, std::int32_t screen_height, std::int32_t* width,
                         std::int32_t* height) {
  *width = screen_width > 800 ? 800 : 640;
  *height = screen_height > 600 ? 600 : 480;
}

void window_created(AppState& state) {
  if (state.settings.translucent != 0 && state.translucency_available != 0) {
    set_translucency(state, state.settings.translucency_alpha);
  }
  set_topmost(state, state.settings.always_on_top);
  set_advance_ticks(state);
}

void handle_resize(AppState& state, std::int32_t width, std::int32_t height) {
  state.client_width = width;
  state.client_height = height;
  delete_bitmap(state.back_buffer);
  state.back_buffer = nullptr;
}

void handle_mouse_move(AppState& state, int left_button_down, std::int32_t x, std::int32_t y) {
  if (!left_button_down) return;
  if (state.zoom_level == 0) state.zoom_level = 1;
  state.pan_x = x & 0xFFFF;
  state.pan_y = y & 0xFFFF;
  desktop_request_repaint(state.main_window);
}

void handle_button_up(AppState& state) {
  if (state.zoom_level != 0) {
    state.zoom_level = 0;
    desktop_request_repaint(state.main_window);
  } else {
    request_next_image(state);
  }
}

int handle_wheel(AppState& state, std::int32_t delta) {
  if (state.zoom_level == 0) return 0;
  std::int32_t level = state.zoom_level + (delta < 0 ? -1 : 1);
  if (level < 1) level = 1;
  if (level > kMaxZoom) level = kMaxZoom;
  state.zoom_level = level;
  desktop_request_repaint(state.main_window);
  return 1;
}

void handle_close(AppState& state) {
  const std::uint32_t counter = state.stop_counter.load();
  if (counter < kStopRequested) {
    state.stop_counter = kStopRequested;
    wake_worker(state);
    save_settings(state);
  } else if (counter < kLastCountedClose) {
    state.stop_counter.fetch_add(1);
  } else {
    // The worker has not answered: end without it.
    desktop_post_command(state.main_window, kCommandSaveAndDestroy);
  }
}

int open_image_file(AppState& state, const char* path) {
  const std::uint32_t length = length_of_text(path);
  // "/" and shorter name no file; a longer path than a slot holds is never cut.
  if (length <= 1 || length >= kPathBytes) return 0;
  char folder[kPathBytes];
  copy_text(path, folder);
  strip_to_folder(folder);
  {
    std::lock_guard<std::mutex> hold(state.shared_text_lock);
    copy_text(path, state.settings.image_path);
    remember_folder(state, state.settings.view_folder);
    copy_text(folder, state.settings.view_folder);
  }
  load_image(state, path);
  desktop_request_repaint(state.main_window);
  request_rebuild(state);
  return 1;
}

void handle_key(AppState& state, ViewerKey key) {
  switch (key) {
    case ViewerKey::f1:
      desktop_post_command(state.main_window, kCommandHelp);
      break;
    case ViewerKey::escape:
      desktop_post_close(state.main_window);
      break;
    case ViewerKey::del:
      desktop_post_command(state.main_window, kCommandDelete);
      break;
    case ViewerKey::left:
      step_back(state);
      break;
    case ViewerKey::right:
    case ViewerKey::space:
      step_forward(state);
      break;
  }
}
