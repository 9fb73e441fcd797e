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
  std::uint32_t skipped;              // links to folders, dangling links, FIFOs and the like
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
// or write time differ from those recorded at that copy. True when every
// file was backed up, false otherwise (problem says why when nothing could
// be done); entries that are neither files nor folders are named and make
// it false too. The backup root is never entered, whether it exists or not.
bool backup_folder(AppState& state, const char* folder, BackupReport* report,
                   BackupProgress progress, BackupMessage message);
// Where a backup of folder (absolute, normalised) goes: backup_root + "F0/" +
// its last component ("root" for a root: "/", "C:\\") + "/", with the rules'
// separator. True, or false when it would not fit.
bool backup_target(const AppState& state, const char* folder, char target[kPathBytes],
                   const PathRules& rules = path_rules());
// The same for a copy of the given name.
bool backup_target_named(const AppState& state, const char* name, char target[kPathBytes],
                         const PathRules& rules = path_rules());
// The journal of a rotation in progress, in the data folder.
inline constexpr char kRotationJournal[] = "TesmiRot.txt";
// The names of the backed-up folders' copies, in the data folder: one line
// "name<TAB>folder" for each folder backed up.
inline constexpr char kBackupNames[] = "TesmiDir.txt";
// One "/r" run: F0 into F1, and one older generation on at a halving rate, up
// to F9 into FX every 256th run; then the settings are saved with the new
// counter. Each step is recorded in the journal before it is taken, so a run
// stopped at any point (killed, the power gone) is finished exactly by the
// next run, which then makes no rotation of its own. True, or false with
// the generation whose move failed in failed_generation ("" for any other
// failure, each told to message, as is each entry that could not be moved).
bool rotate_backups(AppState& state, char failed_generation[4], BackupMessage message);
// Whether a stopped rotation waits to be finished.
bool rotation_pending(const AppState& state);
// Moves every entry of generation from into generation to (names such as
// "F1"), merging folders and replacing files. True, or false.
bool move_generation(AppState& state, const char* from, const char* to, BackupMessage message);
