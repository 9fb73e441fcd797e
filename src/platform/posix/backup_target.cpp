// POSIX backup target: every folder below the root is opened with openat and
// O_NOFOLLOW from the root down, so no link planted inside the backup root
// can lead a write outside it. Copies are written unnamed (O_TMPFILE) where
// the file system allows, else in the root's folder of temporaries, and get
// their name only once whole.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/common/seams.h"
#include "platform/common/temporary_names.h"
#include "platform/posix/posix_files.h"
#include "ports/backup_target.h"

namespace {

const int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

int fd_of(TargetFolder folder) {
  return static_cast<int>(folder);
}

// What is at name inside folder, never following a link: 0 nothing, else the
// st_mode's type bits; -1 with errno on another error.
int kind_at(int folder, const char* name) {
  struct stat info {};
  if (fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) == 0) {
    return static_cast<int>(info.st_mode & S_IFMT);
  }
  return errno == ENOENT ? 0 : -1;
}

// Opens a folder inside parent; a link or a file in its place is named as such.
int open_folder_at(int parent, const char* name, std::int32_t* error) {
  const int fd = openat(parent, name, kFolderFlags);
  if (fd >= 0) return fd;
  *error = errno == ENOENT ? kErrorMissing : errno;
  if (errno == ELOOP || errno == ENOTDIR) {
    const int kind = kind_at(parent, name);
    *error = kind == S_IFLNK ? kErrorLink : kErrorNotFolder;
  }
  return -1;
}

std::string temporary_name(const char* name) {
  // One draw per process, then a simple walk: a taken name is just drawn again.
  static std::uint64_t next = [] {
    std::uint64_t seed = 0;
    if (getrandom(&seed, sizeof seed, 0) != static_cast<ssize_t>(sizeof seed)) {
      seed = static_cast<std::uint64_t>(getpid()) << 32 ^ static_cast<std::uint64_t>(clock());
    }
    return seed;
  }();
  next = next * 6364136223846793005ull + 1442695040888963407ull;
  return ::temporary_name(name, kCopyMark, next >> 16);
}

bool plain_name(const char* name) {
  return name[0] != '\0' && std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0 &&
         std::strchr(name, '/') == nullptr;
}

// Where a copy into folder makes its temporaries: the scratch folder when it
// is on the same file system, else folder itself, its names recorded first.
struct Temporaries {
  int folder;
  const CopyPlace& place;
  bool beside() const { return place.scratch < 0 || folder != fd_of(place.scratch); }
  // A fresh name, told to the record first when it lies beside the copy.
  std::string draw(const char* name) const {
    std::string temporary = temporary_name(name);
    for (int drawn = 1; drawn < 20 && kind_at(folder, temporary.c_str()) != 0; ++drawn)
      temporary = temporary_name(name);
    if (beside() && place.record != nullptr) place.record(place.context, temporary.c_str());
    return temporary;
  }
};

Temporaries temporaries_for(const CopyPlace& place, int folder) {
  struct stat scratch {};
  struct stat there {};
  const bool same = place.scratch >= 0 && fstat(fd_of(place.scratch), &scratch) == 0 &&
                    fstat(folder, &there) == 0 && scratch.st_dev == there.st_dev;
  return Temporaries{same ? fd_of(place.scratch) : folder, place};
}

// Copies size bytes of in to out from the start, a piece at a time; the file
// system may share the blocks. A source that shrank meanwhile ends the copy
// early.
bool copy_contents(int in, int out, std::uint64_t size, const char* source) {
  constexpr std::uint64_t kPiece = 1 << 20;
  std::uint64_t left = size;
  bool ranges = true;
  std::vector<char> buffer;
  while (left > 0) {
    const std::uint64_t want = std::min(left, kPiece);
    ssize_t moved = -1;
    if (ranges) {
      moved = copy_file_range(in, nullptr, out, nullptr, want, 0);
      if (moved < 0 && errno == EINTR) continue;
      // Not between these two file systems: plain reads and writes, from
      // wherever the ranges got to.
      if (moved < 0 && errno != EXDEV && errno != ENOSYS && errno != EINVAL &&
          errno != EOPNOTSUPP) {
        return false;
      }
      ranges = moved >= 0;
    }
    if (!ranges) {
      buffer.resize(kPiece);
      moved = read(in, buffer.data(), want);
      if (moved < 0 && errno == EINTR) continue;
      if (moved < 0 || !write_all(out, buffer.data(), static_cast<std::uint64_t>(moved))) {
        return false;
      }
    }
    copy_piece_read(source);
    if (moved == 0) return true;
    left -= static_cast<std::uint64_t>(moved);
  }
  return true;
}

// Gives the unnamed file out the name target inside folder. 0, or errno
// (EEXIST when the name is taken).
int name_unnamed(int out, int folder, const char* target) {
  if (linkat(out, "", folder, target, AT_EMPTY_PATH) == 0) return 0;
  // Without the privilege AT_EMPTY_PATH may need, through /proc.
  if (errno == ENOENT || errno == EPERM) {
    char self[64];  // "/proc/self/fd/" and at most 11 characters: never cut
    if (std::snprintf(self, sizeof self, "/proc/self/fd/%d", out) > 0 &&
        linkat(AT_FDCWD, self, folder, target, AT_SYMLINK_FOLLOW) == 0)
      return 0;
  }
  return errno;
}

// Names the whole unnamed copy out: straight as name when nothing is there,
// else under a temporary name then renamed over the old copy, a file or a
// link (the rename replaces the link itself, never what it leads to), never
// a folder. 0, or an error.
std::int32_t name_copy(int out, int folder, const char* name, const Temporaries& temporaries) {
  const int first = name_unnamed(out, folder, name);
  if (first != EEXIST) return first;
  if (kind_at(folder, name) == S_IFDIR) return EISDIR;
  const std::string temporary = temporaries.draw(name);
  const int named = name_unnamed(out, temporaries.folder, temporary.c_str());
  if (named != 0) return named;
  if (renameat(temporaries.folder, temporary.c_str(), folder, name) == 0) return 0;
  const std::int32_t error = errno;
  unlinkat(temporaries.folder, temporary.c_str(), 0);
  return error;
}

// Whether the copy's bytes are whole and its facts those of the source.
bool write_whole(int in, int out, const struct stat& info, const char* source) {
  const timespec times[2] = {info.st_atim, info.st_mtim};
  return copy_contents(in, out, static_cast<std::uint64_t>(info.st_size), source) &&
         fchmod(out, info.st_mode & 07777) == 0 && futimens(out, times) == 0;
}

bool source_changed(const CopyPlace& place) {
  return place.held_still != nullptr && !place.held_still(place.context);
}

// Writes the open source in (with info) into folder as name.
std::int32_t copy_open_file(int in, const struct stat& info, int folder, const char* name,
                            const CopyPlace& place, const char* source, std::int32_t* error) {
  const Temporaries temporaries = temporaries_for(place, folder);
  const int out =
      unnamed_files_refused() ? -1 : openat(folder, ".", O_WRONLY | O_TMPFILE | O_CLOEXEC, 0600);
  if (out >= 0) {
    const bool done = write_whole(in, out, info, source);
    if (!done) *error = errno;
    const bool changed = done && source_changed(place);
    if (done && !changed) disk_change();
    if (done && !changed) *error = name_copy(out, folder, name, temporaries);
    close(out);
    if (changed) return kCopyChanged;
    return done && *error == 0 ? kCopyDone : kCopyWriteFailed;
  }
  // No unnamed files here: a temporary name, renamed once the copy is whole.
  const int there = kind_at(folder, name);
  if (there == S_IFDIR || there < 0) {
    *error = there == S_IFDIR ? EISDIR : errno;
    return kCopyWriteFailed;
  }
  const std::string temporary = temporaries.draw(name);
  disk_change();
  const int named = openat(temporaries.folder, temporary.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (named < 0) {
    *error = errno;
    return kCopyWriteFailed;
  }
  bool done = write_whole(in, named, info, source);
  if (!done) *error = errno;
  if (close(named) != 0 && done) {
    *error = errno;
    done = false;
  }
  const bool changed = done && source_changed(place);
  if (done && !changed) disk_change();
  if (done && !changed && renameat(temporaries.folder, temporary.c_str(), folder, name) != 0) {
    *error = errno;
    done = false;
  }
  if (!done || changed) unlinkat(temporaries.folder, temporary.c_str(), 0);
  if (changed) return kCopyChanged;
  return done ? kCopyDone : kCopyWriteFailed;
}

// A move's context: where problems go, and the path below the root for them.
struct Mover {
  MoveProblem problem;
  void* context;
  const CopyPlace& place;
  bool report(const std::string& path, std::int32_t error) const {
    if (problem != nullptr) problem(context, path.c_str(), error);
    return false;
  }
};

std::vector<std::string> names_in(int folder) {
  std::vector<std::string> names;
  const int copy = dup(folder);
  DIR* listing = copy >= 0 ? fdopendir(copy) : nullptr;
  if (listing == nullptr) {
    if (copy >= 0) close(copy);
    return names;
  }
  rewinddir(listing);
  // NOLINTNEXTLINE(concurrency-mt-unsafe): a stream of this call's own, never shared
  while (const dirent* entry = readdir(listing)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
      names.emplace_back(entry->d_name);
  }
  closedir(listing);
  return names;
}

bool remove_tree_at(int folder, const char* name) {
  if (unlinkat(folder, name, 0) == 0) return true;
  if (errno != EISDIR && errno != EPERM) return errno == ENOENT;
  const int inner = openat(folder, name, kFolderFlags);
  if (inner < 0) return false;
  bool removed = true;
  for (const std::string& entry : names_in(inner))
    removed = remove_tree_at(inner, entry.c_str()) && removed;
  close(inner);
  return unlinkat(folder, name, AT_REMOVEDIR) == 0 && removed;
}

bool merge(const Mover& mover, int from, int to, const std::string& from_path,
           const std::string& to_path);

// A moved file's temporary is told to the record by its path below the root.
struct Below {
  const CopyPlace& place;
  std::string folder;
};

void record_below(void* context, const char* name) {
  const auto* below = static_cast<const Below*>(context);
  below->place.record(below->place.context, (below->folder + "/" + name).c_str());
}

// Across file systems: a file is copied whole, then removed; a folder is
// made and merged.
bool move_across(const Mover& mover, int from, int to, const std::string& name,
                 const std::string& from_path, const std::string& to_path, int kind) {
  if (kind == S_IFDIR) {
    disk_change();
    mkdirat(to, name.c_str(), 0755);
    std::int32_t error = 0;
    const int inner_from = open_folder_at(from, name.c_str(), &error);
    const int inner_to = inner_from >= 0 ? open_folder_at(to, name.c_str(), &error) : -1;
    bool moved = inner_to >= 0 && merge(mover, inner_from, inner_to, from_path, to_path);
    if (inner_to < 0) mover.report(inner_from < 0 ? from_path : to_path, error);
    if (inner_from >= 0) close(inner_from);
    if (inner_to >= 0) close(inner_to);
    if (moved) disk_change();
    moved = moved && unlinkat(from, name.c_str(), AT_REMOVEDIR) == 0;
    return moved;
  }
  const int in = openat(from, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  struct stat info {};
  std::int32_t error = errno;
  if (in < 0 || fstat(in, &info) != 0) {
    if (in >= 0) close(in);
    return mover.report(from_path, error);
  }
  disk_change();
  Below below{mover.place, to_path.substr(0, to_path.rfind('/'))};
  const CopyPlace place{mover.place.scratch, mover.place.record != nullptr ? record_below : nullptr,
                        nullptr, &below};
  const bool copied = copy_open_file(in, info, to, name.c_str(), place, "", &error) == kCopyDone;
  close(in);
  if (!copied) return mover.report(to_path, error);
  disk_change();
  return unlinkat(from, name.c_str(), 0) == 0 || mover.report(from_path, errno);
}

bool move_entry(const Mover& mover, int from, int to, const std::string& name,
                const std::string& from_path, const std::string& to_path) {
  const int source = kind_at(from, name.c_str());
  const int target = kind_at(to, name.c_str());
  if (source < 0) return mover.report(from_path, errno);
  if (target < 0) return mover.report(to_path, errno);
  // A link is a copy like a file: moved or replaced as the entry it is,
  // never followed.
  if (target == S_IFLNK && source == S_IFDIR) {
    disk_change();
    if (unlinkat(to, name.c_str(), 0) != 0) return mover.report(to_path, errno);
    return move_entry(mover, from, to, name, from_path, to_path);
  }
  if (source == S_IFDIR && target == S_IFDIR) {
    std::int32_t error = 0;
    const int inner_from = open_folder_at(from, name.c_str(), &error);
    if (inner_from < 0) return mover.report(from_path, error);
    const int inner_to = open_folder_at(to, name.c_str(), &error);
    if (inner_to < 0) {
      close(inner_from);
      return mover.report(to_path, error);
    }
    const bool merged = merge(mover, inner_from, inner_to, from_path, to_path);
    close(inner_from);
    close(inner_to);
    disk_change();
    unlinkat(from, name.c_str(), AT_REMOVEDIR);
    return merged;
  }
  // A folder replaces a file and a file a folder, as a move over it would.
  if (target != 0 && (source == S_IFDIR) != (target == S_IFDIR)) {
    disk_change();
    if (!remove_tree_at(to, name.c_str())) return mover.report(to_path, errno);
  }
  disk_change();
  if (renameat(from, name.c_str(), to, name.c_str()) == 0) return true;
  if (errno != EXDEV) return mover.report(from_path, errno);
  return move_across(mover, from, to, name, from_path, to_path, source);
}

bool merge(const Mover& mover, int from, int to, const std::string& from_path,
           const std::string& to_path) {
  bool moved = true;
  for (const std::string& name : names_in(from)) {
    std::string inner_from = from_path;
    std::string inner_to = to_path;
    inner_from += '/';
    inner_from += name;
    inner_to += '/';
    inner_to += name;
    moved = move_entry(mover, from, to, name, inner_from, inner_to) && moved;
  }
  return moved;
}

}  // namespace

TargetFolder target_open_root(const char* root, int create, std::int32_t* error) {
  if (create == 1 && !make_folders(root)) {
    *error = errno;
    return -1;
  }
  char resolved[PATH_MAX];
  if (realpath(root, resolved) == nullptr) {
    *error = errno == ENOENT ? kErrorMissing : errno;
    return -1;
  }
  const int fd = open(resolved, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) *error = errno;
  return fd;
}

TargetFolder target_open_folder(TargetFolder parent, const char* name, int create,
                                std::int32_t* error) {
  if (!plain_name(name)) {
    *error = kErrorNotName;
    return -1;
  }
  if (create == 1 && mkdirat(fd_of(parent), name, 0755) != 0 && errno != EEXIST) {
    *error = errno;
    return -1;
  }
  return open_folder_at(fd_of(parent), name, error);
}

void target_close(TargetFolder folder) {
  if (folder >= 0) close(fd_of(folder));
}

bool target_folder_identity(TargetFolder folder, FolderIdentity* identity) {
  struct stat info {};
  if (fstat(fd_of(folder), &info) != 0) return false;
  *identity = FolderIdentity{static_cast<std::uint64_t>(info.st_dev),
                             static_cast<std::uint64_t>(info.st_ino)};
  return true;
}

bool target_folder_chain(TargetFolder folder, std::vector<FolderIdentity>* chain) {
  chain->clear();
  int at = dup(fd_of(folder));
  FolderIdentity identity{};
  while (at >= 0 && target_folder_identity(at, &identity)) {
    // The top of the tree is its own parent.
    if (!chain->empty() && chain->back().device == identity.device &&
        chain->back().inode == identity.inode) {
      close(at);
      return true;
    }
    chain->push_back(identity);
    const int parent = openat(at, "..", kFolderFlags);
    close(at);
    at = parent;
  }
  if (at >= 0) close(at);
  return false;
}

std::int32_t target_copy_file(const char* source, TargetFolder folder, const char* name,
                              const CopyPlace& place, CopiedFile* copied, std::int32_t* error) {
  const int in = open(source, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat info {};
  if (in < 0 || fstat(in, &info) != 0 || !S_ISREG(info.st_mode)) {
    *error = in < 0 ? errno : EINVAL;
    if (in >= 0) close(in);
    return kCopyReadFailed;
  }
  *copied = CopiedFile{static_cast<std::uint64_t>(info.st_size), file_time_of(info.st_mtim)};
  const std::int32_t result = copy_open_file(in, info, fd_of(folder), name, place, source, error);
  close(in);
  return result;
}

std::int32_t target_copy_link(const char* source, TargetFolder folder, const char* name,
                              const CopyPlace& place, CopiedFile* copied, std::int32_t* error) {
  std::string text;
  std::uint64_t written = 0;
  if (!read_link(source, &text, &written, error)) return kCopyReadFailed;
  struct stat info {};
  if (lstat(source, &info) != 0) {
    *error = errno;
    return kCopyReadFailed;
  }
  *copied = CopiedFile{text.size(), written};
  if (kind_at(fd_of(folder), name) == S_IFDIR) {
    *error = EISDIR;
    return kCopyWriteFailed;
  }
  const Temporaries temporaries = temporaries_for(place, fd_of(folder));
  const std::string temporary = temporaries.draw(name);
  disk_change();
  if (symlinkat(text.c_str(), temporaries.folder, temporary.c_str()) != 0) {
    *error = errno;
    return kCopyWriteFailed;
  }
  const timespec times[2] = {info.st_atim, info.st_mtim};
  disk_change();
  if (utimensat(temporaries.folder, temporary.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0 ||
      renameat(temporaries.folder, temporary.c_str(), fd_of(folder), name) != 0) {
    *error = errno;
    unlinkat(temporaries.folder, temporary.c_str(), 0);
    return kCopyWriteFailed;
  }
  return kCopyDone;
}

bool target_read_link(TargetFolder folder, const char* name, std::string* target,
                      std::int32_t* error) {
  std::vector<char> text(4097);
  const ssize_t length = readlinkat(fd_of(folder), name, text.data(), text.size());
  if (length < 0 || static_cast<std::size_t>(length) >= text.size()) {
    *error = length < 0 ? errno : ENAMETOOLONG;
    return false;
  }
  target->assign(text.data(), static_cast<std::size_t>(length));
  return true;
}

TargetEntry target_entry(TargetFolder folder, const char* name) {
  const int kind = kind_at(fd_of(folder), name);
  switch (kind) {
    case 0:
      return TargetEntry::none;
    case S_IFREG:
      return TargetEntry::file;
    case S_IFDIR:
      return TargetEntry::folder;
    case S_IFLNK:
      return TargetEntry::link;
    default:
      return TargetEntry::other;
  }
}

bool target_same_bytes(const char* path, TargetFolder folder, const char* name, bool* same,
                       std::int32_t* error) {
  const int there = openat(fd_of(folder), name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (there < 0) {
    *error = errno == ELOOP ? kErrorLink : errno;
    return false;
  }
  const int in = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (in < 0) {
    *error = errno;
    close(there);
    return false;
  }
  const bool compared = same_descriptors(in, there, same, error);
  close(in);
  close(there);
  return compared;
}

void target_clear_scratch(TargetFolder scratch) {
  for (const std::string& name : names_in(fd_of(scratch))) {
    const int kind = kind_at(fd_of(scratch), name.c_str());
    if (kind == S_IFREG || kind == S_IFLNK) unlinkat(fd_of(scratch), name.c_str(), 0);
  }
}

bool target_move_generation(TargetFolder root, const char* from, const char* to,
                            const CopyPlace& place, MoveProblem problem, void* context) {
  const Mover mover{problem, context, place};
  std::int32_t error = 0;
  const int source = open_folder_at(fd_of(root), from, &error);
  if (source < 0) {
    if (error == kErrorMissing) return true;  // no such generation: nothing to move
    mover.report(from, error);
    return false;
  }
  const std::vector<std::string> names = names_in(source);
  bool moved = true;
  if (!names.empty()) {
    disk_change();
    mkdirat(fd_of(root), to, 0755);
    const int target = open_folder_at(fd_of(root), to, &error);
    moved = target >= 0 ? merge(mover, source, target, from, to) : mover.report(to, error);
    if (target >= 0) close(target);
  }
  close(source);
  return moved;
}
