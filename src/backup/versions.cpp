// "--versions=PATH": every copy of a file, or of every file below a folder,
// that the generations hold, read from the backup root without writing.
#include <algorithm>
#include <string>
#include <vector>

#include "backup/backup.h"
#include "backup/backup_parts.h"
#include "ports/clock.h"
#include "ports/files.h"
#include "text/text.h"

using namespace backup_parts;

namespace {}  // namespace

bool backup_parts::path_below(const std::string& folder, const std::string& path,
                              std::string* rest) {
  const std::size_t n = folder.size();
  if (n == 0 || n > path.size() || !same_path(path.substr(0, n).c_str(), folder.c_str())) {
    return false;
  }
  if (n == path.size()) {
    rest->clear();
  } else if (is_separator(folder.back())) {
    *rest = path.substr(n);  // a root keeps its separator
  } else if (is_separator(path[n])) {
    *rest = path.substr(n + 1);
  } else {
    return false;  // "/photos" is not a folder of "/photos2"
  }
  return true;
}

bool backup_parts::absolute_path_of(const char* path, char (&out)[kPathBytes],
                                    std::string* problem) {
  char current[kPathBytes] = "/";
  // An absolute path needs no current folder (which may have been deleted).
  if (!is_absolute_path(path) && current_folder(current, sizeof current) < 0) {
    *problem = "the current folder cannot be read";
    return false;
  }
  if (!normalise_path(path, current, out)) {
    *problem = "the path is too long";
    return false;
  }
  return true;
}

bool generation_rank(const char* name, std::uint32_t* rank) {
  for (std::uint32_t k = 0; k < kGenerationCount; ++k) {
    if (length_of_text(name) == 2 && (name[0] == 'F' || name[0] == 'f') &&
        (name[1] == kGenerationNames[k][1] || (k == 10 && name[1] == 'x'))) {
      *rank = k;
      return true;
    }
  }
  return false;
}

namespace {

std::string joined(const std::string& folder, const std::string& name) {
  return name.empty() ? folder : folder + path_rules().separator + name;
}

struct Search {
  std::vector<FileVersion>* versions;
  std::uint32_t generation;  // index into kGenerationNames
};

void add_file(Search& search, const std::string& copy, const std::string& original) {
  FileStamp stamp;
  if (!file_stamp(copy.c_str(), &stamp)) return;
  search.versions->push_back(FileVersion{kGenerationNames[search.generation], search.generation,
                                         static_cast<std::uint64_t>(stamp.size), stamp.write_time,
                                         copy, original, false});
}

void add_link(Search& search, const std::string& copy, const std::string& original,
              std::uint64_t size, std::uint64_t written) {
  search.versions->push_back(FileVersion{kGenerationNames[search.generation], search.generation,
                                         size, written, copy, original, true});
}

// Every file and link of the copy's folder tree, as those of original's
// tree. Links are kept as links: never followed, never entered.
void add_tree(Search& search, const std::string& copy, const std::string& original) {
  FolderIdentity identity{};
  std::int32_t error = 0;
  FolderListing* listing = listing_open(copy.c_str(), &identity, &error);
  if (listing == nullptr) return;
  std::vector<FolderEntry> folders;
  FolderEntry entry;
  while (listing_next(listing, &entry, &error) == ListingStep::entry) {
    if (entry.kind == kFolderEntryFolder) folders.push_back(entry);
    std::uint64_t size = 0;
    std::uint64_t written = 0;
    const char* name = entry.name.c_str();
    if (entry.kind == kFolderEntryFile &&
        listing_file_facts(listing, name, &size, &written, &error)) {
      search.versions->push_back(FileVersion{kGenerationNames[search.generation], search.generation,
                                             size, written, joined(copy, entry.name),
                                             joined(original, entry.name), false});
    } else if (is_link_kind(entry.kind) &&
               listing_link_facts(listing, name, &size, &written, &error)) {
      add_link(search, joined(copy, entry.name), joined(original, entry.name), size, written);
    }
  }
  listing_close(listing);
  for (const FolderEntry& folder : folders) {
    add_tree(search, joined(copy, folder.name), joined(original, folder.name));
  }
}

// The copies of source in every generation, its backed-up folder's copy
// being called name there and rest the path below that folder.
// Whether a folder on the way from the generation down to the copy is a
// link: nothing is then read through it (the link is a copy of its own).
bool through_link(const std::string& generation, const std::string& below) {
  std::string path = generation;
  std::string text;
  std::uint64_t written = 0;
  std::int32_t error = 0;
  for (std::size_t at = 0; at < below.size(); ++at) {
    if (!is_separator(below[at])) continue;
    path = joined(generation, below.substr(0, at));
    if (read_link(path.c_str(), &text, &written, &error)) return true;
  }
  return false;
}

void add_copies(const BackupSettings& settings, const std::string& name, const std::string& rest,
                const std::string& source, std::vector<FileVersion>* versions) {
  const std::string root = root_text(settings);
  const std::string below = joined(name, rest);
  for (std::uint32_t k = 0; k < kGenerationCount; ++k) {
    Search search{versions, k};
    const std::string generation = joined(root, kGenerationNames[k]);
    const std::string copy = joined(generation, below);
    std::string text;
    std::uint64_t written = 0;
    std::int32_t error = 0;
    if (through_link(generation, below)) continue;
    if (read_link(copy.c_str(), &text, &written, &error)) {
      add_link(search, copy, source, text.size(), written);
    } else if (is_folder(copy.c_str())) {
      add_tree(search, copy, source);
    } else {
      add_file(search, copy, source);
    }
  }
}

}  // namespace

bool list_versions(const BackupSettings& settings, const DataFolder& data, const char* path,
                   std::vector<FileVersion>* versions, std::string* problem) {
  versions->clear();
  char source[kPathBytes];
  if (!absolute_path_of(path, source, problem)) return false;
  if (!is_absolute_path(settings.root.c_str())) {
    *problem = "the backup root is not set";
    return false;
  }
  std::vector<NameRecord> records;
  std::string text;
  if (!read_copy_names(data, &records, &text)) {
    *problem =
        std::string("the names of the backed-up folders (") + kBackupNames + ") cannot be read";
    return false;
  }
  std::string rest;
  for (const NameRecord& record : records) {
    if (path_below(record.folder, source, &rest))
      add_copies(settings, record.name, rest, source, versions);
  }
  // A folder backed up before copies' names were recorded has its copy under
  // its own name, when no record gives that name or that folder another.
  std::string folder = source;
  for (;;) {
    const std::string own = copy_name(folder.c_str(), path_rules());
    const auto claims = [&](const NameRecord& record) {
      return same_path(record.name.c_str(), own.c_str()) ||
             same_path(record.folder.c_str(), folder.c_str());
    };
    if (std::none_of(records.begin(), records.end(), claims) && path_below(folder, source, &rest)) {
      add_copies(settings, own, rest, source, versions);
    }
    if (folder.size() <= root_length(folder.c_str())) break;
    const std::int32_t separator = last_separator(folder.c_str());
    if (separator < 0) break;
    folder.resize(
        std::max<std::size_t>(static_cast<std::size_t>(separator), root_length(folder.c_str())));
  }
  // Grouped by file, each file's copies newest generation first.
  std::stable_sort(
      versions->begin(), versions->end(),
      [](const FileVersion& a, const FileVersion& b) { return a.original < b.original; });
  return true;
}

std::string version_line(const FileVersion& version) {
  char time[20] = "";
  if (!local_time_text(version.write_time, time)) copy_text("-", time);
  return version.generation + '\t' + std::to_string(version.size) + '\t' + time + '\t' +
         version.copy + '\n';
}
