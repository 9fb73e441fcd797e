// POSIX files: file_read_start, file_replace, file_readable, make_folders,
// volume_is_removable.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/files.h"

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
  // The block device's removable attribute; a partition carries it on its disk.
  char device[64];
  std::snprintf(device, sizeof device, "/sys/dev/block/%u:%u", major(info.st_dev),
                minor(info.st_dev));
  char device_path[PATH_MAX];
  if (realpath(device, device_path) == nullptr) return 0;  // no block device: tmpfs, overlay...
  const std::string partition = std::string(device_path) + "/partition";
  const std::string disk =
      access(partition.c_str(), F_OK) == 0 ? folder_of(device_path) : std::string(device_path);
  const std::string attribute = disk + "/removable";
  char flag = '0';
  const std::int64_t got = file_read_start(attribute.c_str(), &flag, 1);
  return got == 1 && flag == '1' ? 1 : 0;
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

int read_folder(const char* folder, std::vector<FolderEntry>* entries) {
  entries->clear();
  // "" stands for the root: paths formed from it read "/name".
  const int fd =
      open(folder[0] == '\0' ? "/" : folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  if (is_pseudo_file_system(fd)) {
    close(fd);
    return -1;
  }
  DIR* listing = fdopendir(fd);
  if (listing == nullptr) {
    close(fd);
    return -1;
  }
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
