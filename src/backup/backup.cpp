#include "backup/backup.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "catalog/catalog.h"
#include "navigation/navigation.h"
#include "platform/files.h"
#include "settings/settings.h"
#include "text/text.h"

namespace {

constexpr std::uint32_t kProgressEvery = 256;

// folder + name, with one separator between them whether or not folder ends
// in one. 0 when it would not fit.
std::int32_t below(const char* folder, const char* name, char path[kPathBytes]) {
  const std::uint32_t length = length_of_text(folder);
  if (length == 0 || folder[length - 1] != '/') return join_path(folder, name, path);
  if (std::uint64_t{length} + length_of_text(name) >= kPathBytes) return 0;
  copy_text(folder, path);
  append_text(path, name);
  return 1;
}

// Every reason is a literal that fits the report, checked where it is given.
template <std::size_t N>
std::int32_t give_up(BackupReport* report, const char (&problem)[N]) {
  static_assert(N <= sizeof report->problem, "the reason must fit the report");
  copy_text(problem, report->problem);
  return 1;
}

}  // namespace

std::int32_t backup_target(const AppState& state, const char* folder, char target[kPathBytes]) {
  const char* root = state.settings.backup_root;
  const char* name = std::strcmp(folder, "/") == 0 ? "root" : folder + last_separator(folder) + 1;
  const bool slash = root[length_of_text(root) - 1] == '/';
  return std::snprintf(target, kPathBytes, "%s%sF0/%s/", root, slash ? "" : "/", name) <
                 static_cast<int>(kPathBytes)
             ? 1
             : 0;
}

namespace {

// Whether the file at src (slot in the catalog, or -1) is to be copied, with
// its record made when it had none. Returns 0 no, 1 yes, -1 it cannot be told.
std::int32_t needs_copy(AppState& state, const char* src, std::uint64_t now, std::int32_t* slot) {
  ListFile& catalog = state.scan.catalog;
  list_set_search_key(catalog, src);
  *slot = list_find_exact(catalog, kCatalogPath);
  if (*slot < 0) {
    *slot = list_add_record(catalog);
    if (*slot < 0) return -1;
    list_set_text(catalog, src);
    list_put_field(catalog, static_cast<std::uint32_t>(*slot), kCatalogPath);
    catalog.number_value = static_cast<std::int32_t>(file_size(src));
    list_put_field(catalog, static_cast<std::uint32_t>(*slot), kCatalogSize);
    return 1;
  }
  list_get_field(catalog, static_cast<std::uint32_t>(*slot), kCatalogBackupHigh);
  std::uint64_t last = static_cast<std::uint32_t>(catalog.number_value);
  list_get_field(catalog, static_cast<std::uint32_t>(*slot), kCatalogBackupLow);
  last = last << 32 | static_cast<std::uint32_t>(catalog.number_value);
  // A backup time in the future (the clock was set back) counts as none.
  if ((last >> 32) > (now >> 32)) last = 0;
  std::uint64_t written = 0;
  if (file_write_time(src, &written) != 0) return -1;
  return written > last ? 1 : 0;
}

void record_backup_time(AppState& state, std::int32_t slot, std::uint64_t now) {
  ListFile& catalog = state.scan.catalog;
  catalog.number_value = static_cast<std::int32_t>(now >> 32);
  list_put_field(catalog, static_cast<std::uint32_t>(slot), kCatalogBackupHigh);
  catalog.number_value = static_cast<std::int32_t>(now & 0xFFFFFFFFu);
  list_put_field(catalog, static_cast<std::uint32_t>(slot), kCatalogBackupLow);
}

bool copy_one(const char* src, const char* destination) {
  if (copy_file_replacing(src, destination) == 0) return true;
  create_parent_folders(destination);
  return copy_file_replacing(src, destination) == 0;
}

// Collects the tree into list under the scan claim, never entering the
// backup root. Returns the count, or -1 when a scan is running.
std::int64_t collect(AppState& state, const char* folder, PathSlot* list) {
  std::int32_t idle = 0;
  if (!state.scan.scan_mode.compare_exchange_strong(idle, 3)) return -1;
  char root[kPathBytes];
  copy_text(state.settings.backup_root, root);
  FolderIdentity skip{};
  if (folder_identity(root, &skip) == 0) {
    state.scan.backup_skip_device = skip.device;
    state.scan.backup_skip_inode = skip.inode;
  }
  const std::uint32_t count = scan_folder(state, 0, list, folder);
  state.scan.backup_skip_device = 0;
  state.scan.backup_skip_inode = 0;
  state.scan.scan_mode = 0;
  return count;
}

}  // namespace

void create_parent_folders(const char* path) {
  const std::int32_t separator = last_separator(path);
  // No parent, or the root: nothing to create.
  if (separator <= 0) return;
  char parent[kPathBytes];
  left_text(path, parent, static_cast<std::uint32_t>(separator));
  create_parent_folders(parent);
  make_folder(parent);
}

std::int32_t backup_folder(AppState& state, const char* folder, BackupReport* report,
                           BackupProgress progress) {
  *report = BackupReport{};
  char current[kPathBytes];
  char source[kPathBytes];
  // Any spelling of a folder names the same backup target.
  if (current_folder(current, sizeof current) < 0 || normalise_path(folder, current, source) == 0) {
    return give_up(report, "the folder's path is too long");
  }
  if (!is_folder(source)) return give_up(report, "no such folder");
  if (state.settings.backup_root[0] != '/') return give_up(report, "the backup root is not set");
  char target[kPathBytes];
  if (backup_target(state, source, target) == 0)
    return give_up(report, "the backup path is too long");
  const std::uint64_t now = system_time_now();

  catalog_open(state);
  if (state.scan.catalog.base == nullptr) {
    return give_up(report, "the catalog could not be opened or created");
  }
  auto* list = static_cast<PathSlot*>(std::calloc(kListSlots, sizeof(PathSlot)));
  if (list == nullptr) {
    list_close(state.scan.catalog);
    return give_up(report, "no memory for the file list");
  }
  const std::int64_t count = collect(state, source, list);
  if (count < 0) {
    std::free(list);
    list_close(state.scan.catalog);
    return give_up(report, "another scan is running");
  }
  // Paths below the folder keep their place below the target ("/" has no
  // separator of its own after it).
  const std::uint32_t skip = length_of_text(source) + (std::strcmp(source, "/") == 0 ? 0 : 1);
  for (std::uint32_t i = 0; i < static_cast<std::uint32_t>(count); ++i) {
    const char* src = list[i];
    ++report->examined;
    std::int32_t slot = -1;
    const std::int32_t wanted = needs_copy(state, src, now, &slot);
    char destination[kPathBytes];
    if (wanted == 1) {
      // The backup time is written only once the copy is complete, so a run
      // killed here copies this file again next time.
      if (below(target, src + skip, destination) == 0 || !copy_one(src, destination)) {
        ++report->failed;
      } else {
        ++report->copied;
        record_backup_time(state, slot, now);
      }
    } else if (wanted < 0) {
      ++report->failed;
    }
    if (progress != nullptr && report->examined % kProgressEvery == 0) progress(*report);
  }
  std::free(list);
  list_close(state.scan.catalog);
  if (progress != nullptr) progress(*report);
  return report->failed == 0 ? 0 : 1;
}

std::int32_t move_generation(AppState& state, const char* from, const char* to) {
  char source[kPathBytes];
  char target[kPathBytes];
  const char* root = state.settings.backup_root;
  if (below(root, from, source) == 0 || below(root, to, target) == 0) return -1;
  return move_merging(source, target) == 0 ? 0 : -1;
}

std::int32_t rotate_backups(AppState& state, char failed_generation[4]) {
  failed_generation[0] = '\0';
  if (state.settings.backup_root[0] != '/') return 1;
  const std::uint32_t n = ++state.settings.backup_generation;
  static const char* const names[] = {"F0", "F1", "F2", "F3", "F4", "F5",
                                      "F6", "F7", "F8", "F9", "FX"};
  // The lowest set bit k of n moves F(k+1) on; none of bits 0..7 moves F9 into FX.
  std::uint32_t k = 0;
  while (k < 8 && (n & (1u << k)) == 0) ++k;
  if (k == 8) state.settings.backup_generation = 0;
  const std::int32_t first = move_generation(state, names[k + 1], names[k + 2]);
  if (first != 0) copy_text(names[k + 1], failed_generation);
  if (move_generation(state, "F0", "F1") != 0 && first == 0) copy_text("F0", failed_generation);
  return failed_generation[0] == '\0' ? 0 : 1;
}
