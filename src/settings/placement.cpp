// Saving with the window's placement: apart from the settings file itself, so
// that a program without a window (the backup switches) links no desktop.
#include "ports/desktop.h"
#include "settings/settings.h"

bool save_settings(SettingsBlock& settings, const ExtraSettings& extra, const DataFolder& data,
                   std::mutex& texts, PlatformWindow* window) {
  WindowPlacement placement;
  if (window != nullptr && desktop_read_placement(window, &placement)) {
    settings.window_placement = placement;
  }
  const bool extra_written = write_extra_settings(extra, data);
  return write_settings_file(settings, data, &texts) && extra_written;
}
