// POSIX single-instance lock: claim_instance_lock, an flock held until exit,
// exclusive or shared.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "ports/instance.h"

namespace {

// unavailable: no lock file could be opened there.
InstanceLock lock_file(const std::string& path, LockUse use, bool create) {
  const int fd = create ? open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600)
                        : open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  // Nobody holds a lock whose file is not there, and none is made.
  if (fd < 0 && !create && errno == ENOENT) return InstanceLock::held;
  if (fd < 0) return InstanceLock::unavailable;
  // Kept open from here on: held for life.
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
    // Alone: shared from now on, so that the readers that come later share it.
    if (use == LockUse::exclusive || flock(fd, LOCK_SH | LOCK_NB) == 0) return InstanceLock::held;
  } else if (errno == EWOULDBLOCK && use == LockUse::shared && flock(fd, LOCK_SH | LOCK_NB) == 0) {
    return InstanceLock::shared;
  }
  const int error = errno;
  close(fd);
  return error == EWOULDBLOCK ? InstanceLock::held_elsewhere : InstanceLock::unavailable;
}

}  // namespace

InstanceLock claim_instance_lock(const char* data_folder, const char* name, LockUse use,
                                 bool create) {
  if (data_folder[0] != '\0') {
    const InstanceLock lock = lock_file(std::string(data_folder) + name + ".lock", use, create);
    if (lock != InstanceLock::unavailable) return lock;
  }
  // Per user: the runtime folder is the user's own; /tmp needs the uid.
  // NOLINTNEXTLINE(concurrency-mt-unsafe): the environment is only set before threads start
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  struct stat info {};
  if (runtime != nullptr && runtime[0] == '/' && stat(runtime, &info) == 0 &&
      S_ISDIR(info.st_mode)) {
    return lock_file(std::string(runtime) + "/" + name, use, create);
  }
  return lock_file(std::string("/tmp/") + name + "-" + std::to_string(getuid()), use, create);
}
