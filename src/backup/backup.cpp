#include "backup/backup.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "catalog/catalog.h"
#include "platform/backup_target.h"
#include "platform/files.h"
#include "text/text.h"

namespace {

constexpr std::uint32_t kProgressEvery = 256;

// Every reason is a literal that fits the report, checked where it is given.
template <std::size_t N>
std::int32_t give_up(BackupReport* report, const char (&problem)[N]) {
  static_assert(N <= sizeof report->problem, "the reason must fit the report");
  copy_text(problem, report->problem);
  return 1;
}

void tell(BackupMessage message, const std::string& line) {
  if (message != nullptr) message(line.c_str());
}

std::string reason_of(std::int32_t error) {
  char text[160];
  describe_error(error, text, sizeof text);
  return text;
}

// The backup root without its trailing separator, for paths in messages.
std::string root_text(const AppState& state) {
  std::string root = state.settings.backup_root;
  const std::size_t keep = root_length(root.c_str());
  while (root.size() > keep && is_separator(root.back()) == 1) root.pop_back();
  return root;
}

// The folder in F0 that holds a backed-up folder's copy: its last component,
// "root" for a root ("/", "C:\\").
const char* copy_name(const char* folder, const PathRules& rules) {
  return length_of_text(folder) == root_length(folder, rules)
             ? "root"
             : folder + last_separator(folder, rules) + 1;
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
  AppState& state;
  BackupReport* report;
  BackupProgress progress;
  BackupMessage message;
  std::uint64_t now;
  bool deep;
  FolderIdentity skip;  // the backup root, never backed up into itself
  bool skip_known;
  std::vector<Level> levels;
};

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
    level.folder = target_open_root(run.state.settings.backup_root, create ? 1 : 0, &error);
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
  target_close(run.levels.back().folder);
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

std::uint64_t time_at(ListFile& catalog, std::int32_t slot, std::uint32_t high) {
  return std::uint64_t{number_at(catalog, slot, high)} << 32 | number_at(catalog, slot, high + 1);
}

void put_time(ListFile& catalog, std::int32_t slot, std::uint32_t high, std::uint64_t time) {
  put_number(catalog, slot, high, static_cast<std::uint32_t>(time >> 32));
  put_number(catalog, slot, high + 1, static_cast<std::uint32_t>(time));
}

// Sizes are kept as their low 32 bits, as the catalog's number fields hold.
std::uint32_t low_bits(std::uint64_t size) {
  return static_cast<std::uint32_t>(size);
}

// Whether the file src is to be copied, its record found or made in *slot.
// 1 yes, 0 no, -1 it failed (and was said).
std::int32_t needs_copy(Run& run, FolderListing* listing, const char* src, const char* name,
                        std::int32_t* slot) {
  ListFile& catalog = run.state.scan.catalog;
  list_set_search_key(catalog, src);
  *slot = catalog_find_path(catalog);
  if (*slot < 0) {
    // New: copied whatever its facts, which the copy records.
    *slot = list_add_record(catalog);
    if (*slot < 0) {
      ++run.report->failed;
      tell(run.message, std::string("cannot record ") + src + " in the catalog");
      return -1;
    }
    list_set_text(catalog, src);
    list_put_field(catalog, static_cast<std::uint32_t>(*slot), kCatalogPath);
    return 1;
  }
  std::uint64_t size = 0;
  std::uint64_t written = 0;
  std::int32_t error = 0;
  if (listing_file_facts(listing, name, &size, &written, &error) != 0) {
    fail(run, "read", src, error);
    return -1;
  }
  std::uint64_t last = time_at(catalog, *slot, kCatalogBackupHigh);
  // A backup time in the future (the clock was set back) counts as none.
  if ((last >> 32) > (run.now >> 32)) last = 0;
  const std::uint64_t recorded = time_at(catalog, *slot, kCatalogWrittenHigh);
  if (recorded == 0) {
    // A record from before write times were kept: the time rule alone, and
    // from now on the full one.
    put_time(catalog, *slot, kCatalogWrittenHigh, written);
    put_number(catalog, *slot, kCatalogCopiedSize, low_bits(size));
    return written > last ? 1 : 0;
  }
  // A file replaced by an older one (restored, unpacked) has another write
  // time, later or not.
  return written > last || written != recorded ||
                 low_bits(size) != number_at(catalog, *slot, kCatalogCopiedSize)
             ? 1
             : 0;
}

void back_up_file(Run& run, FolderListing* listing, const char* src, const char* name) {
  ++run.report->examined;
  std::int32_t slot = -1;
  if (needs_copy(run, listing, src, name, &slot) == 1) {
    const std::size_t k = run.levels.size() - 1;
    const std::string destination = run.levels[k].path + "/" + name;
    std::int32_t error = 0;
    CopiedFile copied{};
    TargetFolder folder = -1;
    if (destination.size() >= kPathBytes) {
      fail(run, "write", destination, kErrorPathTooLong);
    } else if ((folder = reach(run, k, true)) < 0) {
      ++run.report->failed;  // the folder's refusal was said once
    } else if (const std::int32_t result = target_copy_file(src, folder, name, &copied, &error);
               result != kCopyDone) {
      fail(run, result == kCopyReadFailed ? "read" : "write",
           result == kCopyReadFailed ? std::string(src) : destination, error);
    } else {
      // Recorded only once the copy is whole, so a run killed before this
      // copies the file again next time.
      ListFile& catalog = run.state.scan.catalog;
      ++run.report->copied;
      put_time(catalog, slot, kCatalogBackupHigh, run.now);
      put_time(catalog, slot, kCatalogWrittenHigh, copied.write_time);
      put_number(catalog, slot, kCatalogCopiedSize, low_bits(copied.size));
    }
  }
  if (run.progress != nullptr && run.report->examined % kProgressEvery == 0) {
    run.progress(*run.report);
  }
}

// Whether the source folder holds a file called name: its copy's temporary
// look-alike is then a real backup, not a leftover.
int source_has(void* folder, const char* name) {
  char path[kPathBytes];
  return join_path(static_cast<const char*>(folder), name, path) == 1 && path_taken(path) == 1 ? 1
                                                                                               : 0;
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
  if (run.skip_known && identity.device == run.skip.device && identity.inode == run.skip.inode) {
    listing_close(listing);
    return;
  }
  const TargetFolder existing = reach(run, run.levels.size() - 1, false);
  if (existing >= 0) target_remove_leftovers(existing, source_has, const_cast<char*>(source));
  FolderEntry entry;
  std::int32_t got = 0;
  while ((got = listing_next(listing, &entry, &error)) == 1) {
    char path[kPathBytes];
    if (join_path(source, entry.name.c_str(), path) == 0) {
      fail(run, "read", std::string(source) + "/" + entry.name, kErrorPathTooLong);
    } else if (entry.kind == kFolderEntryFile) {
      back_up_file(run, listing, path, entry.name.c_str());
    } else if (!run.deep) {
      ++run.report->folders_not_entered;
    } else {
      const Level& parent = run.levels.back();
      run.levels.push_back(
          Level{entry.name, parent.path + "/" + entry.name, -1, parent.missing, parent.refused});
      walk(run, path);
      leave(run);
    }
  }
  if (got < 0) fail(run, "read", source, error);
  listing_close(listing);
}

}  // namespace

std::int32_t backup_target(const AppState& state, const char* folder, char target[kPathBytes],
                           const PathRules& rules) {
  const char* root = state.settings.backup_root;
  const char* name = copy_name(folder, rules);
  const char separator = rules.separator;
  const bool ended = is_separator(root[length_of_text(root) - 1], rules) == 1;
  const char between[2] = {ended ? '\0' : separator, '\0'};
  return std::snprintf(target, kPathBytes, "%s%sF0%c%s%c", root, between, separator, name,
                       separator) < static_cast<int>(kPathBytes)
             ? 1
             : 0;
}

std::int32_t backup_folder(AppState& state, const char* folder, BackupReport* report,
                           BackupProgress progress, BackupMessage message) {
  *report = BackupReport{};
  char current[kPathBytes] = "/";
  char source[kPathBytes];
  // An absolute folder needs no current folder (which may have been deleted).
  if (is_absolute_path(folder) == 0 && current_folder(current, sizeof current) < 0) {
    return give_up(report, "the current folder cannot be read");
  }
  // Any spelling of a folder names the same backup target.
  if (normalise_path(folder, current, source) == 0) {
    return give_up(report, "the folder's path is too long");
  }
  if (!is_folder(source)) return give_up(report, "no such folder");
  if (is_absolute_path(state.settings.backup_root) == 0) {
    return give_up(report, "the backup root is not set");
  }
  char target[kPathBytes];
  if (backup_target(state, source, target) == 0)
    return give_up(report, "the backup path is too long");

  const CatalogMends mends = catalog_open(state);
  if (mends.set_aside) {
    tell(message, std::string("the catalog was no catalog; it was renamed ") + kCatalogAside +
                      " and a new one started");
  }
  if (mends.dropped > 0) {
    tell(message, "the catalog had " + std::to_string(mends.dropped) +
                      " damaged records; they were dropped");
  }
  if (state.scan.catalog.base == nullptr) {
    return give_up(report, "the catalog could not be opened or created");
  }
  std::int32_t idle = 0;
  if (!state.scan.scan_mode.compare_exchange_strong(idle, 3)) {
    list_close(state.scan.catalog);
    return give_up(report, "another scan is running");
  }
  const std::uint32_t mode = state.settings.select_mode;
  Run run{state, report, progress, message, system_time_now(), mode == 1 || mode == 3,
          {},    false,  {}};
  run.skip_known = folder_identity(state.settings.backup_root, &run.skip) == 0;
  const std::string root = root_text(state);
  const std::string name = copy_name(source, path_rules());
  run.levels.push_back(Level{"", root});
  run.levels.push_back(Level{"F0", root + "/F0"});
  run.levels.push_back(Level{name, root + "/F0/" + name});
  // The root folder is listed as "", so that its paths read "/name".
  walk(run, std::strcmp(source, "/") == 0 ? "" : source);
  while (!run.levels.empty()) leave(run);
  state.scan.scan_mode = 0;
  list_close(state.scan.catalog);
  if (report->folders_not_entered > 0) {
    tell(message, std::string("subfolders not entered: the selection mode is ") +
                      (mode == 2 ? "Random" : "Linear"));
  }
  if (progress != nullptr) progress(*report);
  return report->failed == 0 ? 0 : 1;
}

namespace {

struct MoveContext {
  std::string root;
  BackupMessage message;
};

void tell_move_problem(void* context, const char* path, std::int32_t error) {
  const auto* move = static_cast<const MoveContext*>(context);
  tell(move->message, "cannot move " + move->root + "/" + path + ": " + reason_of(error));
}

}  // namespace

std::int32_t move_generation(AppState& state, const char* from, const char* to,
                             BackupMessage message) {
  MoveContext context{root_text(state), message};
  std::int32_t error = 0;
  const TargetFolder root = target_open_root(state.settings.backup_root, 0, &error);
  // No backup root yet: no generation to move.
  if (root < 0) return error == kErrorMissing ? 0 : (tell_move_problem(&context, "", error), -1);
  const std::int32_t moved = target_move_generation(root, from, to, tell_move_problem, &context);
  target_close(root);
  return moved;
}

std::int32_t rotate_backups(AppState& state, char failed_generation[4], BackupMessage message) {
  failed_generation[0] = '\0';
  if (is_absolute_path(state.settings.backup_root) == 0) return 1;
  const std::uint32_t n = ++state.settings.backup_generation;
  static const char* const names[] = {"F0", "F1", "F2", "F3", "F4", "F5",
                                      "F6", "F7", "F8", "F9", "FX"};
  // The lowest set bit k of n moves F(k+1) on; none of bits 0..7 moves F9 into FX.
  std::uint32_t k = 0;
  while (k < 8 && (n & (1u << k)) == 0) ++k;
  if (k == 8) state.settings.backup_generation = 0;
  const std::int32_t first = move_generation(state, names[k + 1], names[k + 2], message);
  if (first != 0) copy_text(names[k + 1], failed_generation);
  if (move_generation(state, "F0", "F1", message) != 0 && first == 0) {
    copy_text("F0", failed_generation);
  }
  return failed_generation[0] == '\0' ? 0 : 1;
}
