// "--verify=FOLDER": every file of a tree has a newest copy that reads back
// whole, is what the catalog recorded of it, and, where the file has not
// changed since, holds its bytes.
#include <map>
#include <string>
#include <vector>

#include "backup/backup.h"
#include "backup/backup_parts.h"
#include "catalog/catalog.h"
#include "ports/console.h"
#include "ports/files.h"
#include "text/text.h"

using namespace backup_parts;

namespace {

struct Check {
  Catalog& catalog;
  VerifyReport* report;
  const Progress& progress;
  RunProgress done;
  BackupMessage message;
  bool deep;
  std::string root;  // the backup root, never verified as a source
  std::map<std::string, const FileVersion*> newest;
  bool catalog_open;
  // What the backups leave out, left out here too: the exclude file's
  // patterns and the folders tagged as caches.
  std::vector<ExcludeRule> excludes = {};
  std::size_t start_length = 0;
};

void problem(Check& check, const std::string& line) {
  ++check.report->problems;
  tell(check.message, line);
}

std::uint32_t field_of(ListFile& catalog, std::int32_t slot, std::uint32_t field) {
  list_get_field(catalog, static_cast<std::uint32_t>(slot), field);
  return static_cast<std::uint32_t>(catalog.number_value);
}

// What the catalog recorded of the file's copy: its size's low 32 bits and
// the write time; false when it has no record with them.
bool recorded(Check& check, const std::string& path, std::uint32_t* size, std::uint64_t* time) {
  if (!check.catalog_open) return false;
  ListFile& catalog = check.catalog.list;
  list_set_search_key(catalog, path.c_str());
  const std::int32_t slot = catalog_find_path(catalog);
  if (slot < 0) return false;
  *time = std::uint64_t{field_of(catalog, slot, kCatalogWrittenHigh)} << 32 |
          field_of(catalog, slot, kCatalogWrittenLow);
  *size = field_of(catalog, slot, kCatalogSize);
  return *time != 0;  // a record from before write times were kept
}

// A link's copy is a link with its target text.
void verify_link(Check& check, const std::string& path, const FileVersion& copy) {
  std::string kept;
  std::string text;
  std::uint64_t written = 0;
  std::int32_t error = 0;
  if (!copy.link) {
    problem(check, "changed: " + copy.copy + " is no link, as " + path + " is");
  } else if (!read_link(copy.copy.c_str(), &kept, &written, &error)) {
    problem(check, "unreadable: " + copy.copy + ": " + reason_of(error));
  } else if (read_link(path.c_str(), &text, &written, &error) && written == copy.write_time &&
             text.size() == copy.size && text != kept) {
    problem(check, "damaged: " + copy.copy + " leads elsewhere than " + path +
                       ", though it has its length and write time");
  }
}

void verify_file(Check& check, const std::string& path, bool link) {
  ++check.report->checked;
  ++check.done.files_done;
  check.progress.tell(check.done);
  const auto found = check.newest.find(path);
  if (found == check.newest.end()) {
    ++check.report->missing;
    problem(check, "missing: " + path + " has no copy");
    return;
  }
  const FileVersion& copy = *found->second;
  if (link) {
    verify_link(check, path, copy);
    return;
  }
  if (copy.link) {
    problem(check, "changed: " + copy.copy + " is a link, not a copy of " + path);
    return;
  }
  std::uint32_t recorded_size = 0;
  std::uint64_t recorded_time = 0;
  if (recorded(check, path, &recorded_size, &recorded_time) &&
      (recorded_size != static_cast<std::uint32_t>(copy.size) ||
       recorded_time != copy.write_time)) {
    problem(check, "changed: " + copy.copy + " is not the copy the catalog recorded (" +
                       std::to_string(copy.size) + " bytes, not " + std::to_string(recorded_size) +
                       ", or another write time)");
    return;
  }
  // Unchanged since the copy: the copy is read whole against the file, else
  // read whole alone.
  FileStamp stamp;
  std::int32_t error = 0;
  bool same = false;
  const bool unchanged = file_stamp(path.c_str(), &stamp) &&
                         static_cast<std::uint64_t>(stamp.size) == copy.size &&
                         stamp.write_time == copy.write_time;
  if (unchanged && same_files(path.c_str(), copy.copy.c_str(), &same, &error)) {
    check.done.bytes_done += copy.size;
    if (!same) {
      problem(check, "damaged: " + copy.copy + " differs from " + path +
                         ", though it has its size and write time");
    }
    return;
  }
  std::uint64_t size = 0;
  const bool whole = read_through(copy.copy.c_str(), &size, &error);
  check.done.bytes_done += size;
  if (!whole || size != copy.size) {
    problem(check, "unreadable: " + copy.copy + ": " +
                       (whole ? std::string("cut short") : reason_of(error)));
  } else if (unchanged) {
    problem(check, "unreadable: " + path + ": the file could not be compared with its copy");
  }
}

void walk(Check& check, const std::string& folder) {
  std::string inside;
  if (path_below(check.root, folder, &inside)) return;
  FolderIdentity identity{};
  std::int32_t error = 0;
  FolderListing* listing = listing_open(folder.c_str(), &identity, &error);
  if (listing == nullptr) {
    if (error != kErrorNoFiles) problem(check, "cannot read " + folder + ": " + reason_of(error));
    return;
  }
  std::vector<std::string> folders;
  FolderEntry entry;
  while (listing_next(listing, &entry, &error) == ListingStep::entry) {
    // Asked to stop: between two files, never inside one.
    if (interrupted()) check.report->stopped = true;
    if (check.report->stopped) break;
    char path[kPathBytes];
    const bool file = entry.kind == kFolderEntryFile || is_link_kind(entry.kind);
    if (!join_path(folder.c_str(), entry.name.c_str(), path)) {
      // Too long for a path: a backup names it as failed, so it has no copy.
      const std::string whole = folder + path_rules().separator + entry.name;
      if (file) {
        ++check.report->checked;
        ++check.report->missing;
        problem(check, "missing: " + whole + " has no copy: its path is too long to back up");
      } else if (entry.kind == kFolderEntryFolder && check.deep) {
        problem(check, "missing: " + whole + " has no copies: its path is too long to back up");
      }
      continue;
    }
    const bool folder_entered = entry.kind == kFolderEntryFolder && check.deep;
    if ((file || folder_entered) &&
        left_out(check.excludes, true, path, check.start_length, folder_entered)) {
      ++check.report->left_out;
      continue;
    }
    if (file) verify_file(check, path, is_link_kind(entry.kind));
    if (folder_entered) folders.emplace_back(path);
  }
  listing_close(listing);
  for (const std::string& inner : folders) walk(check, inner);
}

}  // namespace

bool verify_folder(const BackupSettings& settings, const DataFolder& data, Catalog& catalog,
                   const char* folder, VerifyReport* report, const Progress& progress,
                   BackupMessage message) {
  *report = VerifyReport{};
  std::vector<FileVersion> versions;
  std::string why;
  char source[kPathBytes];
  if (!absolute_path_of(folder, source, &why) ||
      !list_versions(settings, data, source, &versions, &why)) {
    report->problem = why;
    return false;
  }
  if (!is_folder(source)) {
    report->problem = "no such folder";
    return false;
  }
  Check check{catalog, report, progress, {}, message, is_deep(settings.mode), root_text(settings),
              {},      false};
  std::vector<std::string> patterns;
  if (!read_excludes(data, false, &patterns, &why)) {
    report->problem = why;
    return false;
  }
  check.excludes = exclude_rules(patterns);
  check.start_length = length_of_text(source);
  for (const FileVersion& version : versions) {
    const auto [at, added] = check.newest.emplace(version.original, &version);
    if (!added && version.rank < at->second->rank) at->second = &version;
  }
  // The files with a copy, and their newest copies' bytes: what there is to read.
  for (const auto& [original, newest] : check.newest) {
    ++check.done.files_total;
    check.done.bytes_total += newest->size;
  }
  // Read only: opened without writing, and closed again.
  check.catalog_open = catalog_open_for_reading(catalog, data);
  walk(check, source);
  report->bytes_read = check.done.bytes_done;
  if (check.catalog_open) list_close(catalog.list);
  progress.tell(check.done);
  return report->problems == 0 && !report->stopped;
}
