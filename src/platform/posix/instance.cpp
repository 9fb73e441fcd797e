// POSIX single-instance lock: claim_instance_lock, an flock held until exit.
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
InstanceLock lock_file(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return InstanceLock::unavailable;
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) return InstanceLock::held;  // kept open: held for life
  const int error = errno;
  close(fd);
  return error == EWOULDBLOCK ? InstanceLock::held_elsewhere : InstanceLock::unavailable;
}

}  // namespace

InstanceLock claim_instance_lock(const char* data_folder, const char* name) {
  if (data_folder[0] != '\0') {
    const InstanceLock lock = lock_file(std::string(data_folder) + name + ".lock");
    if (lock != InstanceLock::unavailable) return lock;
  }
  // Per user: the runtime folder is the user's own; /tmp needs the uid.
  // NOLINTNEXTLINE(concurrency-mt-unsafe): the environment is only set before threads start
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  struct stat info {};
  if (runtime != nullptr && runtime[0] == '/' && stat(runtime, &info) == 0 &&
      S_ISDIR(info.st_mode)) {
    return lock_file(std::string(runtime) + "/" + name);
  }
  return lock_file(std::string("/tmp/") + name + "-" + std::to_string(getuid()));
}
