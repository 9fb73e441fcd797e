#include <mutex>

#include "image/image.h"
#include "navigation/navigation.h"
#include "ports/desktop.h"
#include "text/text.h"

namespace {

bool linear_mode(const SettingsBlock& settings) {
  return !is_random(select_mode_of(settings));
}

void raise_request(Viewer& viewer) {
  // Whatever is asked for comes before a full-size decode nobody waits for.
  viewer.image.full_cancel = true;
  viewer.worker.request_pending.store(1, std::memory_order_release);
  wake_worker(viewer.worker);
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
void queue_step(Viewer& viewer, bool linear, StepKind kind, std::uint32_t modifiers) {
  {
    std::lock_guard<std::mutex> hold(viewer.worker.step_lock);
    std::deque<StepRun>& steps = viewer.worker.steps;
    if ((modifiers & kModifierRepeat) != 0 && !steps.empty()) return;
    ++viewer.worker.step_serial;
    if (!steps.empty() && steps.back().kind == kind) {
      ++steps.back().count;
    } else if (!steps.empty() && cancels(steps.back().kind, kind, linear)) {
      if (--steps.back().count == 0) steps.pop_back();
      return;  // the request raised for the step undone serves what is left
    } else if (steps.size() < kStepRunLimit) {
      steps.push_back(StepRun{kind, 1});
    }
  }
  raise_request(viewer);
}

}  // namespace

std::uint32_t step_serial(WorkerProtocol& worker) {
  std::lock_guard<std::mutex> hold(worker.step_lock);
  return worker.step_serial;
}

void step_forward(Viewer& viewer, const SettingsBlock& settings, std::uint32_t modifiers) {
  queue_step(viewer, linear_mode(settings),
             linear_mode(settings) && shift(modifiers) ? StepKind::page_forward : StepKind::forward,
             modifiers);
}

void step_back(Viewer& viewer, const SettingsBlock& settings, std::uint32_t modifiers) {
  queue_step(viewer, linear_mode(settings),
             linear_mode(settings) && shift(modifiers) ? StepKind::page_back : StepKind::back,
             modifiers);
}

void request_next_image(Viewer& viewer, const SettingsBlock& settings, std::uint32_t modifiers) {
  queue_step(viewer, linear_mode(settings),
             shift(modifiers) ? StepKind::next_page : StepKind::forward, modifiers);
}

void request_rebuild(Viewer& viewer) {
  {
    // The steps waiting were meant for the list it replaces.
    std::lock_guard<std::mutex> hold(viewer.worker.step_lock);
    viewer.worker.steps.clear();
  }
  viewer.worker.rebuild_wanted = 1;
  viewer.worker.request_kind = RequestKind::rebuild;
  // Served with the request that is waiting, or right after it.
  raise_request(viewer);
}

void request_recolour(Viewer& viewer) {
  viewer.image.colour_serial.fetch_add(1);
  // The rebuild stays on the shown picture and, as its colours are stale,
  // decodes it again; what was prepared ahead goes with the old list.
  request_rebuild(viewer);
}

bool open_image_file(Viewer& viewer, SettingsBlock& settings, const char* path) {
  const std::uint32_t length = length_of_text(path);
  // A root ("/", "C:\\") and shorter name no file; a longer path than a slot
  // holds is never cut.
  if (length <= shortest_root() || length >= kPathBytes) return false;
  char folder[kPathBytes];
  copy_text(path, folder);
  strip_to_folder(folder);
  {
    std::lock_guard<std::mutex> hold(viewer.texts);
    copy_text(path, settings.image_path);
    remember_folder(settings, settings.view_folder);
    copy_text(folder, settings.view_folder);
  }
  // The worker decodes it, once, as the rebuild stays on image_path; the
  // window answers meanwhile.
  request_rebuild(viewer);
  return true;
}
