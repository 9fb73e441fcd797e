// The data backup run from the command line: "/b=" copies a folder tree's new
// and changed files into generation F0 under the backup root, recording backup
// times in the catalog; "/r" moves the generations on.
#pragma once

#include <cstdint>

#include "state/app_state.h"

// What a backup run did, for its report.
struct BackupReport {
  std::uint32_t examined;  // files collected and looked at
  std::uint32_t copied;
  std::uint32_t failed;  // files that were to be copied and were not
  char problem[160];     // why nothing could be done; empty otherwise
};
// Called now and then while a backup runs, and once at its end.
using BackupProgress = void (*)(const BackupReport& report);

// One "/b=" run: copies every file of the folder tree that is new or changed
// since its last backup into backup_root + "F0/" + the folder's last
// component ("root" for "/"), recording backup times in the catalog. Returns
// 0 when every file to be copied was copied, 1 otherwise (problem says why
// when nothing could be done).
std::int32_t backup_folder(AppState& state, const char* folder, BackupReport* report,
                           BackupProgress progress);
// Where a backup of folder (absolute, normalised) goes: backup_root + "F0/" +
// its last component ("root" for "/") + "/". 1, or 0 when it would not fit.
std::int32_t backup_target(const AppState& state, const char* folder, char target[kPathBytes]);
// One "/r" run: F0 into F1, and one older generation on at a halving rate, up
// to F9 into FX every 256th run. Returns 0, or 1 with the generation whose
// move failed in failed_generation.
std::int32_t rotate_backups(AppState& state, char failed_generation[4]);
// Moves every entry of generation from into generation to (names such as
// "F1"), merging folders and replacing files. 0, or -1.
std::int32_t move_generation(AppState& state, const char* from, const char* to);
// Creates every missing folder above path; never the root.
void create_parent_folders(const char* path);
