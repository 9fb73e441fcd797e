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

// Tells the caller of a staged copy where its temporary is.
void stage(const CopyPlace& place, int within, const std::string& temporary, int folder,
           const char* name) {
  *place.staged = StagedCopy{within, temporary, folder, name, -1};
}

// Names the whole unnamed copy out, or with a staged copy asked for, gives it
// a temporary name only. 0, or an error.
std::int32_t finish_unnamed(int out, int folder, const char* name, const CopyPlace& place,
                            const Temporaries& temporaries) {
  if (place.staged == nullptr) return name_copy(out, folder, name, temporaries);
  const std::string temporary = temporaries.draw(name);
  const int named = name_unnamed(out, temporaries.folder, temporary.c_str());
  if (named == 0) stage(place, temporaries.folder, temporary, folder, name);
  return named;
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
    if (done && !changed) *error = finish_unnamed(out, folder, name, place, temporaries);
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
  if (done && !changed && place.staged != nullptr) {
    stage(place, temporaries.folder, temporary, folder, name);
    return kCopyDone;
  }
  if (done && !changed) disk_change();
  if (done && !changed && renameat(temporaries.folder, temporary.c_str(), folder, name) != 0) {
    *error = errno;
    done = false;
  }
  if (!done || changed) unlinkat(temporaries.folder, temporary.c_str(), 0);
  if (changed) return kCopyChanged;
  return done ? kCopyDone : kCopyWriteFailed;
}

// Makes name inside folder a link of target text with the times of info:
// made under a temporary name, then renamed over name (never a folder).
std::int32_t make_link(const std::string& text, const struct stat& info, int folder,
                       const char* name, const CopyPlace& place, std::int32_t* error) {
  if (kind_at(folder, name) == S_IFDIR) {
    *error = EISDIR;
    return kCopyWriteFailed;
  }
  const Temporaries temporaries = temporaries_for(place, folder);
  const std::string temporary = temporaries.draw(name);
  disk_change();
  if (symlinkat(text.c_str(), temporaries.folder, temporary.c_str()) != 0) {
    *error = errno;
    return kCopyWriteFailed;
  }
  const timespec times[2] = {info.st_atim, info.st_mtim};
  disk_change();
  const bool timed =
      utimensat(temporaries.folder, temporary.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
  if (timed && place.staged != nullptr) {
    stage(place, temporaries.folder, temporary, folder, name);
    return kCopyDone;
  }
  if (!timed || renameat(temporaries.folder, temporary.c_str(), folder, name) != 0) {
    *error = errno;
    unlinkat(temporaries.folder, temporary.c_str(), 0);
    return kCopyWriteFailed;
  }
  return kCopyDone;
}

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
  return make_link(text, info, fd_of(folder), name, place, error);
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

TargetEntry target_entry(TargetFolder folder, const char* name, std::int32_t* error) {
  const int kind = kind_at(fd_of(folder), name);
  switch (kind) {
    case -1:
      *error = errno;
      return TargetEntry::unreadable;
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

FileReader target_reader_open(TargetFolder folder, const char* name, std::int32_t* error) {
  const int fd = openat(fd_of(folder), name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  struct stat info {};
  if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    *error = fd >= 0           ? EINVAL
             : errno == ELOOP  ? kErrorLink
             : errno == ENOENT ? kErrorMissing
                               : errno;
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

void target_clear_scratch(TargetFolder scratch) {
  for (const std::string& name : names_in(fd_of(scratch))) {
    const int kind = kind_at(fd_of(scratch), name.c_str());
    if (kind == S_IFREG || kind == S_IFLNK) unlinkat(fd_of(scratch), name.c_str(), 0);
  }
}

std::vector<std::string> target_names(TargetFolder folder) {
  return names_in(fd_of(folder));
}

bool target_make_folder(TargetFolder parent, const char* name, std::int32_t* error) {
  disk_change();
  if (mkdirat(fd_of(parent), name, 0755) == 0) return true;
  *error = errno;
  if (*error != EEXIST) return false;
  const int kind = kind_at(fd_of(parent), name);
  *error = kind == S_IFLNK ? kErrorLink : kErrorNotFolder;
  return kind == S_IFDIR;
}

bool target_remove(TargetFolder folder, const char* name, std::int32_t* error) {
  const int kind = kind_at(fd_of(folder), name);
  if (kind == 0) return true;
  disk_change();
  if (kind > 0 && unlinkat(fd_of(folder), name, kind == S_IFDIR ? AT_REMOVEDIR : 0) == 0)
    return true;
  *error = errno == ENOENT ? 0 : errno;
  return errno == ENOENT;
}

bool target_rename(TargetFolder from, const char* name, TargetFolder to, std::int32_t* error) {
  if (renames_cross_devices()) {
    *error = kErrorOtherDevice;
    return false;
  }
  disk_change();
  if (renameat(fd_of(from), name, fd_of(to), name) == 0) return true;
  *error = errno == EXDEV ? kErrorOtherDevice : errno;
  return false;
}

std::int32_t target_copy_between(TargetFolder from, const char* name, TargetFolder to,
                                 const CopyPlace& place, std::int32_t* error) {
  // A link is copied as the link it is.
  struct stat facts {};
  std::string text;
  if (fstatat(fd_of(from), name, &facts, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(facts.st_mode)) {
    if (!target_read_link(from, name, &text, error)) return kCopyReadFailed;
    disk_change();
    return make_link(text, facts, fd_of(to), name, place, error);
  }
  const int in = static_cast<int>(target_reader_open(from, name, error));
  struct stat info {};
  if (in < 0 || fstat(in, &info) != 0) {
    if (in >= 0) close(in);
    return kCopyReadFailed;
  }
  disk_change();
  const std::int32_t result = copy_open_file(in, info, fd_of(to), name, place, "", error);
  close(in);
  return result;
}

bool target_makes_links() {
  return true;
}

bool target_flush(std::vector<StagedCopy>& staged, const std::vector<StagedCopy>& named,
                  std::int32_t* error) {
  // One syncfs for each file system: the bytes and the names of all its
  // copies at once.
  std::vector<dev_t> flushed;
  auto flush_on = [&](TargetFolder folder) {
    struct stat info {};
    if (fstat(fd_of(folder), &info) != 0) {
      *error = errno;
      return false;
    }
    if (std::find(flushed.begin(), flushed.end(), info.st_dev) != flushed.end()) return true;
    if (syncfs(fd_of(folder)) != 0) {
      *error = errno;
      return false;
    }
    flushed.push_back(info.st_dev);
    return true;
  };
  for (const StagedCopy& copy : staged)
    if (!flush_on(copy.within)) return false;
  for (const StagedCopy& copy : named)
    if (!flush_on(copy.folder)) return false;
  disk_flushed();
  return true;
}

bool target_name_staged(StagedCopy& staged, std::int32_t* error) {
  const int folder = fd_of(staged.folder);
  const int within = fd_of(staged.within);
  *error = kind_at(folder, staged.name.c_str()) == S_IFDIR ? EISDIR : 0;
  if (*error == 0) {
    disk_change();
    if (renameat(within, staged.temporary.c_str(), folder, staged.name.c_str()) == 0) return true;
    *error = errno;
  }
  target_drop_staged(staged);
  return false;
}

void target_drop_staged(StagedCopy& staged) {
  disk_change();
  unlinkat(fd_of(staged.within), staged.temporary.c_str(), 0);
}
