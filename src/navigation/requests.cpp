#include <mutex>

#include "image/image.h"
#include "navigation/navigation.h"
#include "ports/desktop.h"
#include "text/text.h"

namespace {

bool linear_mode(const AppState& state) {
  return !is_random(select_mode_of(state.settings));
}

void raise_request(AppState& state) {
  // Whatever is asked for comes before a full-size decode nobody waits for.
  state.viewer.prefetch.full_cancel = true;
  state.viewer.worker.request_pending.store(1, std::memory_order_release);
  wake_worker(state);
}

bool shift(std::uint32_t modifiers) {
  return (modifiers & kModifierShift) != 0;
}

// Whether a step of kind undoes the waiting run's last one: Left after Right
// always, Right after Left only in the linear modes (in the random ones it
// draws a new pick rather than returning).
bool cancels(StepKind waiting, StepKind kind, bool linear) {
  return (waiting == StepKind::forward && kind == StepKind::back) ||
         (linear && waiting == StepKind::back && kind == StepKind::forward);
}

// Queues a step behind those waiting: one of the kind of the last run joins
// it, one that undoes it takes one away. A held key's repeat is queued only
// while nothing waits, so that letting go of the key ends the stepping.
void queue_step(AppState& state, StepKind kind, std::uint32_t modifiers) {
  {
    std::lock_guard<std::mutex> hold(state.viewer.worker.step_lock);
    std::deque<StepRun>& steps = state.viewer.worker.steps;
    if ((modifiers & kModifierRepeat) != 0 && !steps.empty()) return;
    ++state.viewer.worker.step_serial;
    if (!steps.empty() && steps.back().kind == kind) {
      ++steps.back().count;
    } else if (!steps.empty() && cancels(steps.back().kind, kind, linear_mode(state))) {
      if (--steps.back().count == 0) steps.pop_back();
      return;  // the request raised for the step undone serves what is left
    } else if (steps.size() < kStepRunLimit) {
      steps.push_back(StepRun{kind, 1});
    }
  }
  raise_request(state);
}

}  // namespace

std::uint32_t step_serial(AppState& state) {
  std::lock_guard<std::mutex> hold(state.viewer.worker.step_lock);
  return state.viewer.worker.step_serial;
}

void step_forward(AppState& state, std::uint32_t modifiers) {
  queue_step(state,
             linear_mode(state) && shift(modifiers) ? StepKind::page_forward : StepKind::forward,
             modifiers);
}

void step_back(AppState& state, std::uint32_t modifiers) {
  queue_step(state, linear_mode(state) && shift(modifiers) ? StepKind::page_back : StepKind::back,
             modifiers);
}

void request_next_image(AppState& state, std::uint32_t modifiers) {
  queue_step(state, shift(modifiers) ? StepKind::next_page : StepKind::forward, modifiers);
}

void request_rebuild(AppState& state) {
  {
    // The steps waiting were meant for the list it replaces.
    std::lock_guard<std::mutex> hold(state.viewer.worker.step_lock);
    state.viewer.worker.steps.clear();
  }
  state.viewer.worker.rebuild_wanted = 1;
  state.viewer.worker.request_kind = RequestKind::rebuild;
  // Served with the request that is waiting, or right after it.
  raise_request(state);
}

void request_recolour(AppState& state) {
  state.viewer.image.colour_serial.fetch_add(1);
  // The rebuild stays on the shown picture and, as its colours are stale,
  // decodes it again; what was prepared ahead goes with the old list.
  request_rebuild(state);
}

bool open_image_file(AppState& state, const char* path) {
  const std::uint32_t length = length_of_text(path);
  // A root ("/", "C:\\") and shorter name no file; a longer path than a slot
  // holds is never cut.
  if (length <= shortest_root() || length >= kPathBytes) return false;
  char folder[kPathBytes];
  copy_text(path, folder);
  strip_to_folder(folder);
  {
    std::lock_guard<std::mutex> hold(state.viewer.texts);
    copy_text(path, state.settings.image_path);
    remember_folder(state.settings, state.settings.view_folder);
    copy_text(folder, state.settings.view_folder);
  }
  // The worker decodes it, once, as the rebuild stays on image_path; the
  // window answers meanwhile.
  request_rebuild(state);
  return true;
}
