// Saving with the window's placement: apart from the settings file itself, so
// that a program without a window (the backup switches) links no desktop.
#include "ports/desktop.h"
#include "settings/settings.h"

bool save_settings(AppState& state) {
  WindowPlacement placement;
  if (state.viewer.window != nullptr && desktop_read_placement(state.viewer.window, &placement)) {
    state.settings.window_placement = placement;
  }
  const bool extra = write_extra_settings(state);
  return write_settings_file(state) && extra;
}
