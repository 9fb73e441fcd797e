#include "backup/backup.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "backup/backup_parts.h"
#include "backup/copy_batch.h"
#include "catalog/catalog.h"
#include "catalog/finder.h"
#include "ports/backup_target.h"
#include "ports/console.h"
#include "ports/files.h"
#include "settings/settings.h"
#include "text/text.h"

using namespace backup_parts;

namespace {

bool give_up(BackupReport* report, const char* problem) {
  report->problem = problem;
  return false;
}

// One folder of the copy's side: level 0 is the backup root, 1 is "F0", 2 the
// backed-up folder's name, and each further level a subfolder. A level is
// opened only when first needed, so a run with nothing to copy creates
// nothing.
struct Level {
  std::string name;
  std::string path;  // for messages
  TargetFolder folder = -1;
  bool missing = false;  // not there (yet)
  bool refused = false;  // cannot be used: said once, its files fail
};

struct Run {
  const BackupSettings& settings;
  const DataFolder& data;
  Catalog& catalog;
  BackupReport* report;
  const Progress& progress;
  BackupMessage message;
  std::uint64_t now;
  bool deep;
  // The backup root, never backed up into itself: its path, and its
  // identity once it exists (taken again when the run creates it).
  std::string root_path;
  FolderIdentity skip;
  bool skip_known;
  std::vector<Level> levels;
  // A dry run writes nothing: each copy it would make is told to planned.
  bool dry_run;
  BackupMessage planned;
  RunProgress done;
  // The root's folder of temporaries, opened with the root.
  TargetFolder scratch = -1;
  // What is left out, matched against the paths below the folder backed
  // up, which start after start_length characters.
  std::vector<ExcludeRule> excludes;
  bool cache_tags = true;
  std::size_t start_length = 0;
  // The copies not yet durable, and how many a batch holds.
  CopyBatch batch;
  std::uint32_t batch_files = 0;
};

void know_root(Run& run) {
  run.skip_known = folder_identity(run.settings.root.c_str(), &run.skip);
}

bool is_backup_root(const Run& run, const char* folder, const FolderIdentity& identity) {
  return same_path(folder[0] == '\0' ? "/" : folder, run.root_path.c_str()) ||
         (run.skip_known && identity.device == run.skip.device && identity.inode == run.skip.inode);
}

void fail(Run& run, const char* doing, const std::string& path, std::int32_t error) {
  ++run.report->failed;
  tell(run.message, std::string("cannot ") + doing + " " + path + ": " + reason_of(error));
}

// Opens level k, making it (and the levels above it) when create is set.
TargetFolder reach(Run& run, std::size_t k, bool create) {
  Level& level = run.levels[k];
  if (level.folder >= 0 || level.refused || (level.missing && !create)) return level.folder;
  std::int32_t error = 0;
  if (k == 0) {
    level.folder = target_open_root(run.settings.root.c_str(), create ? 1 : 0, &error);
    // Made just now, perhaps inside the folder being walked.
    if (level.folder >= 0 && !run.skip_known) know_root(run);
    std::int32_t ignored = 0;
    if (level.folder >= 0)
      run.scratch = target_open_folder(level.folder, kScratchName, create ? 1 : 0, &ignored);
  } else {
    const TargetFolder parent = reach(run, k - 1, create);
    if (parent < 0) {
      run.levels[k].missing = run.levels[k - 1].missing;
      run.levels[k].refused = run.levels[k - 1].refused;
      return -1;
    }
    level.folder = target_open_folder(parent, level.name.c_str(), create ? 1 : 0, &error);
  }
  Level& now = run.levels[k];
  if (now.folder >= 0) {
    now.missing = false;
  } else if (error == kErrorMissing && !create) {
    now.missing = true;
  } else {
    now.refused = true;
    tell(run.message, "cannot write " + now.path + ": " + reason_of(error));
  }
  return now.folder;
}

void leave(Run& run) {
  batch_leave(run.batch, run.levels.back().folder);
  run.levels.pop_back();
}

std::uint32_t number_at(ListFile& catalog, std::int32_t slot, std::uint32_t field) {
  list_get_field(catalog, static_cast<std::uint32_t>(slot), field);
  return static_cast<std::uint32_t>(catalog.number_value);
}

void put_number(ListFile& catalog, std::int32_t slot, std::uint32_t field, std::uint32_t value) {
  catalog.number_value = static_cast<std::int32_t>(value);
  list_put_field(catalog, static_cast<std::uint32_t>(slot), field);
}

// A time kept in two fields: its high and its low 32 bits.
std::uint64_t time_at(ListFile& catalog, std::int32_t slot, CatalogField high, CatalogField low) {
  return std::uint64_t{number_at(catalog, slot, high)} << 32 | number_at(catalog, slot, low);
}

void put_time(ListFile& catalog, std::int32_t slot, CatalogField high, CatalogField low,
              std::uint64_t time) {
  put_number(catalog, slot, high, static_cast<std::uint32_t>(time >> 32));
  put_number(catalog, slot, low, static_cast<std::uint32_t>(time));
}

// Sizes are kept as their low 32 bits, as the catalog's number fields hold.
std::uint32_t low_bits(std::uint64_t size) {
  return static_cast<std::uint32_t>(size);
}

// Whether the file src is to be copied, its record found or made in *slot;
// false too when that could not be told (counted as failed, and said).
bool needs_copy(Run& run, FolderListing* listing, const char* src, const char* name, bool link,
                std::int32_t* slot) {
  ListFile& catalog = run.catalog.list;
  // A dry run may have no catalog yet: every file is new then.
  if (catalog.base == nullptr) return true;
  list_set_search_key(catalog, src);
  *slot = catalog_find_path(catalog);
  if (*slot < 0 && run.dry_run) return true;
  if (*slot < 0) {
    // New: copied whatever its facts, which the copy records.
    *slot = list_add_record(catalog);
    if (*slot < 0) {
      ++run.report->failed;
      tell(run.message, std::string("cannot record ") + src + " in the catalog");
      return false;
    }
    list_set_text(catalog, src);
    list_put_field(catalog, static_cast<std::uint32_t>(*slot), kCatalogPath);
    run.catalog.answers_changed = true;
    return true;
  }
  // Met here, so not gone, whatever a build said of it before.
  if (!run.dry_run) catalog_set_gone(run.catalog, static_cast<std::uint32_t>(*slot), false);
  std::uint64_t size = 0;
  std::uint64_t written = 0;
  std::int32_t error = 0;
  const bool known = link ? listing_link_facts(listing, name, &size, &written, &error)
                          : listing_file_facts(listing, name, &size, &written, &error);
  if (!known) {
    fail(run, "read", src, error);
    return false;
  }
  std::uint64_t last = time_at(catalog, *slot, kCatalogBackupHigh, kCatalogBackupLow);
  // A backup time in the future (the clock was set back) counts as none.
  if ((last >> 32) > (run.now >> 32)) last = 0;
  const std::uint64_t recorded = time_at(catalog, *slot, kCatalogWrittenHigh, kCatalogWrittenLow);
  if (recorded == 0) {
    // A record from before write times were kept: the time rule alone, and
    // from now on the full one.
    if (run.dry_run) return written > last;
    put_time(catalog, *slot, kCatalogWrittenHigh, kCatalogWrittenLow, written);
    put_number(catalog, *slot, kCatalogSize, low_bits(size));
    return written > last;
  }
  // A file replaced by an older one (restored, unpacked) has another write
  // time, later or not.
  return written > last || written != recorded ||
         low_bits(size) != number_at(catalog, *slot, kCatalogSize);
}

// How often a file that changes while it is copied is copied again.
constexpr std::uint32_t kCopyTries = 4;

// What a copy asks of the run: where its temporaries go, and whether its
// source held still.
struct Copying {
  Run& run;
  const char* source;
  std::string folder;  // the copy's folder, for the record of temporaries
  FileStamp before;
};

void record_beside(void* context, const char* name) {
  const auto* copying = static_cast<const Copying*>(context);
  record_temporary(copying->run.data, copying->folder + path_rules().separator + name);
}

bool held_still(void* context) {
  const auto* copying = static_cast<const Copying*>(context);
  FileStamp after;
  return file_stamp(copying->source, &after) && after == copying->before;
}

// Copies src whole as it stood: a copy during which the file changed (its
// size, times or identity differ after it from before it) is dropped and made
// again, kCopyTries times at most, then kCopyChanged.
std::int32_t copy_held_still(Run& run, const char* src, TargetFolder folder, const char* name,
                             bool link, CopiedFile* copied, StagedCopy* staged,
                             std::int32_t* error) {
  Copying copying{run, src, run.levels.back().path, {}};
  const CopyPlace place{run.scratch, record_beside, link ? nullptr : held_still, &copying, staged};
  std::int32_t result = kCopyChanged;
  for (std::uint32_t tried = 0; tried < kCopyTries && result == kCopyChanged; ++tried) {
    if (link) return target_copy_link(src, folder, name, place, copied, error);
    if (!file_stamp(src, &copying.before)) copying.before = FileStamp{};
    result = target_copy_file(src, folder, name, place, copied, error);
  }
  return result;
}

// A copy whose name is on the disk: now it counts, and the catalog says so.
void record_copy(void* context, const BatchedCopy& copy) {
  Run& run = *static_cast<Run*>(context);
  ListFile& catalog = run.catalog.list;
  ++run.report->copied;
  run.report->bytes_copied += copy.copied.size;
  put_time(catalog, copy.slot, kCatalogBackupHigh, kCatalogBackupLow, run.now);
  put_time(catalog, copy.slot, kCatalogWrittenHigh, kCatalogWrittenLow, copy.copied.write_time);
  put_number(catalog, copy.slot, kCatalogSize, low_bits(copy.copied.size));
}

void copy_failed(void* context, const BatchedCopy& copy, const char* doing, std::int32_t error) {
  fail(*static_cast<Run*>(context), doing, copy.destination, error);
}

BatchEnds batch_ends(Run& run) {
  return BatchEnds{record_copy, copy_failed, &run};
}

// A file, or a link kept as a link (its target text, never followed).
void back_up_file(Run& run, FolderListing* listing, const char* src, const char* name, bool link) {
  ++run.report->examined;
  std::int32_t slot = -1;
  if (run.dry_run) {
    if (needs_copy(run, listing, src, name, link, &slot)) {
      ++run.report->copied;
      tell(run.planned, std::string("would copy ") + src);
    }
  } else if (needs_copy(run, listing, src, name, link, &slot)) {
    const std::size_t k = run.levels.size() - 1;
    const std::string destination = run.levels[k].path + "/" + name;
    std::int32_t error = 0;
    CopiedFile copied{};
    StagedCopy staged;
    TargetFolder folder = -1;
    if (destination.size() >= kPathBytes) {
      fail(run, "write", destination, kErrorPathTooLong);
    } else if ((folder = reach(run, k, true)) < 0) {
      ++run.report->failed;  // the folder's refusal was said once
    } else if (const std::int32_t result =
                   copy_held_still(run, src, folder, name, link, &copied, &staged, &error);
               result == kCopyNotSupported) {
      ++run.report->skipped;
      tell(run.message,
           std::string("skipped ") + src + ": a link, not copied (links cannot be made here)");
    } else if (result == kCopyChanged) {
      ++run.report->changed;
      tell(run.message, std::string("changed while it was copied: ") + src + " (tried " +
                            std::to_string(kCopyTries) +
                            " times; no copy of it was made, the next run tries again)");
    } else if (result != kCopyDone) {
      fail(run, result == kCopyReadFailed ? "read" : "write",
           result == kCopyReadFailed ? std::string(src) : destination, error);
    } else {
      // Recorded only once its name is durable, so a run killed or cut
      // before that copies the file again next time.
      run.done.bytes_done += copied.size;
      batch_add(run.batch, staged, BatchedCopy{slot, copied, destination});
      if (batch_full(run.batch, run.batch_files)) batch_flush(run.batch, batch_ends(run));
    }
  }
  ++run.done.files_done;
  run.progress.tell(run.done);
}

// What the walk meets but does not copy (neither file, folder nor link):
// named, and counted against the run.
void skip(Run& run, const char* path) {
  ++run.report->skipped;
  tell(run.message, std::string("skipped ") + path + ": neither a file nor a folder");
}

bool leaves_out(const Run& run, const char* path, bool folder) {
  return left_out(run.excludes, run.cache_tags, path, run.start_length, folder);
}

// The entries the walk looks at: files, links, and folders it enters.
bool looked_at(const Run& run, std::uint32_t kind) {
  return kind == kFolderEntryFile || is_link_kind(kind) || (run.deep && kind == kFolderEntryFolder);
}

// The files and bytes the walk will examine, for the progress line: the
// same folders, read once more.
void count_tree(Run& run, const char* source) {
  FolderIdentity identity{};
  std::int32_t error = 0;
  FolderListing* listing = listing_open(source, &identity, &error);
  if (listing == nullptr) return;
  if (is_backup_root(run, source, identity)) {
    listing_close(listing);
    return;
  }
  std::vector<std::string> folders;
  FolderEntry entry;
  while (listing_next(listing, &entry, &error) == ListingStep::entry) {
    std::uint64_t size = 0;
    std::uint64_t written = 0;
    char path[kPathBytes];
    if (!join_path(source, entry.name.c_str(), path) ||
        (looked_at(run, entry.kind) && leaves_out(run, path, entry.kind == kFolderEntryFolder))) {
      continue;
    }
    if (entry.kind == kFolderEntryFolder && run.deep) {
      folders.emplace_back(path);
    } else if (entry.kind == kFolderEntryFile || is_link_kind(entry.kind)) {
      ++run.done.files_total;
      if (entry.kind == kFolderEntryFile &&
          listing_file_facts(listing, entry.name.c_str(), &size, &written, &error)) {
        run.done.bytes_total += size;
      }
    }
  }
  listing_close(listing);
  for (const std::string& folder : folders) count_tree(run, folder.c_str());
}

void walk(Run& run, const char* source) {
  FolderIdentity identity{};
  std::int32_t error = 0;
  FolderListing* listing = listing_open(source, &identity, &error);
  if (listing == nullptr) {
    // A pseudo file system (/proc under "/") holds no files to keep.
    if (error != kErrorNoFiles) fail(run, "read", source[0] == '\0' ? "/" : source, error);
    return;
  }
  if (is_backup_root(run, source, identity)) {
    listing_close(listing);
    return;
  }
  FolderEntry entry;
  ListingStep got = ListingStep::end;
  while ((got = listing_next(listing, &entry, &error)) == ListingStep::entry) {
    // Asked to stop: between two files, never inside one.
    if (interrupted()) run.report->stopped = true;
    if (run.report->stopped) break;
    char path[kPathBytes];
    if (!join_path(source, entry.name.c_str(), path)) {
      fail(run, "read", std::string(source) + "/" + entry.name, kErrorPathTooLong);
    } else if (looked_at(run, entry.kind) &&
               leaves_out(run, path, entry.kind == kFolderEntryFolder)) {
      ++run.report->left_out;
      if (run.dry_run) tell(run.planned, std::string("would leave out ") + path);
    } else if (entry.kind == kFolderEntryFile || is_link_kind(entry.kind)) {
      back_up_file(run, listing, path, entry.name.c_str(), is_link_kind(entry.kind));
    } else if (!run.deep && entry.kind == kFolderEntryFolder) {
      ++run.report->folders_not_entered;
    } else if (entry.kind != kFolderEntryFolder) {
      skip(run, path);
    } else {
      const Level& parent = run.levels.back();
      run.levels.push_back(
          Level{entry.name, parent.path + "/" + entry.name, -1, parent.missing, parent.refused});
      walk(run, path);
      leave(run);
    }
  }
  if (got == ListingStep::failed) fail(run, "read", source, error);
  listing_close(listing);
}

}  // namespace

bool rotation_pending(const DataFolder& data) {
  char path[kPathBytes];
  return data_file_path(data, kRotationJournal, path) && path_taken(path);
}

bool backup_target(const BackupSettings& settings, const char* folder, char target[kPathBytes],
                   const PathRules& rules) {
  return backup_target_named(settings, copy_name(folder, rules).c_str(), target, rules);
}

bool backup_target_named(const BackupSettings& settings, const char* name, char target[kPathBytes],
                         const PathRules& rules) {
  const char* root = settings.root.c_str();
  const char separator = rules.separator;
  const bool ended = is_separator(root[length_of_text(root) - 1], rules);
  const char between[2] = {ended ? '\0' : separator, '\0'};
  return std::snprintf(target, kPathBytes, "%s%sF0%c%s%c", root, between, separator, name,
                       separator) < static_cast<int>(kPathBytes);
}

bool backup_folder(const BackupSettings& settings, const DataFolder& data, Catalog& catalog,
                   Scans& scans, const char* folder, const BackupOptions& options,
                   const Progress& progress, BackupReport* report) {
  const BackupMessage& message = options.message;
  const bool dry_run = options.dry_run;
  *report = BackupReport{};
  char current[kPathBytes] = "/";
  char source[kPathBytes];
  // An absolute folder needs no current folder (which may have been deleted).
  if (!is_absolute_path(folder) && current_folder(current, sizeof current) < 0) {
    return give_up(report, "the current folder cannot be read");
  }
  // Any spelling of a folder names the same backup target.
  if (!normalise_path(folder, current, source)) {
    return give_up(report, "the folder's path is too long");
  }
  if (!is_folder(source)) return give_up(report, "no such folder");
  if (!is_absolute_path(settings.root.c_str())) {
    return give_up(report, "the backup root is not set");
  }
  const std::string name = claim_copy_name(settings, data, source, message, !dry_run);
  if (name.empty()) return give_up(report, "the names of the backed-up folders cannot be kept");
  char target[kPathBytes];
  if (!backup_target_named(settings, name.c_str(), target)) {
    return give_up(report, "the backup path is too long");
  }
  if (rotation_pending(data)) {
    tell(message, "a rotation was stopped before its end; /r finishes it");
  }
  std::vector<std::string> excludes = options.excludes;
  std::string problem;
  if (!read_excludes(data, !dry_run, &excludes, &problem)) return give_up(report, problem.c_str());
  if (!dry_run) remove_leftovers(settings, data);

  if (dry_run) {
    catalog_open_for_reading(catalog, data);
  } else {
    const CatalogMends mends = catalog_open(catalog, data);
    if (mends.set_aside) {
      tell(message, std::string("the catalog was no catalog; it was renamed ") + kCatalogAside +
                        " and a new one started");
    }
    if (mends.dropped > 0) {
      tell(message, "the catalog had " + std::to_string(mends.dropped) +
                        " damaged records; they were dropped");
    }
  }
  if (catalog.list.base == nullptr && !dry_run) {
    return give_up(report, "the catalog could not be opened or created");
  }
  ScanMode idle = ScanMode::none;
  if (!scans.mode.compare_exchange_strong(idle, ScanMode::backup)) {
    list_close(catalog.list);
    return give_up(report, "another scan is running");
  }
  const SelectMode mode = settings.mode;
  Run run{settings,
          data,
          catalog,
          report,
          progress,
          message,
          system_time_now(),
          is_deep(mode),
          {},
          {},
          false,
          {},
          dry_run,
          options.planned,
          {},
          -1,
          exclude_rules(excludes),
          options.cache_tags,
          0,
          {},
          options.batch_files};
  know_root(run);
  const std::string root = root_text(settings);
  char root_path[kPathBytes];
  run.root_path = normalise_path(settings.root.c_str(), "/", root_path) ? root_path : root;
  run.levels.push_back(Level{"", root});
  run.levels.push_back(Level{"F0", root + "/F0"});
  run.levels.push_back(Level{name, root + "/F0/" + name});
  // The root folder is listed as "", so that its paths read "/name".
  const char* start = std::strcmp(source, "/") == 0 ? "" : source;
  run.start_length = length_of_text(start);
  if (progress.told != nullptr) count_tree(run, start);
  walk(run, start);
  batch_finish(run.batch, batch_ends(run));
  while (!run.levels.empty()) leave(run);
  target_close(run.scratch);
  // Every temporary made is renamed or removed by now: the record goes too.
  if (!dry_run) remove_leftovers(settings, data);
  scans.mode = ScanMode::none;
  // So that --find names the files this run added.
  if (catalog.answers_changed && !dry_run) catalog_index_write(catalog, data);
  list_close(catalog.list);
  if (report->folders_not_entered > 0) {
    tell(message, std::string("subfolders not entered: the selection mode is ") +
                      (is_random(mode) ? "Random" : "Linear"));
  }
  progress.tell(run.done);
  return report->failed == 0 && report->skipped == 0 && report->changed == 0 && !report->stopped;
}
