// The data backup run from the command line: "/b=" copies a folder tree's new
// and changed files into generation F0 under the backup root, recording in
// the catalog when and what was copied; "/r" moves the generations on.
#pragma once

#include <cstdint>

#include "state/app_state.h"

// What a backup run did, for its report.
struct BackupReport {
  std::uint32_t examined;  // files looked at
  std::uint32_t copied;
  std::uint32_t failed;               // files and folders that could not be backed up
  std::uint32_t folders_not_entered;  // subfolders left out in Linear and Random modes
  char problem[160];                  // why nothing could be done; empty otherwise
};
// Called now and then while a backup runs, and once at its end.
using BackupProgress = void (*)(const BackupReport& report);
// Told each failure and notice as one line, such as
// "cannot read /home/a/Photos/x: Permission denied".
using BackupMessage = void (*)(const char* line);

// Catalog fields of a record besides its path: the size and write time of
// the file when it was last copied, and when that run started.
constexpr std::uint32_t kCatalogCopiedSize = 2;
constexpr std::uint32_t kCatalogWrittenHigh = 3;
constexpr std::uint32_t kCatalogWrittenLow = 4;

// One "/b=" run: copies every file of the folder's tree (only its own files
// in Linear and Random modes) that is new or changed since its last copy into
// backup_root + "F0/" + the folder's last component ("root" for "/"). A file
// is changed when written after its last copy's run began, or when its size
// or write time differ from those recorded at that copy. Returns 0 when
// every file was backed up, 1 otherwise (problem says why when nothing could
// be done).
std::int32_t backup_folder(AppState& state, const char* folder, BackupReport* report,
                           BackupProgress progress, BackupMessage message);
// Where a backup of folder (absolute, normalised) goes: backup_root + "F0/" +
// its last component ("root" for a root: "/", "C:\\") + "/", with the rules'
// separator. 1, or 0 when it would not fit.
std::int32_t backup_target(const AppState& state, const char* folder, char target[kPathBytes],
                           const PathRules& rules = path_rules());
// One "/r" run: F0 into F1, and one older generation on at a halving rate, up
// to F9 into FX every 256th run. Returns 0, or 1 with the generation whose
// move failed in failed_generation ("" when the backup root is not set);
// each entry that could not be moved is told to message.
std::int32_t rotate_backups(AppState& state, char failed_generation[4], BackupMessage message);
// Moves every entry of generation from into generation to (names such as
// "F1"), merging folders and replacing files. 0, or -1.
std::int32_t move_generation(AppState& state, const char* from, const char* to,
                             BackupMessage message);
