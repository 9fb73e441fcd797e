// Win32 single-instance lock: a named mutex in the session's namespace, and a
// file in the data folder opened without sharing, both held (their handles
// kept open) until the process ends. The file reaches every session of the
// user; the mutex covers a data folder where no file can be kept.
#include <windows.h>

#include <string>

#include "platform/win32/win32_files.h"
#include "ports/instance.h"

namespace {

// 1 held, 0 held by another, -1 no lock file could be opened there.
int lock_file(const std::string& path) {
  HANDLE file = CreateFileW(wide_path(path.c_str()).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr);
  if (file != INVALID_HANDLE_VALUE) return 1;  // the handle stays open: held for life
  return GetLastError() == ERROR_SHARING_VIOLATION ? 0 : -1;
}

}  // namespace

int claim_instance_lock(const char* data_folder, const char* name) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
  if (mutex == nullptr) return -1;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return 0;
  }
  // The mutex handle stays open: held for life.
  if (data_folder[0] == '\0') return 1;
  return lock_file(std::string(data_folder) + name + ".lock") == 0 ? 0 : 1;
}
