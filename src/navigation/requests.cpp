#include <mutex>

#include "image/image.h"
#include "navigation/navigation.h"
#include "platform/desktop.h"
#include "text/text.h"

namespace {

bool linear_mode(const AppState& state) {
  return read_shared(state.settings.select_mode) < 2;
}

// current_index moved a page ahead, or to the second-to-last slot's successor
// (the last file) when that would pass the end.
void page_forward(AppState& state) {
  const std::uint32_t count = state.worker.file_count.load();
  const std::uint32_t moved =
      static_cast<std::uint32_t>(state.worker.current_index.load()) + state.worker.page_step.load();
  state.worker.current_index = static_cast<std::int32_t>(moved >= count ? count - 2 : moved);
}

void raise_request(AppState& state) {
  state.worker.request_pending.store(1, std::memory_order_release);
  wake_worker(state);
}

bool request_waiting(const AppState& state) {
  return state.worker.request_pending.load(std::memory_order_acquire) != 0;
}

bool shift(std::uint32_t modifiers) {
  return (modifiers & kModifierShift) != 0;
}

}  // namespace

void step_forward(AppState& state, std::uint32_t modifiers) {
  if (request_waiting(state)) return;
  if (linear_mode(state) && shift(modifiers)) page_forward(state);
  raise_request(state);
}

void step_back(AppState& state, std::uint32_t modifiers) {
  if (request_waiting(state)) return;
  if (!linear_mode(state)) {
    state.worker.back_pending = 1;
    state.worker.current_index = state.worker.history[0].load();
    for (std::uint32_t i = 0; i + 1 < kHistoryCount; ++i) {
      state.worker.history[i].store(state.worker.history[i + 1].load());
    }
    state.worker.history[kHistoryCount - 1] = -1;
  } else {
    const std::uint32_t count = state.worker.file_count.load();
    std::uint32_t index = static_cast<std::uint32_t>(state.worker.current_index.load());
    if (shift(modifiers)) {
      const std::uint32_t page = state.worker.page_step.load();
      index = index > page ? index - page : 1;
    }
    // The worker adds one: land one before the wanted file.
    if (index >= 2) {
      index -= 2;
    } else if (index == 1) {
      index = count;
    } else {
      index = count - 2;
    }
    state.worker.current_index = static_cast<std::int32_t>(index);
  }
  raise_request(state);
}

void request_next_image(AppState& state, std::uint32_t modifiers) {
  if (request_waiting(state)) return;
  if (shift(modifiers)) page_forward(state);
  raise_request(state);
}

void request_rebuild(AppState& state) {
  state.worker.rebuild_wanted = 1;
  state.worker.request_kind = 1;
  // A rebuild starts where current_index is; no modifier pages it on.
  request_next_image(state, 0);
  // Served with the request that is waiting, or right after it.
  wake_worker(state);
}

int open_image_file(AppState& state, const char* path) {
  const std::uint32_t length = length_of_text(path);
  // A root ("/", "C:\\") and shorter name no file; a longer path than a slot
  // holds is never cut.
  if (length <= shortest_root() || length >= kPathBytes) return 0;
  char folder[kPathBytes];
  copy_text(path, folder);
  strip_to_folder(folder);
  {
    std::lock_guard<std::mutex> hold(state.shared_text_lock);
    copy_text(path, state.settings.image_path);
    remember_folder(state, state.settings.view_folder);
    copy_text(folder, state.settings.view_folder);
  }
  // The worker decodes it, once, as the rebuild stays on image_path; the
  // window answers meanwhile.
  request_rebuild(state);
  return 1;
}
