// Win32 single-instance lock: a named mutex in the session's namespace, and a
// file in the data folder whose share mode is the lock (opened for writing
// without sharing when held alone, for reading with read sharing when
// shared), both held (their handles kept open) until the process ends. The
// file reaches every session of the user; the mutex covers a data folder
// where no file can be kept.
#include <windows.h>

#include <string>

#include "platform/win32/win32_files.h"
#include "ports/instance.h"

namespace {

HANDLE open_lock(const std::wstring& path, bool alone, bool create) {
  return CreateFileW(path.c_str(), alone ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                     alone ? 0 : FILE_SHARE_READ, nullptr, create ? OPEN_ALWAYS : OPEN_EXISTING,
                     FILE_ATTRIBUTE_HIDDEN, nullptr);
}

// unavailable: no lock file could be opened there.
InstanceLock lock_file(const std::string& path, LockUse use, bool create) {
  const std::wstring wide = wide_path(path.c_str());
  HANDLE file = open_lock(wide, true, create);
  if (file != INVALID_HANDLE_VALUE && use == LockUse::shared) {
    // Alone: shared from now on, so that the readers that come later share it.
    CloseHandle(file);
    file = open_lock(wide, false, create);
  } else if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION &&
             use == LockUse::shared) {
    file = open_lock(wide, false, create);
    if (file != INVALID_HANDLE_VALUE) return InstanceLock::shared;
  }
  // The handle stays open: held for life.
  if (file != INVALID_HANDLE_VALUE) return InstanceLock::held;
  const DWORD error = GetLastError();
  // Nobody holds a lock whose file is not there, and none is made.
  if (!create && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)) {
    return InstanceLock::held;
  }
  return error == ERROR_SHARING_VIOLATION ? InstanceLock::held_elsewhere
                                          : InstanceLock::unavailable;
}

}  // namespace

InstanceLock claim_instance_lock(const char* data_folder, const char* name, LockUse use,
                                 bool create) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
  if (mutex == nullptr) return InstanceLock::unavailable;
  // The mutex handle stays open: held for life.
  const bool others = GetLastError() == ERROR_ALREADY_EXISTS;
  if (others && use == LockUse::exclusive) {
    CloseHandle(mutex);
    return InstanceLock::held_elsewhere;
  }
  // A lock file that cannot be had leaves the mutex's answer standing.
  const InstanceLock file = data_folder[0] == '\0'
                                ? InstanceLock::unavailable
                                : lock_file(std::string(data_folder) + name + ".lock", use, create);
  if (file == InstanceLock::held_elsewhere || file == InstanceLock::shared) return file;
  return others ? InstanceLock::shared : InstanceLock::held;
}
