#include "navigation/navigation.h"
#include "platform/desktop.h"
#include "shell/shell.h"

namespace {

bool linear_mode(const AppState& state) {
  return read_shared(state.settings.select_mode) < 2;
}

// current_index moved a page ahead, or to the second-to-last slot's successor
// (the last file) when that would pass the end.
void page_forward(AppState& state) {
  const std::uint32_t count = state.file_count.load();
  const std::uint32_t moved =
      static_cast<std::uint32_t>(state.current_index.load()) + state.page_step.load();
  state.current_index = static_cast<std::int32_t>(moved >= count ? count - 2 : moved);
}

void raise_request(AppState& state) {
  state.request_pending.store(1, std::memory_order_release);
  wake_worker(state);
}

bool request_waiting(const AppState& state) {
  return state.request_pending.load(std::memory_order_acquire) != 0;
}

}  // namespace

void step_forward(AppState& state) {
  if (request_waiting(state)) return;
  if (linear_mode(state) && desktop_shift_held()) page_forward(state);
  raise_request(state);
}

void step_back(AppState& state) {
  if (request_waiting(state)) return;
  if (!linear_mode(state)) {
    state.back_pending = 1;
    state.current_index = state.history[0].load();
    for (std::uint32_t i = 0; i + 1 < kHistoryCount; ++i) {
      state.history[i].store(state.history[i + 1].load());
    }
    state.history[kHistoryCount - 1] = -1;
  } else {
    const std::uint32_t count = state.file_count.load();
    std::uint32_t index = static_cast<std::uint32_t>(state.current_index.load());
    if (desktop_shift_held()) {
      const std::uint32_t page = state.page_step.load();
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
    state.current_index = static_cast<std::int32_t>(index);
  }
  raise_request(state);
}

void request_next_image(AppState& state) {
  if (request_waiting(state)) return;
  if (desktop_shift_held()) page_forward(state);
  raise_request(state);
}

void request_rebuild(AppState& state) {
  state.rebuild_wanted = 1;
  state.request_kind = 1;
  request_next_image(state);
  // Served with the request that is waiting, or right after it.
  wake_worker(state);
}
