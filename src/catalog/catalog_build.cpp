// The catalog build over the drives or one folder's tree: the tree walk over
// every file, apart from the catalog file itself so that the backup links no
// walking.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "catalog/catalog.h"
#include "catalog/finder.h"
#include "ports/files.h"
#include "text/text.h"
#include "walk/walk.h"

namespace {

// The hash a build notes for every path it meets, so that the records it did
// not meet can be told at its end whatever slots the records moved to. It
// compares as the file system does.
std::uint64_t path_hash(std::string_view path, const PathRules& rules) {
  std::uint64_t hash = 14695981039346656037ull;
  for (char c : path) {
    if (rules.fold_case != 0 && c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  }
  return hash;
}

struct BuildRun {
  Catalog& catalog;
  Walk walk;
  std::vector<std::uint64_t> met;  // path_hash of every file met
};

void note_met(Catalog& catalog, BuildRun* run, const char* path) {
  catalog.met.fetch_add(1);
  if (run != nullptr) run->met.push_back(path_hash(path, path_rules()));
}

}  // namespace

std::uint32_t catalog_add_file(Catalog& catalog_part, FolderListing* listing, const char* folder,
                               const char* name, std::uint32_t count, void* run) {
  // Asked to stop: the scan winds up as it does at its limit.
  if (catalog_part.cancel.load() != 0) return kListLimit;
  ListFile& catalog = catalog_part.list;
  char path[kPathBytes];
  if (!join_path(folder, name, path)) return count;
  note_met(catalog_part, static_cast<BuildRun*>(run), path);
  // Paths are case-sensitive here: IMG_1.JPG and img_1.jpg are two files.
  list_set_search_key(catalog, path);
  const std::int32_t found = catalog_find_path(catalog);
  if (found >= 0) {
    // Back again after a refresh called it gone.
    catalog_set_gone(catalog_part, static_cast<std::uint32_t>(found), false);
    return count;
  }
  const std::int32_t slot = list_add_record(catalog);
  if (slot < 0) {
    catalog_part.refused.fetch_add(1);
    return count;
  }
  list_set_text(catalog, path);
  list_put_field(catalog, static_cast<std::uint32_t>(slot), kCatalogPath);
  // Asked of the open folder: no walk of the whole path again.
  std::uint64_t size = 0;
  std::uint64_t written = 0;
  std::int32_t error = 0;
  if (listing == nullptr || !listing_file_facts(listing, name, &size, &written, &error)) {
    size = file_size(path);
  }
  catalog.number_value = static_cast<std::int32_t>(size);
  list_put_field(catalog, static_cast<std::uint32_t>(slot), kCatalogSize);
  catalog_part.added.fetch_add(1);
  catalog_part.answers_changed = true;
  // The scan's own count never grows, so the view list's limits never stop a build.
  return count;
}

bool catalog_is_gone(ListFile& catalog, std::uint32_t slot) {
  return list_get_field(catalog, slot, kCatalogGone) >= 0 && catalog.number_value != 0;
}

void catalog_set_gone(Catalog& catalog_part, std::uint32_t slot, bool gone) {
  ListFile& catalog = catalog_part.list;
  // Written only when it changes: a build that finds everything in place
  // dirties no page of the catalog.
  if (catalog_is_gone(catalog, slot) == gone) return;
  catalog.number_value = gone ? 1 : 0;
  list_put_field(catalog, slot, kCatalogGone);
  catalog_part.answers_changed = true;
}

namespace {

std::uint32_t add_listed_file(void* context, const char* folder, const char* name,
                              std::uint32_t count) {
  auto* run = static_cast<BuildRun*>(context);
  return catalog_add_file(run->catalog, run->walk.listing, folder, name, count, run);
}

// A folder named "low" is entered on a draw above 40 of 50, as the viewer's
// walk enters it.
bool admit_catalogued(void*, const char* name) {
  if (dot_folder(name)) return false;
  std::uint32_t word = 0;
  return !low_folder(name) || (fill_random(&word, sizeof word) ? word % 50 + 1 : 1) > 40;
}

// Whether path lies in the tree a scan from start ("" for the root, "C:" for
// a drive) read.
bool under(std::string_view path, const std::string& start) {
  return path.size() > start.size() && path.compare(0, start.size(), start) == 0 &&
         is_separator(path[start.size()]);
}

// Marks gone every record in the scanned trees that the build did not meet
// and whose file is no longer there. One the scan could not meet (a folder
// it left out, another file system) but that is still there keeps its mark.
void mark_gone(Catalog& catalog_part, const std::vector<std::string>& starts, BuildRun& run) {
  ListFile& catalog = catalog_part.list;
  std::sort(run.met.begin(), run.met.end());
  const PathRules& rules = path_rules();
  for (std::uint32_t slot = 0; slot < catalog.capacity; ++slot) {
    if (catalog_part.cancel.load() != 0) return;
    if (!list_holds_record(catalog, slot)) continue;
    const std::string_view path = list_text_of(catalog, slot, kCatalogPath);
    if (std::none_of(starts.begin(), starts.end(),
                     [&path](const std::string& start) { return under(path, start); })) {
      continue;
    }
    if (std::binary_search(run.met.begin(), run.met.end(), path_hash(path, rules))) continue;
    if (!path_taken(std::string(path).c_str())) catalog_set_gone(catalog_part, slot, true);
  }
}

}  // namespace

void catalog_log_line(Catalog& catalog, const char* line, CatalogLogSink sink, void* context) {
  char* log = catalog.log;
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

CatalogBuilt catalog_build_trees(Catalog& catalog, const DataFolder& data, Scans& scans,
                                 const std::vector<CatalogTree>& trees, CatalogLogSink sink,
                                 void* context) {
  catalog_open(catalog, data);
  if (catalog.list.base == nullptr) return CatalogBuilt::not_opened;
  ScanMode idle = ScanMode::none;
  if (!scans.mode.compare_exchange_strong(idle, ScanMode::catalog)) {
    return CatalogBuilt::busy;
  }
  // Others answer from the index while the catalog changes: it must hold the
  // catalog as it stands before the build.
  catalog_index_refresh(catalog, data);
  list_sort(catalog.list, kCatalogPath);
  catalog.log = static_cast<char*>(std::calloc(kCatalogLogBytes, 1));
  BuildRun run{catalog, {}, {}};
  run.walk.file = add_listed_file;
  run.walk.admit = admit_catalogued;
  run.walk.context = &run;
  // Every file of its trees, whatever the viewer's mode.
  run.walk.deep = true;
  std::vector<std::string> starts;
  for (const CatalogTree& tree : trees) {
    if (catalog.cancel.load() != 0) break;
    FolderIdentity identity{};
    if (!folder_identity(tree.folder.c_str(), &identity)) continue;
    catalog_log_line(catalog, tree.folder.c_str(), sink, context);
    // A root scans without its final separator ("" for "/", "C:" for "C:\\"),
    // so that its paths read "/name" and "C:\\name".
    std::string start = tree.folder;
    if (!start.empty() && is_separator(start.back())) start.pop_back();
    run.walk.device = tree.one_file_system ? identity.device : 0;
    walk_folder(run.walk, 0, start.c_str());
    starts.push_back(start);
  }
  const bool complete = catalog.cancel.load() == 0;
  if (complete) mark_gone(catalog, starts, run);
  const bool indexed = catalog_index_write(catalog, data);
  scans.mode = ScanMode::none;
  list_close(catalog.list);
  std::free(catalog.log);
  catalog.log = nullptr;
  if (!complete) return CatalogBuilt::stopped;
  return indexed ? CatalogBuilt::done : CatalogBuilt::index_failed;
}

void catalog_build_drives(Catalog& catalog, const DataFolder& data, Scans& scans,
                          const std::vector<Drive>& drives, CatalogLogSink sink, void* context) {
  std::vector<CatalogTree> trees;
  trees.reserve(drives.size());
  for (const Drive& drive : drives) trees.push_back(CatalogTree{drive.mount_point, true});
  catalog_build_trees(catalog, data, scans, trees, sink, context);
}
