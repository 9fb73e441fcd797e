// The backup's runs on the whole record, as the switches call them.
#pragma once

#include "backup/backup.h"
#include "state/app_state.h"

namespace test_support {

// A run that ends itself at a change to the disk, in a process of its own:
// its exit status, and on Windows where the child finds its place and stop.
inline constexpr int kStopped = 70;
inline constexpr char kPlaceVariable[] = "TESSMIRA_TEST_PLACE";
inline constexpr char kStopVariable[] = "TESSMIRA_TEST_STOP_AT";

inline bool backup_run(AppState& state, const char* folder, BackupReport* report,
                       const BackupOptions& options, const Progress& progress = {}) {
  return backup_folder(backup_settings_of(state.settings), state.data, state.catalog, state.scans,
                       folder, options, progress, report);
}
inline bool backup_run(AppState& state, const char* folder, BackupReport* report,
                       BackupMessage message, const Progress& progress = {}) {
  return backup_run(state, folder, report, BackupOptions{false, message, {}}, progress);
}
inline bool rotate_run(AppState& state, char failed[4], BackupMessage message) {
  return rotate_backups(state.settings, state.data, BackupOptions{false, message, {}}, failed);
}
inline bool restore_run(AppState& state, const RestoreRequest& request, RestoreReport* report,
                        BackupMessage message) {
  return restore_files(backup_settings_of(state.settings), state.data, request, report, {},
                       message);
}
inline bool verify_run(AppState& state, const char* folder, VerifyReport* report,
                       BackupMessage message) {
  return verify_folder(backup_settings_of(state.settings), state.data, state.catalog, folder,
                       report, {}, message);
}

}  // namespace test_support
