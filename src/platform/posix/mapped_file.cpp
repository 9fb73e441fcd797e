// POSIX mapped files: open_locked, create_locked (flock), close_handle,
// handle_length, read_at, write_at, extend_to (posix_fallocate), cut_to,
// map_handle and unmap (mmap MAP_SHARED).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "ports/mapped_file.h"

namespace {

OpenFailure failure_of(int error) {
  return error == ENOENT || error == ENOTDIR ? OpenFailure::missing : OpenFailure::failed;
}

bool lock(int fd, int how, OpenFailure* why) {
  while (flock(fd, how | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    *why = errno == EWOULDBLOCK ? OpenFailure::held : OpenFailure::failed;
    return false;
  }
  return true;
}

}  // namespace

namespace {

// Opens a regular file (non-blocking, so a FIFO is refused rather than waited
// on) and takes its lock; not_regular is the failure for anything else.
std::int32_t open_regular_locked(const char* path, int flags, int how, OpenFailure not_regular,
                                 OpenFailure* why) {
  *why = OpenFailure::none;
  const int fd = open(path, flags | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd < 0) {
    *why = failure_of(errno);
    return -1;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    *why = not_regular;
    close(fd);
    return -1;
  }
  if (!lock(fd, how, why)) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

std::int32_t open_locked(const char* path, bool writable, OpenFailure* why) {
  return open_regular_locked(path, writable ? O_RDWR : O_RDONLY, writable ? LOCK_EX : LOCK_SH,
                             OpenFailure::missing, why);
}

std::int32_t create_locked(const char* path, OpenFailure* why) {
  // Never through a link: a new list is a file of its own.
  const int fd =
      open_regular_locked(path, O_RDWR | O_CREAT | O_NOFOLLOW, LOCK_EX, OpenFailure::failed, why);
  if (fd < 0) return -1;
  // Cut only now, holding the lock: never under another holder's mapping.
  if (ftruncate(fd, 0) != 0) {
    *why = OpenFailure::failed;
    close(fd);
    return -1;
  }
  return fd;
}

void close_handle(std::int32_t handle) {
  if (handle >= 0) close(handle);  // closing the last descriptor drops the lock
}

std::int64_t handle_length(std::int32_t handle) {
  struct stat info {};
  return fstat(handle, &info) == 0 ? static_cast<std::int64_t>(info.st_size) : -1;
}

bool read_at(std::int32_t handle, std::uint64_t offset, void* data, std::uint64_t size) {
  auto* into = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t got = pread(handle, into, size, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    into += got;
    offset += static_cast<std::uint64_t>(got);
    size -= static_cast<std::uint64_t>(got);
  }
  return true;
}

bool write_at(std::int32_t handle, std::uint64_t offset, const void* data, std::uint64_t size) {
  const auto* from = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t put = pwrite(handle, from, size, static_cast<off_t>(offset));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    from += put;
    offset += static_cast<std::uint64_t>(put);
    size -= static_cast<std::uint64_t>(put);
  }
  return true;
}

bool extend_to(std::int32_t handle, std::uint64_t length) {
  const std::int64_t now = handle_length(handle);
  if (now < 0) return false;
  if (static_cast<std::uint64_t>(now) >= length) return true;
  return posix_fallocate(handle, now,
                         static_cast<off_t>(length - static_cast<std::uint64_t>(now))) == 0;
}

bool cut_to(std::int32_t handle, std::uint64_t length) {
  return ftruncate(handle, static_cast<off_t>(length)) == 0;
}

std::uint8_t* map_handle(std::int32_t handle, std::uint64_t length, bool writable) {
  if (length == 0) return nullptr;
  void* view =
      mmap(nullptr, length, writable ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, handle, 0);
  return view == MAP_FAILED ? nullptr : static_cast<std::uint8_t*>(view);
}

void prepare_pages(std::uint8_t* at, std::uint64_t length) {
#ifdef MADV_POPULATE_WRITE
  // Page-aligned inward; refused by kernels before 5.14, which is harmless.
  const auto address = reinterpret_cast<std::uintptr_t>(at);
  const std::uintptr_t skip = (4096 - address % 4096) % 4096;
  if (length <= skip) return;
  const std::uint64_t pages = (length - skip) / 4096 * 4096;
  if (pages > 0) (void)madvise(at + skip, pages, MADV_POPULATE_WRITE);
#else
  (void)at;
  (void)length;
#endif
}

void unmap(std::uint8_t* base, std::uint64_t length) {
  if (base != nullptr) munmap(base, length);
}
