#include "walk/walk.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "text/text.h"

namespace {

// Name order: ASCII letters without case, ties by bytes; so "Linear" steps
// through a folder alphabetically and subfolders come where their names fall.
bool name_before(const FolderEntry& a, const FolderEntry& b) {
  const std::size_t n = std::min(a.name.size(), b.name.size());
  for (std::size_t i = 0; i < n; ++i) {
    auto fold = [](char c) {
      const auto u = static_cast<unsigned char>(c);
      return u >= 'A' && u <= 'Z' ? u + 32 : u;
    };
    const unsigned x = fold(a.name[i]);
    const unsigned y = fold(b.name[i]);
    if (x != y) return x < y;
  }
  if (a.name.size() != b.name.size()) return a.name.size() < b.name.size();
  return a.name < b.name;
}

// The folder's folders and regular files, links to files among them (no
// ".", "..", devices, FIFOs, sockets, links to folders or dangling links);
// the listing stays open for their facts (null when the folder could not be
// read, or lies on a pseudo file system). Sorted after, so the folder is
// listed whole.
FolderListing* read_folder(const char* folder, std::vector<FolderEntry>* entries,
                           FolderIdentity* identity) {
  entries->clear();
  std::int32_t error = 0;
  FolderListing* listing = listing_open(folder, identity, &error);
  if (listing == nullptr) return nullptr;
  FolderEntry entry;
  while (listing_next(listing, &entry, &error) == ListingStep::entry) {
    // A link to a picture shows the picture.
    if (entry.kind == kFolderEntryFileLink) entry.kind = kFolderEntryFile;
    if (entry.kind == kFolderEntryFolder || entry.kind == kFolderEntryFile) {
      entries->push_back(entry);
    }
  }
  return listing;
}

}  // namespace

bool dot_folder(const char* name) {
  return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

bool low_folder(const char* name) {
  char lowered[kPathBytes];
  if (length_of_text(name) >= kPathBytes) return false;  // too long to be "low"
  copy_text(name, lowered);
  lower_text(lowered);
  return std::strcmp(lowered, "low") == 0;
}

std::uint32_t file_size(const char* path) {
  const std::int64_t size = stat_file_size(path);
  return size < 0 ? 0 : static_cast<std::uint32_t>(size);
}

std::uint32_t walk_folder(Walk& walk, std::uint32_t count, const char* folder) {
  if (count > kFolderLimit) return count;
  std::vector<FolderEntry> entries;
  FolderIdentity identity{};
  FolderListing* listing = read_folder(folder, &entries, &identity);
  if (listing == nullptr) return count;
  // A catalog drive's walk stays on its file system.
  if (walk.device != 0 && identity.device != walk.device) {
    listing_close(listing);
    return count;
  }
  std::sort(entries.begin(), entries.end(), name_before);
  for (const FolderEntry& entry : entries) {
    // A subfolder's walk had its own.
    walk.listing = listing;
    count = walk_entry(walk, entry.kind, entry.name.c_str(), count, folder);
    if (count >= kListLimit) break;
  }
  walk.listing = nullptr;
  listing_close(listing);
  return count;
}

std::uint32_t walk_entry(Walk& walk, std::uint32_t kind, const char* name, std::uint32_t count,
                         const char* folder) {
  if (kind == kFolderEntryFolder) {
    char path[kPathBytes];
    // Asked first, so that the admission's own cost (a draw) comes in every mode.
    const bool admitted = walk.admit == nullptr || walk.admit(walk.context, name);
    if (admitted && walk.deep && join_path(folder, name, path)) {
      count = walk_folder(walk, count, path);
    }
    return count;
  }
  return kind == kFolderEntryFile ? walk.file(walk.context, folder, name, count) : count;
}
