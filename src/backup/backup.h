// The data backup run from the command line: "/b=" copies a folder tree's new
// and changed files into generation F0 under the backup root, recording in
// the catalog when and what was copied; "/r" moves the generations on;
// "--versions=" lists the copies of a file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "state/app_state.h"

// What a backup run did, for its report.
struct BackupReport {
  std::uint32_t examined;  // files looked at
  std::uint32_t copied;
  std::uint64_t bytes_copied;
  std::uint32_t failed;               // files and folders that could not be backed up
  std::uint32_t skipped;              // links to folders, dangling links, FIFOs and the like
  std::uint32_t folders_not_entered;  // subfolders left out in Linear and Random modes
  std::uint32_t changed;              // files that changed while they were copied, each time
  std::uint32_t left_out;             // files and folders an exclude or a cache tag left out
  bool stopped;                       // an interrupt ended the run between two files
  std::string problem;                // why nothing could be done; empty otherwise
};
// How far a long run has got: files and bytes done, and in all (0 when not
// known).
struct RunProgress {
  std::uint64_t files_done;
  std::uint64_t files_total;
  std::uint64_t bytes_done;
  std::uint64_t bytes_total;
};
// Told after each file of a long run and once at its end; nothing when told
// is null.
struct Progress {
  void (*told)(void* context, const RunProgress& done) = nullptr;
  void* context = nullptr;
  void tell(const RunProgress& done) const {
    if (told != nullptr) told(context, done);
  }
};
// Told each failure and notice as one line, such as
// "cannot read /home/a/Photos/x: Permission denied": a plain function, or
// one with a context of its own; nothing for none.
struct BackupMessage {
  void (*plain)(const char* line) = nullptr;
  void (*told)(void* context, const char* line) = nullptr;
  void* context = nullptr;
  BackupMessage() = default;
  BackupMessage(std::nullptr_t) {}
  BackupMessage(void (*line)(const char*)) : plain(line) {}
  BackupMessage(void (*line)(void*, const char*), void* with) : told(line), context(with) {}
  void operator()(const char* line) const {
    if (plain != nullptr) plain(line);
    if (told != nullptr) told(context, line);
  }
};
// How a backup or rotation runs: for real, or as a dry run that writes
// nothing anywhere and tells planned what it would do; its notices to message.
struct BackupOptions {
  bool dry_run = false;
  BackupMessage message;
  BackupMessage planned;
  // Patterns to leave out besides the exclude file's, and whether folders
  // tagged as caches are left out.
  std::vector<std::string> excludes = {};
  bool cache_tags = true;
  // How many copies are made durable together, with one flush.
  std::uint32_t batch_files = 1000;
};

// What a backup leaves out. The exclude file in the data folder holds a
// pattern a line (# starts a comment) for every run; it is written with
// kDefaultExcludes the first time a backup runs without it, and never again.
inline constexpr char kExcludesFile[] = "TesmiExc.txt";
extern const char kDefaultExcludes[];
// Whether pattern leaves out the entry whose path below the folder backed up
// is below. A pattern of one name matches that name at any depth; one with a
// separator (or a leading one) is matched from the folder backed up. "*" is
// any part of one name, "**" any run of folders ("**/" none too), "?" one
// character; letter case counts as the file system counts it.
bool exclude_matches(const std::string& pattern, const std::string& below,
                     const PathRules& rules = path_rules());
// The run log in the data folder: a line for each /b=, /r, --restore and
// --verify that ran (dry runs write nothing), tab-separated: its local start
// time, the command, files, bytes, seconds, exit status and its first
// problem. Trimmed to the last kRunLogRuns lines by the runs that hold the
// instance lock alone, so that two runs sharing it never race to trim.
inline constexpr char kRunLogFile[] = "TesmiLog.txt";
inline constexpr std::uint32_t kRunLogRuns = 1000;
struct RunLogEntry {
  std::string command;
  std::uint64_t files = 0;
  std::uint64_t bytes = 0;
  std::uint32_t milliseconds = 0;
  int status = 0;
  std::string problem;  // the first one told, or ""
};
// The entry's line, with its newline; tabs and line breaks inside a text
// become blanks.
std::string run_log_line(const RunLogEntry& entry, const char* local_time);
// Appends the entry's line (at the current local time), first trimming the
// log to its last kRunLogRuns - 1 lines when trim is set. False when the log
// cannot be written.
bool append_run_log(const DataFolder& data, const RunLogEntry& entry, bool trim);
// The log's text ("" when no run was logged); false when it cannot be read.
bool read_run_log(const DataFolder& data, std::string* text);
// Where a run the scheduler started and that failed leaves its log line, for
// the viewer's next start to tell once.
inline constexpr char kFailedRunsFile[] = "TesmiFail.txt";
// Appends the entry's line (at the current local time) to the failed runs'
// file; false when it cannot be written.
bool note_failed_run(const DataFolder& data, const RunLogEntry& entry);
// The failed runs' lines noted since the last call, the file removed: ""
// when there are none.
std::string take_failed_runs(const DataFolder& data);

// A folder holding a CACHEDIR.TAG that starts with the standard signature
// says it is a cache, to be left out of backups.
inline constexpr char kCacheTagName[] = "CACHEDIR.TAG";
bool cache_tagged(const char* folder);
// The exclude file's patterns added to *patterns (the default ones when
// there is no file, which is written when write_default is set); false with
// problem set when it cannot be read or written.
bool read_excludes(const DataFolder& data, bool write_default, std::vector<std::string>* patterns,
                   std::string* problem);
// What the backup takes of the settings: the root the generations lie
// under, and the selection mode (its own files only in Linear and Random).
struct BackupSettings {
  std::string root;
  SelectMode mode = SelectMode::deep_linear;
};
inline BackupSettings backup_settings_of(const SettingsBlock& settings) {
  return BackupSettings{settings.backup_root, select_mode_of(settings)};
}

// One "/b=" run: copies every file of the folder's tree (only its own files
// in Linear and Random modes) that is new or changed since its last copy into
// backup_root + "F0/" + the folder's last component ("root" for "/"). A file
// is changed when written after its last copy's run began, or when its size
// or write time differ from those recorded at that copy. True when every
// file was backed up, false otherwise (problem says why when nothing could
// be done); symbolic links are kept as links with their target text, never
// followed; entries that are neither files, folders nor links are named and
// make it false too, as do links where none can be made (Windows). The
// backup root is never entered, whether it exists or not. An interrupt
// (interrupted()) stops the run between two files. Given progress, the
// tree is counted first so that the run can tell how far it has got.
// A dry run writes nothing anywhere (backup root, catalog, records of
// names); each file that would be copied is told to planned as "would copy
// PATH" and counted as copied.
bool backup_folder(const BackupSettings& settings, const DataFolder& data, Catalog& catalog,
                   Scans& scans, const char* folder, const BackupOptions& options,
                   const Progress& progress, BackupReport* report);
// Where a backup of folder (absolute, normalised) goes: backup_root + "F0/" +
// its last component ("root" for a root: "/", "C:\\") + "/", with the rules'
// separator. True, or false when it would not fit.
bool backup_target(const BackupSettings& settings, const char* folder, char target[kPathBytes],
                   const PathRules& rules = path_rules());
// The same for a copy of the given name.
bool backup_target_named(const BackupSettings& settings, const char* name, char target[kPathBytes],
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
// An interrupt (interrupted()) stops it between two steps, which the next run
// then finishes. A dry run tells planned each step the rotation would take,
// one line each, and writes nothing.
bool rotate_backups(SettingsBlock& settings, const DataFolder& data, const BackupOptions& options,
                    char failed_generation[4]);
// Whether a stopped rotation waits to be finished.
bool rotation_pending(const DataFolder& data);
// Moves every entry of generation from into generation to (names such as
// "F1"), merging folders and replacing files. True, or false.
bool move_generation(const BackupSettings& settings, const DataFolder& data, const char* from,
                     const char* to, BackupMessage message);

// One copy of a file in a generation.
struct FileVersion {
  std::string generation;  // "F0".."F9", "FX"
  std::uint32_t rank;      // its place in that order: 0 for F0, 10 for FX
  std::uint64_t size;
  std::uint64_t write_time;  // 100-ns units since 1601-01-01 UTC
  std::string copy;          // the copy's path
  std::string original;      // the path of the file it is a copy of
  bool link;                 // a symbolic link kept as one (size: its text's length)
};
// Every copy of the file at path (full, or relative to the current folder,
// as "/b=" takes its folder), or of every file below the folder at path,
// whether or not it still exists: grouped by file in name order, each
// file's copies newest generation first. Nothing is written. False with
// problem set when the generations cannot be searched.
bool list_versions(const BackupSettings& settings, const DataFolder& data, const char* path,
                   std::vector<FileVersion>* versions, std::string* problem);
// A copy as one line: generation, size, local write time
// ("YYYY-MM-DD HH:MM:SS"), copy's path, tab-separated.
std::string version_line(const FileVersion& version);
// The place of a generation's name ("F0".."F9", "FX", any letter case) in
// the generations' order; false for any other name.
bool generation_rank(const char* name, std::uint32_t* rank);

// What to restore: the file or folder at path as it was backed up (spelled
// as for list_versions), as it stood in generation from (its rank) or the
// nearest older one holding each file; at destination instead of the
// original path when one is given (the file, or the folder's tree, is then
// written as destination); an existing file that differs from its copy is
// replaced only when overwrite is set.
struct RestoreRequest {
  const char* path;
  std::uint32_t from;
  const char* destination;  // null: the original paths
  bool overwrite;
};
struct RestoreReport {
  std::uint32_t restored;  // files written
  std::uint64_t bytes_restored;
  std::uint32_t identical;  // files already there with the copy's bytes
  std::uint32_t refused;    // differing files left as they were
  std::uint32_t failed;     // files that could not be written
  bool stopped;             // an interrupt ended the run between two files
  std::string problem;      // why nothing could be done, or ""
};
// Copies the chosen copies back, each written whole under a temporary name
// with its write time and only then renamed into place, through folders
// opened without following links; nothing is written inside the backup
// root. Each file not restored is told to message. An interrupt
// (interrupted()) stops it between two files. True when every file was
// restored or already there.
bool restore_files(const BackupSettings& settings, const DataFolder& data,
                   const RestoreRequest& request, RestoreReport* report, const Progress& progress,
                   BackupMessage message);

struct VerifyReport {
  std::uint32_t checked;     // files of the tree looked at
  std::uint64_t bytes_read;  // of their copies
  std::uint32_t missing;     // of those, files with no copy
  std::uint32_t problems;    // every problem told, the missing files among them
  std::uint32_t left_out;    // files and folders the backups leave out, not checked
  bool stopped;              // an interrupt ended the run between two files
  std::string problem;       // why nothing could be checked, or ""
};
// Checks every file of folder's tree (its own files only in Linear and Random
// modes, as "/b=" copies them; what the exclude file and the cache tags leave
// out of every backup is left out here too): its newest copy exists and reads back whole,
// is the copy the catalog recorded (size and write time), and, where the
// file still has that size and write time, holds the same bytes. Each
// problem is told to message, one line each. Nothing is written. True when
// there was none.
bool verify_folder(const BackupSettings& settings, const DataFolder& data, Catalog& catalog,
                   const char* folder, VerifyReport* report, const Progress& progress,
                   BackupMessage message);
