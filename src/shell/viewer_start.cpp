// The viewer's start: the window, the worker and the message loop after the
// command line.
#include <cstdio>
#include <cstdlib>

#include <string>

#include "backup/backup.h"
#include "navigation/navigation.h"
#include "ports/console.h"
#include "ports/desktop.h"
#include "shell/shell.h"
#include "shell/startup.h"
#include "state/app_state.h"

namespace {

int run_viewer(AppState& state, int argc, char** argv, bool settings_loaded) {
  char reason[256];
  if (!desktop_open(argc, argv, reason)) {
    console_error("tessmira: ");
    console_error(reason);
    console_error("\n");
    return kExitFailed;
  }
  // Window opacity is always available here.
  state.window.translucency_available = 1;
  std::int32_t screen_width = 0;
  std::int32_t screen_height = 0;
  desktop_screen_size(&screen_width, &screen_height);
  std::int32_t width = 0;
  std::int32_t height = 0;
  initial_window_size(screen_width, screen_height, &width, &height);
  state.viewer.window = desktop_create_window(state, (screen_width - width) / 2,
                                              (screen_height - height) / 2, width, height);
  window_created(state);
  // The first picture is decoded before the window has its size: at the
  // size it will be shown, not in full.
  planned_client_size(state, settings_loaded, screen_width, screen_height, &width, &height);
  state.viewer.image.fit_width = width;
  state.viewer.image.fit_height = height;
  start_viewer_thread(state);
  // A missing path named with nothing remembered: its title stays until the
  // user chooses something to view.
  if (state.viewer.image.title_kind.load() != TitleKind::missing) request_rebuild(state.viewer);
  desktop_show_window(state.viewer.window,
                      settings_loaded ? &state.settings.window_placement : nullptr,
                      state.settings.full_screen);
  // Start-up said it on the terminal too, which a desktop start never shows.
  if (state.window.settings_set_aside) {
    desktop_show_error(state.viewer.window, "Tessmira",
                       "The settings file was damaged. It was renamed dTesmi.dat.damaged in the "
                       "data folder, and the default settings are used.");
  }
  tell_failed_schedules(state);
  desktop_run();
  // The worker is never joined: it may still be waiting for a load when a
  // forced close ends the loop. End here, without running the destructors of
  // what it may still be using.
  // Nothing is left to report a failed flush to.
  (void)std::fflush(nullptr);
  std::_Exit(kExitDone);
}

}  // namespace

void tell_failed_schedules(AppState& state) {
  std::string runs = take_failed_runs(state.data);
  if (runs.empty()) return;
  for (char& c : runs) {
    if (c == '\t') c = ' ';
  }
  desktop_show_error(state.viewer.window, "Tessmira",
                     ("A backup started by the scheduler failed since Tessmira last ran:\n\n" +
                      runs + "\ntessmira --log shows every run.")
                         .c_str());
}

int program_entry(int argc, char** argv) {
  // The state lives as long as the process; the worker thread is never joined.
  static AppState state;
  bool settings_loaded = false;
  const int status = start_program(state, argc, argv, &settings_loaded);
  if (status != kViewerWanted) return status;
  return run_viewer(state, argc, argv, settings_loaded);
}
