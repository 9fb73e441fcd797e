// POSIX files: file_read_start, file_replace, file_readable, make_folders,
// volume_is_removable.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/files.h"
#include "platform/mounts.h"

namespace {

int open_regular_for_reading(const char* path) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return -1;
  }
  return fd;
}

bool write_all(int fd, const char* data, std::uint64_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<std::uint64_t>(written);
  }
  return true;
}

std::string folder_of(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::int64_t file_read_start(const char* path, void* buffer, std::uint64_t size) {
  const int fd = open_regular_for_reading(path);
  if (fd < 0) return -1;
  std::uint64_t total = 0;
  char* into = static_cast<char*>(buffer);
  while (total < size) {
    const ssize_t got = read(fd, into + total, size - total);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      close(fd);
      return -1;
    }
    if (got == 0) break;
    total += static_cast<std::uint64_t>(got);
  }
  close(fd);
  return static_cast<std::int64_t>(total);
}

int file_replace(const char* path, const void* data, std::uint64_t size) {
  std::string temporary = std::string(path) + ".XXXXXX";
  const int fd = mkstemp(temporary.data());
  if (fd < 0) return -1;
  const bool written = write_all(fd, static_cast<const char*>(data), size) && fsync(fd) == 0;
  const bool closed = close(fd) == 0;
  if (!written || !closed || rename(temporary.c_str(), path) != 0) {
    unlink(temporary.c_str());
    return -1;
  }
  // Make the rename itself durable.
  const int folder = open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    fsync(folder);
    close(folder);
  }
  return 0;
}

int file_readable(const char* path) {
  const int fd = open_regular_for_reading(path);
  if (fd < 0) return 0;
  close(fd);
  return 1;
}

int make_folders(const char* path) {
  std::string partial;
  const std::string whole(path);
  std::size_t at = 0;
  while (at <= whole.size()) {
    std::size_t next = whole.find('/', at);
    if (next == std::string::npos) next = whole.size();
    partial = whole.substr(0, next);
    // Existing folders and the root are fine; the final stat decides.
    if (!partial.empty()) mkdir(partial.c_str(), 0755);
    at = next + 1;
  }
  struct stat info {};
  return stat(path, &info) == 0 && S_ISDIR(info.st_mode) ? 0 : -1;
}

int volume_is_removable(const char* path) {
  char resolved[PATH_MAX];
  if (realpath(path, resolved) != nullptr && (std::strncmp(resolved, "/media/", 7) == 0 ||
                                              std::strncmp(resolved, "/run/media/", 11) == 0)) {
    return 1;
  }
  struct stat info {};
  if (stat(path, &info) != 0) return 0;
  return block_device_removable(major(info.st_dev), minor(info.st_dev));
}

namespace {

// File systems whose contents are no files: never listed.
bool is_pseudo_file_system(int fd) {
  struct statfs info {};
  if (fstatfs(fd, &info) != 0) return true;
  static const unsigned long pseudo[] = {
      0x9fa0,      // proc
      0x62656572,  // sysfs
      0x1cd1,      // devpts
      0x27e0eb,    // cgroup
      0x63677270,  // cgroup2
      0x64626720,  // debugfs
      0x74726163,  // tracefs
      0x73636673,  // securityfs
      0xcafe4a11,  // bpf
      0x19800202,  // mqueue
      0x42494e4d,  // binfmt_misc
      0x6165676c,  // pstore
      0x62656570,  // configfs
      0x65735543,  // fusectl
      0x958458f6,  // hugetlbfs
      0x0187,      // autofs
      0x50495045,  // pipefs
      0x534f434b,  // sockfs
  };
  const auto type = static_cast<unsigned long>(info.f_type);
  for (const unsigned long magic : pseudo) {
    if (type == magic) return true;
  }
  // devtmpfs reports itself as tmpfs: recognise it by its mount at /dev.
  constexpr unsigned long kTmpfs = 0x01021994;
  if (type == kTmpfs) {
    struct stat here {};
    struct stat dev {};
    return fstat(fd, &here) == 0 && stat("/dev", &dev) == 0 && here.st_dev == dev.st_dev;
  }
  return false;
}

std::uint32_t kind_of(int folder_fd, const dirent* entry) {
  unsigned char type = entry->d_type;
  if (type == DT_UNKNOWN) {
    struct stat info {};
    if (fstatat(folder_fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) return 0;
    if (S_ISDIR(info.st_mode)) return kFolderEntryFolder;
    if (S_ISREG(info.st_mode)) return kFolderEntryFile;
    type = S_ISLNK(info.st_mode) ? DT_LNK : DT_UNKNOWN;
  }
  if (type == DT_DIR) return kFolderEntryFolder;
  if (type == DT_REG) return kFolderEntryFile;
  if (type == DT_LNK) {
    // Links count only as the regular files they lead to; folders behind
    // links are not entered, so no link can make a scan loop.
    struct stat target {};
    return fstatat(folder_fd, entry->d_name, &target, 0) == 0 && S_ISREG(target.st_mode)
               ? kFolderEntryFile
               : 0;
  }
  return 0;
}

}  // namespace

int read_folder(const char* folder, std::vector<FolderEntry>* entries, FolderIdentity* identity) {
  entries->clear();
  // "" stands for the root: paths formed from it read "/name".
  const int fd =
      open(folder[0] == '\0' ? "/" : folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat info {};
  if (fstat(fd, &info) != 0 || is_pseudo_file_system(fd)) {
    close(fd);
    return -1;
  }
  *identity = FolderIdentity{static_cast<std::uint64_t>(info.st_dev),
                             static_cast<std::uint64_t>(info.st_ino)};
  DIR* listing = fdopendir(fd);
  if (listing == nullptr) {
    close(fd);
    return -1;
  }
  // NOLINTNEXTLINE(concurrency-mt-unsafe): a stream of this call's own, never shared
  while (const dirent* entry = readdir(listing)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    const std::uint32_t kind = kind_of(dirfd(listing), entry);
    if (kind != 0) entries->push_back(FolderEntry{entry->d_name, kind});
  }
  closedir(listing);
  return 0;
}

std::int64_t stat_file_size(const char* path) {
  struct stat info {};
  if (stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  return static_cast<std::int64_t>(info.st_size);
}

int folder_identity(const char* folder, FolderIdentity* identity) {
  struct stat info {};
  if (stat(folder, &info) != 0 || !S_ISDIR(info.st_mode)) return -1;
  *identity = FolderIdentity{static_cast<std::uint64_t>(info.st_dev),
                             static_cast<std::uint64_t>(info.st_ino)};
  return 0;
}

void make_folder(const char* path) {
  mkdir(path, 0755);
}

namespace {

// Seconds between 1601-01-01 and 1970-01-01.
constexpr std::uint64_t kEpochOffsetSeconds = 11644473600ull;

std::uint64_t file_time_of(const timespec& time) {
  return (static_cast<std::uint64_t>(time.tv_sec) + kEpochOffsetSeconds) * 10000000ull +
         static_cast<std::uint64_t>(time.tv_nsec) / 100;
}

}  // namespace

int file_write_time(const char* path, std::uint64_t* time) {
  struct stat info {};
  if (stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  *time = file_time_of(info.st_mtim);
  return 0;
}

std::uint64_t system_time_now() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return file_time_of(now);
}

namespace {

// Copies the open regular file in into out, to its end.
bool copy_contents(int in, int out) {
  char buffer[1 << 16];
  for (;;) {
    const ssize_t got = read(in, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    if (!write_all(out, buffer, static_cast<std::uint64_t>(got))) return false;
  }
}

}  // namespace

int copy_file_replacing(const char* source, const char* destination) {
  const int in = open_regular_for_reading(source);
  if (in < 0) return -1;
  struct stat info {};
  fstat(in, &info);
  std::string temporary = std::string(destination) + ".tessmira-XXXXXX";
  const int out = mkstemp(temporary.data());
  if (out < 0) {
    close(in);
    return -1;
  }
  const timespec times[2] = {info.st_atim, info.st_mtim};
  const bool done =
      copy_contents(in, out) && fchmod(out, info.st_mode & 07777) == 0 && futimens(out, times) == 0;
  close(in);
  const bool closed = close(out) == 0;
  if (!done || !closed || rename(temporary.c_str(), destination) != 0) {
    unlink(temporary.c_str());
    return -1;
  }
  return 0;
}

namespace {

bool remove_tree(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) return errno == ENOENT;
  if (!S_ISDIR(info.st_mode)) return unlink(path.c_str()) == 0;
  DIR* listing = opendir(path.c_str());
  if (listing == nullptr) return false;
  std::vector<std::string> names;
  // NOLINTNEXTLINE(concurrency-mt-unsafe): a stream of this call's own, never shared
  while (const dirent* entry = readdir(listing)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      names.emplace_back(entry->d_name);
    }
  }
  closedir(listing);
  bool removed = true;
  for (const std::string& name : names) {
    std::string child = path;
    child += '/';
    child += name;
    removed = remove_tree(child) && removed;
  }
  return rmdir(path.c_str()) == 0 && removed;
}

// Copies a tree (files, folders, links) across file systems, then removes it.
bool copy_then_remove(const std::string& from, const std::string& to) {
  struct stat info {};
  if (lstat(from.c_str(), &info) != 0) return false;
  if (S_ISDIR(info.st_mode)) {
    mkdir(to.c_str(), info.st_mode & 07777);
    return move_merging(from.c_str(), to.c_str()) == 0 && rmdir(from.c_str()) == 0;
  }
  if (S_ISLNK(info.st_mode)) {
    std::string target(static_cast<std::size_t>(info.st_size) + 1, '\0');
    const ssize_t length = readlink(from.c_str(), target.data(), target.size());
    if (length < 0) return false;
    target.resize(static_cast<std::size_t>(length));
    remove_tree(to);
    return symlink(target.c_str(), to.c_str()) == 0 && unlink(from.c_str()) == 0;
  }
  return copy_file_replacing(from.c_str(), to.c_str()) == 0 && unlink(from.c_str()) == 0;
}

// Moves one entry onto its place in the target folder, merging folders.
bool move_entry(const std::string& from, const std::string& to) {
  struct stat source {};
  struct stat target {};
  if (lstat(from.c_str(), &source) != 0) return false;
  const bool target_exists = lstat(to.c_str(), &target) == 0;
  if (S_ISDIR(source.st_mode) && target_exists && S_ISDIR(target.st_mode)) {
    return move_merging(from.c_str(), to.c_str()) == 0 && rmdir(from.c_str()) == 0;
  }
  // A folder replaces a file and a file a folder, as a move over it would.
  if (target_exists && S_ISDIR(source.st_mode) != S_ISDIR(target.st_mode)) remove_tree(to);
  if (rename(from.c_str(), to.c_str()) == 0) return true;
  return errno == EXDEV && copy_then_remove(from, to);
}

}  // namespace

int move_merging(const char* from, const char* to) {
  DIR* listing = opendir(from);
  if (listing == nullptr) return errno == ENOENT ? 0 : -1;  // no generation: nothing to move
  std::vector<std::string> names;
  // NOLINTNEXTLINE(concurrency-mt-unsafe): a stream of this call's own, never shared
  while (const dirent* entry = readdir(listing)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      names.emplace_back(entry->d_name);
    }
  }
  closedir(listing);
  if (names.empty()) return 0;
  if (make_folders(to) != 0) return -1;
  bool moved = true;
  for (const std::string& name : names) {
    moved = move_entry(std::string(from) + "/" + name, std::string(to) + "/" + name) && moved;
  }
  return moved ? 0 : -1;
}

int is_folder(const char* path) {
  struct stat info {};
  return stat(path, &info) == 0 && S_ISDIR(info.st_mode) ? 1 : 0;
}

std::int32_t current_folder(char* destination, std::uint32_t size) {
  if (getcwd(destination, size) == nullptr) return -1;
  return static_cast<std::int32_t>(std::strlen(destination));
}
