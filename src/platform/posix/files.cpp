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
#include <vector>

#include "platform/common/seams.h"
#include "platform/common/temporary_names.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/posix_mounts.h"
#include "ports/files.h"

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

std::string folder_of(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

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

namespace {

// The file a link at path leads to, or path itself; a relative link target
// is taken from the link's folder.
std::string resolved_for_writing(const char* path) {
  char target[PATH_MAX];
  const ssize_t length = readlink(path, target, sizeof target - 1);
  if (length <= 0) return path;
  target[length] = '\0';
  if (target[0] == '/') return target;
  const std::string folder = folder_of(path);
  return folder == "/" ? "/" + std::string(target) : folder + "/" + target;
}

}  // namespace

bool file_replace(const char* path, const void* data, std::uint64_t size) {
  const std::string real = resolved_for_writing(path);
  std::string temporary = real + ".XXXXXX";
  disk_change();
  const int fd = mkstemp(temporary.data());
  if (fd < 0) return false;
  const bool written = write_all(fd, static_cast<const char*>(data), size) && fsync(fd) == 0;
  const bool closed = close(fd) == 0;
  if (written && closed) disk_change();
  if (!written || !closed || rename(temporary.c_str(), real.c_str()) != 0) {
    unlink(temporary.c_str());
    return false;
  }
  // Make the rename itself durable.
  const int folder = open(folder_of(real).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    fsync(folder);
    close(folder);
  }
  return true;
}

namespace {

void remove_temporaries_of(const std::string& path) {
  const std::string folder = folder_of(path);
  const std::string base = path.substr(path.rfind('/') + 1);
  DIR* listing = opendir(folder.c_str());
  if (listing == nullptr) return;
  std::vector<std::string> leftovers;
  // NOLINTNEXTLINE(concurrency-mt-unsafe): a stream of this call's own, never shared
  while (const dirent* entry = readdir(listing)) {
    if (is_save_temporary(entry->d_name, base)) leftovers.emplace_back(entry->d_name);
  }
  for (const std::string& name : leftovers) unlinkat(dirfd(listing), name.c_str(), 0);
  closedir(listing);
}

}  // namespace

void file_replace_cleanup(const char* path) {
  // Saves write beside the file a link points to; earlier ones may have
  // written beside the link.
  remove_temporaries_of(path);
  const std::string real = resolved_for_writing(path);
  if (real != path) remove_temporaries_of(real);
}

bool path_taken(const char* path) {
  struct stat info {};
  return lstat(path, &info) == 0;
}

bool rename_replacing(const char* from, const char* to) {
  disk_change();
  return rename(from, to) == 0;
}

bool remove_file(const char* path) {
  disk_change();
  return unlink(path) == 0;
}

bool file_append(const char* path, const void* data, std::uint64_t size) {
  const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  const bool written = write_all(fd, static_cast<const char*>(data), size);
  return close(fd) == 0 && written;
}

bool file_readable(const char* path) {
  const int fd = open_regular_for_reading(path);
  if (fd < 0) return false;
  close(fd);
  return true;
}

bool folder_writable(const char* folder) {
  // The effective user's rights, as a create would be judged; "" is the
  // current folder.
  return faccessat(AT_FDCWD, folder[0] == '\0' ? "." : folder, W_OK | X_OK, AT_EACCESS) == 0;
}

bool make_folders(const char* path) {
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
  return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

bool volume_is_removable(const char* path) {
  char resolved[PATH_MAX];
  if (realpath(path, resolved) != nullptr && (std::strncmp(resolved, "/media/", 7) == 0 ||
                                              std::strncmp(resolved, "/run/media/", 11) == 0)) {
    return true;
  }
  struct stat info {};
  if (stat(path, &info) != 0) return false;
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
    // Gone since it was listed: nothing to name.
    if (fstatat(folder_fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) return 0;
    if (S_ISDIR(info.st_mode)) return kFolderEntryFolder;
    if (S_ISREG(info.st_mode)) return kFolderEntryFile;
    type = S_ISLNK(info.st_mode) ? DT_LNK : DT_UNKNOWN;
  }
  if (type == DT_DIR) return kFolderEntryFolder;
  if (type == DT_REG) return kFolderEntryFile;
  if (type != DT_LNK) return kFolderEntrySpecial;
  // What a link leads to names its kind; a link to anything but a file or a
  // folder is kept as one that leads nowhere a walk goes.
  struct stat target {};
  if (fstatat(folder_fd, entry->d_name, &target, 0) != 0) return kFolderEntryDanglingLink;
  if (S_ISREG(target.st_mode)) return kFolderEntryFileLink;
  return S_ISDIR(target.st_mode) ? kFolderEntryFolderLink : kFolderEntryDanglingLink;
}

}  // namespace

struct FolderListing {
  DIR* stream;
};

FolderListing* listing_open(const char* folder, FolderIdentity* identity, std::int32_t* error) {
  // "" stands for the root: paths formed from it read "/name".
  const int fd =
      open(folder[0] == '\0' ? "/" : folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    *error = errno;
    return nullptr;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || is_pseudo_file_system(fd)) {
    *error = kErrorNoFiles;
    close(fd);
    return nullptr;
  }
  *identity = FolderIdentity{static_cast<std::uint64_t>(info.st_dev),
                             static_cast<std::uint64_t>(info.st_ino)};
  DIR* stream = fdopendir(fd);
  if (stream == nullptr) {
    *error = errno;
    close(fd);
    return nullptr;
  }
  return new FolderListing{stream};
}

ListingStep listing_next(FolderListing* listing, FolderEntry* entry, std::int32_t* error) {
  for (;;) {
    errno = 0;
    // NOLINTNEXTLINE(concurrency-mt-unsafe): a stream of this listing's own, never shared
    const dirent* found = readdir(listing->stream);
    if (found == nullptr) {
      *error = errno;
      return errno == 0 ? ListingStep::end : ListingStep::failed;
    }
    if (std::strcmp(found->d_name, ".") == 0 || std::strcmp(found->d_name, "..") == 0) continue;
    const std::uint32_t kind = kind_of(dirfd(listing->stream), found);
    if (kind == 0) continue;
    entry->name = found->d_name;
    entry->kind = kind;
    return ListingStep::entry;
  }
}

void listing_close(FolderListing* listing) {
  if (listing == nullptr) return;
  closedir(listing->stream);
  delete listing;
}

void describe_error(std::int32_t error, char* text, std::uint32_t size) {
  const char* ours = error == kErrorLink          ? "a symbolic link, not followed"
                     : error == kErrorNotFolder   ? "not a folder"
                     : error == kErrorPathTooLong ? "the path would be too long"
                     : error == kErrorNoFiles     ? "no files can be kept there"
                     : error == kErrorMissing     ? "No such file or directory"
                     : error == kErrorNotName     ? "not a plain name"
                     : error == kErrorOtherDevice ? "on another file system"
                                                  : nullptr;
  char buffer[128];
  // The GNU strerror_r returns its text, which may not be the buffer.
  const char* said = ours != nullptr ? ours : strerror_r(error, buffer, sizeof buffer);
  // A text cut to the caller's room still reads.
  if (size > 0 && std::snprintf(text, size, "%s", said) < 0) text[0] = '\0';
}

std::int64_t stat_file_size(const char* path) {
  struct stat info {};
  if (stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  return static_cast<std::int64_t>(info.st_size);
}

bool folder_identity(const char* folder, FolderIdentity* identity) {
  struct stat info {};
  if (stat(folder, &info) != 0 || !S_ISDIR(info.st_mode)) return false;
  *identity = FolderIdentity{static_cast<std::uint64_t>(info.st_dev),
                             static_cast<std::uint64_t>(info.st_ino)};
  return true;
}

void make_folder(const char* path) {
  mkdir(path, 0755);
}

std::uint64_t file_time_of(const timespec& time) {
  return (static_cast<std::uint64_t>(time.tv_sec) + kEpochOffsetSeconds) * 10000000ull +
         static_cast<std::uint64_t>(time.tv_nsec) / 100;
}

bool file_stamp(const char* path, FileStamp* stamp) {
  struct stat info {};
  if (stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return false;
  *stamp = FileStamp{static_cast<std::int64_t>(info.st_size), file_time_of(info.st_mtim),
                     file_time_of(info.st_ctim), static_cast<std::uint64_t>(info.st_dev),
                     static_cast<std::uint64_t>(info.st_ino)};
  return true;
}

bool file_write_time(const char* path, std::uint64_t* time) {
  struct stat info {};
  if (stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return false;
  *time = file_time_of(info.st_mtim);
  return true;
}

namespace {

bool facts_at(int folder, const char* path, std::uint64_t* size, std::uint64_t* write_time,
              std::int32_t* error) {
  struct stat info {};
  if (fstatat(folder, path, &info, 0) != 0) {
    *error = errno;
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    *error = EINVAL;
    return false;
  }
  *size = static_cast<std::uint64_t>(info.st_size);
  *write_time = file_time_of(info.st_mtim);
  return true;
}

}  // namespace

bool listing_file_facts(FolderListing* listing, const char* name, std::uint64_t* size,
                        std::uint64_t* write_time, std::int32_t* error) {
  return facts_at(dirfd(listing->stream), name, size, write_time, error);
}

bool listing_link_facts(FolderListing* listing, const char* name, std::uint64_t* size,
                        std::uint64_t* write_time, std::int32_t* error) {
  struct stat info {};
  if (fstatat(dirfd(listing->stream), name, &info, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISLNK(info.st_mode)) {
    *error = S_ISLNK(info.st_mode) ? errno : EINVAL;
    return false;
  }
  *size = static_cast<std::uint64_t>(info.st_size);
  *write_time = file_time_of(info.st_mtim);
  return true;
}

bool read_link(const char* path, std::string* target, std::uint64_t* write_time,
               std::int32_t* error) {
  struct stat info {};
  if (lstat(path, &info) != 0 || !S_ISLNK(info.st_mode)) {
    *error = info.st_mode == 0 ? (errno == ENOENT ? kErrorMissing : errno) : EINVAL;
    return false;
  }
  std::vector<char> text(static_cast<std::size_t>(info.st_size) + 2);
  const ssize_t length = readlink(path, text.data(), text.size());
  // A target that grew since the look is read again by the caller's next run.
  if (length < 0 || static_cast<std::size_t>(length) >= text.size()) {
    *error = length < 0 ? errno : EAGAIN;
    return false;
  }
  target->assign(text.data(), static_cast<std::size_t>(length));
  *write_time = file_time_of(info.st_mtim);
  return true;
}

std::uint64_t system_time_now() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return file_time_of(now);
}

bool is_folder(const char* path) {
  struct stat info {};
  return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

std::int32_t current_folder(char* destination, std::uint32_t size) {
  if (getcwd(destination, size) == nullptr) return -1;
  return static_cast<std::int32_t>(std::strlen(destination));
}

namespace {

// Reads up to size bytes, retrying interrupted and short reads; the count,
// less only at the end of the file, or -1.
ssize_t read_fully(int fd, char* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = read(fd, data + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<ssize_t>(done);
}

int open_reading(const char* path, std::int32_t* error) {
  const int fd = open_regular_for_reading(path);
  if (fd < 0) *error = errno == ENOENT ? kErrorMissing : errno;
  return fd;
}

}  // namespace

FileReader reader_open(const char* path, std::int32_t* error) {
  return open_reading(path, error);
}

std::int64_t reader_read(FileReader reader, char* data, std::uint32_t size, std::int32_t* error) {
  const ssize_t got = read_fully(static_cast<int>(reader), data, size);
  if (got < 0) *error = errno;
  return got;
}

void reader_close(FileReader reader) {
  if (reader >= 0) close(static_cast<int>(reader));
}
