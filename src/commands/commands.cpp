#include "commands/commands.h"

#include "navigation/navigation.h"
#include "platform/desktop.h"
#include "settings/settings.h"

void set_translucency(AppState& state, std::uint32_t alpha) {
  desktop_set_opacity(state.main_window, alpha);
}

void set_topmost(AppState& state, std::uint32_t flag) {
  desktop_set_topmost(state.main_window, flag == 1 ? 1 : 0);
}

void set_advance_ticks(AppState& state) {
  // One second less than the menu says, counted in 500 ms ticks.
  static const std::uint32_t ticks[] = {0, 8, 18, 38, 58, 88, 118};
  const std::uint32_t setting = read_shared(state.settings.advance_setting);
  state.advance_ticks = setting < 7 ? ticks[setting] : 2 * setting;
}

void handle_command(AppState& state, std::int32_t id) {
  switch (id) {
    case kCommandExit:
      // The worker stops within a tick and posts 2071, which saves and ends.
      if (state.stop_counter.load() < kStopRequested) state.stop_counter = kStopRequested;
      wake_worker(state);
      break;
    case kCommandSaveAndDestroy:
      save_settings(state);
      desktop_destroy_window(state.main_window);
      break;
    default:
      break;
  }
}
