#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "image/image.h"
#include "navigation/navigation.h"
#include "ports/desktop.h"
#include "ports/files.h"
#include "state/seams.h"
#include "text/text.h"

namespace {

constexpr std::uint32_t kTickMs = 500;
constexpr std::uint32_t kStopWaits = 10;

// The 500 ms sleep of a tick, cut short when a request or stop is raised.
void tick_sleep(AppState& state) {
  if (test_seams().sleep_ms != nullptr) {
    test_seams().sleep_ms(kTickMs);
    return;
  }
  std::unique_lock<std::mutex> hold(state.viewer.worker.wake_lock);
  state.viewer.worker.wake_signal.wait_for(hold, std::chrono::milliseconds(kTickMs),
                                           [&state] { return state.viewer.worker.wake_flag; });
  state.viewer.worker.wake_flag = false;
}

// Moves the random-mode history down one slot and puts index at its front.
void push_history(AppState& state, std::int32_t index) {
  for (std::uint32_t i = kHistoryCount - 1; i > 0; --i) {
    state.viewer.worker.history[i].store(state.viewer.worker.history[i - 1].load());
  }
  state.viewer.worker.history[0] = index;
}

// What the worker's picks work on.
Pick picking(AppState& state) {
  return Pick{state.viewer, state.settings, state.extra, state.scans, take_ahead_pick};
}

}  // namespace

void wake_worker(WorkerProtocol& worker) {
  {
    std::lock_guard<std::mutex> hold(worker.wake_lock);
    worker.wake_flag = true;
  }
  worker.wake_signal.notify_one();
}

namespace {

// Takes the first run of steps waiting; false when none waits (a step and
// its undoing cancelled out, say).
bool take_steps(AppState& state, StepRun* run) {
  std::lock_guard<std::mutex> hold(state.viewer.worker.step_lock);
  if (state.viewer.worker.steps.empty()) return false;
  *run = state.viewer.worker.steps.front();
  state.viewer.worker.steps.pop_front();
  return true;
}

bool steps_waiting(AppState& state) {
  std::lock_guard<std::mutex> hold(state.viewer.worker.step_lock);
  return !state.viewer.worker.steps.empty();
}

// When no step waits, the steps counted so far are all served.
void publish_served(AppState& state) {
  std::lock_guard<std::mutex> hold(state.viewer.worker.step_lock);
  if (state.viewer.worker.steps.empty()) {
    state.viewer.worker.served_serial.store(state.viewer.worker.step_serial,
                                            std::memory_order_release);
  }
}

// index moved a page ahead, or to the second-to-last slot when that would
// pass the end; the step's own one more then lands on the last file.
std::uint32_t paged_forward(const AppState& state, std::uint32_t index, std::uint32_t count) {
  const std::uint32_t moved = index + state.viewer.worker.page_step.load();
  return moved >= count ? count - 2 : moved;
}

// Where one linear step of kind leads from index among count files: a file
// (or a page) on or back, wrapping at either end.
std::uint32_t linear_step(const AppState& state, StepKind kind, std::uint32_t index,
                          std::uint32_t count) {
  if (kind == StepKind::back || kind == StepKind::page_back) {
    if (kind == StepKind::page_back) {
      const std::uint32_t page = state.viewer.worker.page_step.load();
      index = index > page ? index - page : 1;
    }
    // One before the wanted file, as a forward step adds one.
    if (index >= 2) {
      index -= 2;
    } else if (index == 1) {
      index = count;
    } else {
      index = count - 2;
    }
  } else if (kind != StepKind::forward) {
    index = paged_forward(state, index, count);
  }
  const std::uint32_t next = index + 1;
  return next >= count ? 0 : next;
}

// One random-mode step that is not the run's last: it moves the history and
// draws as a step served alone would, but nothing is decoded.
void random_step(AppState& state, StepKind kind) {
  if (kind == StepKind::back || kind == StepKind::page_back) {
    state.viewer.worker.current_index = state.viewer.worker.history[0].load();
    for (std::uint32_t i = 0; i + 1 < kHistoryCount; ++i) {
      state.viewer.worker.history[i].store(state.viewer.worker.history[i + 1].load());
    }
    state.viewer.worker.history[kHistoryCount - 1] = -1;
    return;  // an empty history (-1) draws when the pick is made
  }
  if (kind == StepKind::next_page) {
    const std::uint32_t count = state.viewer.worker.file_count.load();
    state.viewer.worker.current_index = static_cast<std::int32_t>(paged_forward(
        state, static_cast<std::uint32_t>(state.viewer.worker.current_index.load()), count));
  }
  push_history(state, state.viewer.worker.current_index.load());
  state.viewer.worker.current_index = -1;  // pick_file draws
}

// Applies a run of count steps: each but the last picks its file without
// showing it, so that the history and the recent picks are those of the
// steps served one by one; the last is left for the caller to show.
void apply_steps(AppState& state, const StepRun& run, SelectMode mode, char path[kPathBytes]) {
  const std::uint32_t count = state.viewer.worker.file_count.load();
  for (std::uint32_t step = 0; step < run.count; ++step) {
    if (!is_random(mode)) {
      if (count == 0) return;
      state.viewer.worker.current_index = static_cast<std::int32_t>(
          linear_step(state, run.kind,
                      static_cast<std::uint32_t>(state.viewer.worker.current_index.load()), count));
      continue;
    }
    random_step(state, run.kind);
    if (step + 1 < run.count) {
      {
        std::lock_guard<std::mutex> hold(state.viewer.texts);
        copy_text(state.settings.view_folder, path);
      }
      pick_file(picking(state), path, mode, state.viewer.worker.current_index.load(),
                RequestKind::step);
    }
  }
}

// Whether path is the picture shown, its file unchanged since it was read
// and its colours as they are given now.
bool showing(AppState& state, const char* path) {
  FileStamp now;
  if (std::strcmp(state.viewer.image.shown_file, path) != 0 || !file_stamp(path, &now) ||
      !(now == state.viewer.image.shown_stamp) ||
      state.viewer.image.shown_colour != state.viewer.image.colour_serial.load()) {
    return false;
  }
  std::lock_guard<std::mutex> hold(state.viewer.image.image_lock);
  return state.viewer.image.pixel_buffer != nullptr;
}

}  // namespace

namespace {

// Serves the waiting request; true when it asked for a repaint.
bool serve_waiting(AppState& state) {
  // A rebuild raised meanwhile wins over the steps that were waiting.
  const bool rebuild = state.viewer.worker.rebuild_wanted.exchange(0) != 0 ||
                       state.viewer.worker.request_kind.load() == RequestKind::rebuild;
  StepRun run{StepKind::forward, 0};
  if (!rebuild && !take_steps(state, &run)) return false;
  const SelectMode mode = select_mode_of(state.settings);
  // A rebuild may change the list, the mode or the folder: nothing prepared
  // for the old list is shown, and a pick drawn ahead goes back unseen.
  if (rebuild) prefetch_discard(state.viewer);
  char path[kPathBytes];
  {
    std::lock_guard<std::mutex> hold(state.viewer.texts);
    copy_text(state.settings.view_folder, path);
  }
  // Only a folder text shorter than a root is dropped ("" on POSIX, "C:" on
  // Windows): "/" is a folder like any other.
  if (length_of_text(path) < shortest_root()) return false;
  show_title(state.viewer, state.settings, TitleKind::building, nullptr);
  if (!rebuild) apply_steps(state, run, mode, path);
  {
    std::lock_guard<std::mutex> hold(state.viewer.texts);
    copy_text(state.settings.view_folder, path);
  }
  pick_file(picking(state), path, mode, state.viewer.worker.current_index.load(),
            rebuild ? RequestKind::rebuild : RequestKind::step);
  {
    std::lock_guard<std::mutex> hold(state.viewer.texts);
    copy_text(path, state.settings.image_path);
  }
  state.viewer.worker.request_kind = RequestKind::step;
  if (state.viewer.worker.file_count.load() != 0) {
    // The picture the start showed is not decoded again by the first rebuild.
    if (!rebuild || !showing(state, path)) {
      show_title(state.viewer, state.settings, TitleKind::loading, nullptr);
      show_file(state.viewer, state.settings, state.extra, path,
                state.viewer.worker.current_index.load());
    }
  } else {
    show_title(state.viewer, state.settings, TitleKind::no_images, nullptr);
  }
  // Every step served so far is shown with the repaint asked for next.
  publish_served(state);
  desktop_request_repaint(state.viewer.window);
  prefetch_next(state.viewer, state.settings);
  return true;
}

}  // namespace

void serve_request(AppState& state) {
  if (serve_waiting(state)) return;
  // Nothing to show (the steps cancelled out): the held key still learns
  // that what it asked for is done.
  publish_served(state);
  desktop_request_repaint(state.viewer.window);
}

void viewer_tick(AppState& state, std::uint32_t& ticks) {
  if (state.viewer.worker.loader_busy.load(std::memory_order_acquire) != 0) return;
  const std::int32_t pending = state.viewer.worker.request_pending.load(std::memory_order_acquire);
  if (pending == 1) {
    serve_request(state);
    // The interval counts from the picture shown, never from before it.
    ticks = 0;
    state.viewer.worker.request_pending.store(0, std::memory_order_release);
    // What arrived while this request was served comes next, at once.
    if (state.viewer.worker.rebuild_wanted.load() != 0 || steps_waiting(state)) {
      state.viewer.worker.request_pending.store(1, std::memory_order_release);
      wake_worker(state.viewer.worker);
    }
  } else if (pending != 0) {
    state.viewer.worker.request_pending.store(0, std::memory_order_release);
  } else if (read_shared(state.settings.advance_setting) != 0) {
    if (++ticks >= state.viewer.worker.advance_ticks.load()) {
      request_next_image(state.viewer, state.settings, 0);
      ticks = 0;
    }
  }
}

void viewer_stop(AppState& state) {
  state.viewer.worker.stop_counter.fetch_add(1);
  prefetch_stop(state.viewer);
  for (std::uint32_t waits = 0; state.viewer.worker.loader_busy.load() != 0;) {
    pause_ms(kTickMs);
    if (++waits == kStopWaits) state.viewer.worker.loader_busy = 0;
  }
  desktop_post_command(state.viewer.window, kCommandWorkerStopped);
}

void viewer_thread(AppState& state) {
  prefetch_start(state.viewer, state.extra);
  char shown[kPathBytes];
  {
    std::lock_guard<std::mutex> hold(state.viewer.texts);
    copy_text(state.settings.image_path, shown);
  }
  // The image of the last run shows at once, before any scan; on a first
  // start there is none, and no failure title should flash.
  if (shown[0] != '\0') load_image(state.viewer, state.settings, state.extra, shown);
  desktop_request_repaint(state.viewer.window);
  prefetch_next(state.viewer, state.settings);
  std::uint32_t ticks = 0;
  for (;;) {
    viewer_tick(state, ticks);
    tick_sleep(state);
    if (state.viewer.worker.stop_counter.load() >= kStopRequested) break;
  }
  viewer_stop(state);
  // Last: whoever sees 0 here also sees everything the worker did.
  state.viewer.worker.worker_running.store(0, std::memory_order_release);
}

void start_viewer_thread(AppState& state) {
  state.viewer.worker.worker_running.store(1, std::memory_order_release);
  std::thread(viewer_thread, std::ref(state)).detach();
}
