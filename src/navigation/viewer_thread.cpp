#include <chrono>
#include <mutex>
#include <thread>

#include "image/image.h"
#include "navigation/navigation.h"
#include "platform/desktop.h"
#include "text/text.h"

namespace {

constexpr std::uint32_t kTickMs = 500;
constexpr std::uint32_t kStopWaits = 10;

// The 500 ms sleep of a tick, cut short when a request or stop is raised.
void tick_sleep(AppState& state) {
  if (state.seams.sleep_ms != nullptr) {
    state.seams.sleep_ms(kTickMs);
    return;
  }
  std::unique_lock<std::mutex> hold(state.worker.wake_lock);
  state.worker.wake_signal.wait_for(hold, std::chrono::milliseconds(kTickMs),
                                    [&state] { return state.worker.wake_flag; });
  state.worker.wake_flag = false;
}

// Moves the random-mode history down one slot and puts index at its front.
void push_history(AppState& state, std::int32_t index) {
  for (std::uint32_t i = kHistoryCount - 1; i > 0; --i) {
    state.worker.history[i].store(state.worker.history[i - 1].load());
  }
  state.worker.history[0] = index;
}

}  // namespace

void wake_worker(AppState& state) {
  {
    std::lock_guard<std::mutex> hold(state.worker.wake_lock);
    state.worker.wake_flag = true;
  }
  state.worker.wake_signal.notify_one();
}

void serve_request(AppState& state) {
  // A rebuild raised meanwhile wins over the plain step that was waiting.
  const std::int32_t kind =
      state.worker.rebuild_wanted.exchange(0) != 0 ? 1 : state.worker.request_kind.load();
  const std::uint32_t mode = read_shared(state.settings.select_mode);
  // A rebuild may change the list, the mode or the folder: nothing prepared
  // for the old list is shown, and a pick drawn ahead goes back unseen.
  if (kind == 1) prefetch_discard(state);
  if (kind == 2) {
    if (mode < 2) {
      const std::uint32_t next = static_cast<std::uint32_t>(state.worker.current_index.load()) + 1;
      state.worker.current_index =
          next >= state.worker.file_count.load() ? 0 : static_cast<std::int32_t>(next);
    } else if (state.worker.back_pending.exchange(0) == 0) {
      push_history(state, state.worker.current_index.load());
      state.worker.current_index = -1;  // pick_file draws
    }
  }
  char path[kPathBytes];
  {
    std::lock_guard<std::mutex> hold(state.shared_text_lock);
    copy_text(state.settings.view_folder, path);
  }
  // Only a folder text shorter than a root is dropped ("" on POSIX, "C:" on
  // Windows): "/" is a folder like any other.
  if (length_of_text(path) < shortest_root()) return;
  show_title(state, TitleKind::building, nullptr);
  pick_file(state, path, mode, state.worker.current_index.load(), kind);
  {
    std::lock_guard<std::mutex> hold(state.shared_text_lock);
    copy_text(path, state.settings.image_path);
  }
  state.worker.request_kind = 2;
  if (state.worker.file_count.load() != 0) {
    show_title(state, TitleKind::loading, nullptr);
    show_file(state, path, state.worker.current_index.load());
  } else {
    show_title(state, TitleKind::no_images, nullptr);
  }
  desktop_request_repaint(state.window.main_window);
  prefetch_next(state);
}

void viewer_tick(AppState& state, std::uint32_t& ticks) {
  if (state.worker.loader_busy.load(std::memory_order_acquire) != 0) return;
  const std::int32_t pending = state.worker.request_pending.load(std::memory_order_acquire);
  if (pending == 1) {
    serve_request(state);
    state.worker.request_pending.store(0, std::memory_order_release);
    // A rebuild that arrived while this request was served comes next.
    if (state.worker.rebuild_wanted.load() != 0)
      state.worker.request_pending.store(1, std::memory_order_release);
  } else if (pending != 0) {
    state.worker.request_pending.store(0, std::memory_order_release);
  } else if (read_shared(state.settings.advance_setting) != 0) {
    if (++ticks >= state.worker.advance_ticks.load()) {
      state.worker.request_pending.store(1, std::memory_order_release);
      ticks = 0;
    }
  }
}

void viewer_stop(AppState& state) {
  state.worker.stop_counter.fetch_add(1);
  prefetch_stop(state);
  for (std::uint32_t waits = 0; state.worker.loader_busy.load() != 0;) {
    pause_ms(state, kTickMs);
    if (++waits == kStopWaits) state.worker.loader_busy = 0;
  }
  desktop_post_command(state.window.main_window, kCommandWorkerStopped);
}

void viewer_thread(AppState& state) {
  prefetch_start(state);
  char shown[kPathBytes];
  {
    std::lock_guard<std::mutex> hold(state.shared_text_lock);
    copy_text(state.settings.image_path, shown);
  }
  // The image of the last run shows at once, before any scan; on a first
  // start there is none, and no failure title should flash.
  if (shown[0] != '\0') load_image(state, shown);
  desktop_request_repaint(state.window.main_window);
  prefetch_next(state);
  std::uint32_t ticks = 0;
  for (;;) {
    viewer_tick(state, ticks);
    tick_sleep(state);
    if (state.worker.stop_counter.load() >= kStopRequested) break;
  }
  viewer_stop(state);
  // Last: whoever sees 0 here also sees everything the worker did.
  state.worker.worker_running.store(0, std::memory_order_release);
}

void start_viewer_thread(AppState& state) {
  state.worker.worker_running.store(1, std::memory_order_release);
  std::thread(viewer_thread, std::ref(state)).detach();
}
