// The catalog build over the drives: the scan of the viewer's file selection
// in its catalog mode, apart from the catalog file itself so that the backup
// links no scanning.
#include <cstdlib>
#include <cstring>
#include <string>

#include "catalog/catalog.h"
#include "navigation/navigation.h"
#include "ports/files.h"
#include "text/text.h"

namespace {

constexpr std::uint32_t kCatalogJumpAt = 50000;

}  // namespace

std::uint32_t catalog_add_file(AppState& state, const char* folder, const char* name,
                               std::uint32_t count) {
  // Asked to stop: the scan winds up as it does at its limit.
  if (state.scan.catalog_cancel.load() != 0) return kListLimit;
  ListFile& catalog = state.scan.catalog;
  char path[kPathBytes];
  if (!join_path(folder, name, path)) return count;
  // Paths are case-sensitive here: IMG_1.JPG and img_1.jpg are two files.
  list_set_search_key(catalog, path);
  if (catalog_find_path(catalog) >= 0) return count;
  const std::int32_t slot = list_add_record(catalog);
  if (slot < 0) return count;
  list_set_text(catalog, path);
  list_put_field(catalog, static_cast<std::uint32_t>(slot), kCatalogPath);
  catalog.number_value = static_cast<std::int32_t>(file_size(path));
  list_put_field(catalog, static_cast<std::uint32_t>(slot), kCatalogSize);
  state.scan.catalog_added.fetch_add(1);
  ++count;
  return count == kCatalogJumpAt ? kFolderLimit : count;
}

namespace {

std::uint32_t add_listed_file(AppState& state, void*, const char* folder, const char* name,
                              std::uint32_t count) {
  return catalog_add_file(state, folder, name, count);
}

}  // namespace

void catalog_log_line(AppState& state, const char* line, CatalogLogSink sink, void* context) {
  char* log = state.scan.catalog_log;
  if (log == nullptr) return;
  std::uint32_t length = length_of_text(log);
  if (length > kCatalogLogLimit) {
    std::memmove(log, log + kCatalogLogTrim, length - kCatalogLogTrim + 1);
    length -= kCatalogLogTrim;
  }
  // A line longer than the room left is cut here, where only the display suffers.
  const std::uint32_t room = kCatalogLogBytes - 1 - length;
  std::strncat(log + length, "\r\n", room);
  std::strncat(log + length, line, room > 2 ? room - 2 : 0);
  if (sink != nullptr) sink(context, log);
}

void catalog_build_drives(AppState& state, const std::vector<Drive>& drives, CatalogLogSink sink,
                          void* context) {
  catalog_open(state);
  if (state.scan.catalog.base == nullptr) return;
  ScanMode idle = ScanMode::none;
  if (!state.scan.scan_mode.compare_exchange_strong(idle, ScanMode::catalog)) return;
  list_sort(state.scan.catalog, kCatalogPath);
  state.scan.catalog_log = static_cast<char*>(std::calloc(kCatalogLogBytes, 1));
  for (const Drive& drive : drives) {
    if (state.scan.catalog_cancel.load() != 0) break;
    FolderIdentity identity{};
    if (!folder_identity(drive.mount_point.c_str(), &identity)) continue;
    catalog_log_line(state, drive.mount_point.c_str(), sink, context);
    // A root scans without its final separator ("" for "/", "C:" for "C:\\"),
    // so that its paths read "/name" and "C:\\name".
    std::string start = drive.mount_point;
    if (!start.empty() && is_separator(start.back())) start.pop_back();
    state.scan.scan_device = identity.device;
    scan_folder(state, 0, start.c_str(), ScanVisit{add_listed_file, nullptr});
    state.scan.scan_device = 0;
  }
  state.scan.scan_mode = ScanMode::none;
  list_close(state.scan.catalog);
  std::free(state.scan.catalog_log);
  state.scan.catalog_log = nullptr;
}
