// Win32 single-instance lock: a named mutex in the session's namespace, and a
// file in the data folder opened without sharing, both held (their handles
// kept open) until the process ends. The file reaches every session of the
// user; the mutex covers a data folder where no file can be kept.
#include <windows.h>

#include <string>

#include "platform/win32/win32_files.h"
#include "ports/instance.h"

namespace {

// unavailable: no lock file could be opened there.
InstanceLock lock_file(const std::string& path) {
  HANDLE file = CreateFileW(wide_path(path.c_str()).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr);
  // The handle stays open: held for life.
  if (file != INVALID_HANDLE_VALUE) return InstanceLock::held;
  return GetLastError() == ERROR_SHARING_VIOLATION ? InstanceLock::held_elsewhere
                                                   : InstanceLock::unavailable;
}

}  // namespace

InstanceLock claim_instance_lock(const char* data_folder, const char* name) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
  if (mutex == nullptr) return InstanceLock::unavailable;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return InstanceLock::held_elsewhere;
  }
  // The mutex handle stays open: held for life.
  if (data_folder[0] == '\0') return InstanceLock::held;
  // A lock file that cannot be had leaves the mutex's answer standing.
  return lock_file(std::string(data_folder) + name + ".lock") == InstanceLock::held_elsewhere
             ? InstanceLock::held_elsewhere
             : InstanceLock::held;
}
