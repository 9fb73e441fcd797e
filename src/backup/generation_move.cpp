// One generation merged into the next, over the backup target's
// folder-relative steps: folders merge, an entry of the same path is
// replaced, a link is moved as the entry it is (never followed), and a file
// that must cross file systems is copied whole, then removed.
#include <string>

#include "backup/backup_parts.h"
#include "ports/backup_target.h"
#include "ports/files.h"
#include "ports/paths.h"

namespace backup_parts {

namespace {

struct Mover {
  const CopyPlace& place;
  MoveProblem problem;
  void* context;
  // Always false, so that a report ends the step it is made in.
  bool report(const std::string& path, std::int32_t error) const {
    if (problem != nullptr) problem(context, path.c_str(), error);
    return false;
  }
};

std::string below(const std::string& path, const std::string& name) {
  return path + path_rules().separator + name;
}

bool merge(const Mover& mover, TargetFolder from, TargetFolder to, const std::string& from_path,
           const std::string& to_path);

bool remove_tree(TargetFolder folder, const std::string& name, std::int32_t* error) {
  if (target_entry(folder, name.c_str(), error) == TargetEntry::folder) {
    const TargetFolder inner = target_open_folder(folder, name.c_str(), 0, error);
    if (inner < 0) return false;
    bool removed = true;
    for (const std::string& entry : target_names(inner))
      removed = remove_tree(inner, entry, error) && removed;
    target_close(inner);
    if (!removed) return false;
  }
  return target_remove(folder, name.c_str(), error);
}

// Merges folder name of from into the folder of that name in to (made when
// missing), then removes it once empty.
bool merge_folder(const Mover& mover, TargetFolder from, TargetFolder to, const std::string& name,
                  const std::string& from_path, const std::string& to_path) {
  std::int32_t error = 0;
  const TargetFolder inner_from = target_open_folder(from, name.c_str(), 0, &error);
  if (inner_from < 0) return mover.report(from_path, error);
  const TargetFolder inner_to = target_make_folder(to, name.c_str(), &error)
                                    ? target_open_folder(to, name.c_str(), 0, &error)
                                    : -1;
  if (inner_to < 0) {
    target_close(inner_from);
    return mover.report(to_path, error);
  }
  const bool merged = merge(mover, inner_from, inner_to, from_path, to_path);
  target_close(inner_from);
  target_close(inner_to);
  if (merged && !target_remove(from, name.c_str(), &error)) return mover.report(from_path, error);
  return merged;
}

// A move's temporary beside its copy is told to the record by its path
// below the root.
struct Below {
  const CopyPlace& place;
  std::string folder;
};

void record_below(void* context, const char* name) {
  const auto* at = static_cast<const Below*>(context);
  at->place.record(at->place.context, below(at->folder, name).c_str());
}

// Across file systems a file is copied whole, then removed.
bool copy_across(const Mover& mover, TargetFolder from, TargetFolder to, const std::string& name,
                 const std::string& from_path, const std::string& to_path) {
  Below at{mover.place, to_path.substr(0, to_path.rfind(path_rules().separator))};
  const CopyPlace place{mover.place.scratch, mover.place.record != nullptr ? record_below : nullptr,
                        nullptr, &at};
  std::int32_t error = 0;
  if (target_copy_between(from, name.c_str(), to, place, &error) != kCopyDone)
    return mover.report(to_path, error);
  return target_remove(from, name.c_str(), &error) || mover.report(from_path, error);
}

bool move_entry(const Mover& mover, TargetFolder from, TargetFolder to, const std::string& name,
                const std::string& from_path, const std::string& to_path) {
  std::int32_t error = 0;
  const TargetEntry source = target_entry(from, name.c_str(), &error);
  if (source == TargetEntry::unreadable || source == TargetEntry::none)
    return mover.report(from_path, source == TargetEntry::none ? kErrorMissing : error);
  TargetEntry target = target_entry(to, name.c_str(), &error);
  if (target == TargetEntry::unreadable) return mover.report(to_path, error);
  // Where no link is ever made, one in a generation is left where it is.
  if (!target_makes_links() && source == TargetEntry::link)
    return mover.report(from_path, kErrorLink);
  if (!target_makes_links() && target == TargetEntry::link)
    return mover.report(to_path, kErrorLink);
  const bool folder = source == TargetEntry::folder;
  if (folder && target == TargetEntry::folder)
    return merge_folder(mover, from, to, name, from_path, to_path);
  // A folder replaces a file or a link, and a file a folder, as a move over
  // it would.
  if (target != TargetEntry::none && (folder || target == TargetEntry::folder)) {
    if (!remove_tree(to, name, &error)) return mover.report(to_path, error);
    target = TargetEntry::none;
  }
  if (target_rename(from, name.c_str(), to, &error)) return true;
  if (error != kErrorOtherDevice) return mover.report(from_path, error);
  return folder ? merge_folder(mover, from, to, name, from_path, to_path)
                : copy_across(mover, from, to, name, from_path, to_path);
}

bool merge(const Mover& mover, TargetFolder from, TargetFolder to, const std::string& from_path,
           const std::string& to_path) {
  bool moved = true;
  for (const std::string& name : target_names(from))
    moved =
        move_entry(mover, from, to, name, below(from_path, name), below(to_path, name)) && moved;
  return moved;
}

}  // namespace

bool move_generation_entries(TargetFolder root, const char* from, const char* to,
                             const CopyPlace& place, MoveProblem problem, void* context) {
  const Mover mover{place, problem, context};
  std::int32_t error = 0;
  const TargetFolder source = target_open_folder(root, from, 0, &error);
  if (source < 0) {
    if (error == kErrorMissing) return true;  // no such generation: nothing to move
    return mover.report(from, error);
  }
  bool moved = true;
  if (!target_names(source).empty()) {
    const TargetFolder target =
        target_make_folder(root, to, &error) ? target_open_folder(root, to, 0, &error) : -1;
    moved = target >= 0 ? merge(mover, source, target, from, to) : mover.report(to, error);
    target_close(target);
  }
  target_close(source);
  return moved;
}

bool same_bytes(FileReader a, FileReader b, bool* same, std::int32_t* error) {
  constexpr std::uint32_t kPiece = 1 << 16;
  std::string left(kPiece, '\0');
  std::string right(kPiece, '\0');
  for (;;) {
    const std::int64_t got_left = reader_read(a, left.data(), kPiece, error);
    const std::int64_t got_right = got_left < 0 ? -1 : reader_read(b, right.data(), kPiece, error);
    if (got_left < 0 || got_right < 0) return false;
    if (got_left != got_right || left.compare(0, static_cast<std::size_t>(got_left), right, 0,
                                              static_cast<std::size_t>(got_right)) != 0) {
      *same = false;
      return true;
    }
    if (got_left == 0) {
      *same = true;
      return true;
    }
  }
}

bool same_files(const char* a, const char* b, bool* same, std::int32_t* error) {
  const FileReader first = reader_open(a, error);
  const FileReader second = first < 0 ? -1 : reader_open(b, error);
  const bool compared = second >= 0 && same_bytes(first, second, same, error);
  reader_close(first);
  reader_close(second);
  return compared;
}

bool read_through(const char* path, std::uint64_t* size, std::int32_t* error) {
  const FileReader reader = reader_open(path, error);
  if (reader < 0) return false;
  std::string piece(1 << 16, '\0');
  *size = 0;
  std::int64_t got = 0;
  while ((got = reader_read(reader, piece.data(), static_cast<std::uint32_t>(piece.size()),
                            error)) > 0)
    *size += static_cast<std::uint64_t>(got);
  reader_close(reader);
  return got == 0;
}

}  // namespace backup_parts
