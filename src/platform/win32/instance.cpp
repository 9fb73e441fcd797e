// Win32 single-instance lock: a named mutex in the session's namespace, held
// (its handle kept open) until the process ends.
#include <windows.h>

#include "platform/instance.h"

int claim_instance_lock(const char* name) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
  if (mutex == nullptr) return -1;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return 0;
  }
  return 1;  // the handle stays open: held for life
}
