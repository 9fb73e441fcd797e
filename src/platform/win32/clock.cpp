// Win32 clock: tick_count (GetTickCount64), sleep_ms (Sleep),
// lower_thread_priority (SetThreadPriority), random_bytes
// (BCryptGenRandom, the system's preferred generator), local_time_text (the
// time zone's rules for that date).
#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>

#include <cstdio>

#include "ports/clock.h"

std::uint32_t tick_count() {
  return static_cast<std::uint32_t>(GetTickCount64());
}

void sleep_ms(std::uint32_t ms) {
  Sleep(ms);
}

void lower_thread_priority() {
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}

bool random_bytes(void* data, std::uint32_t size) {
  return BCryptGenRandom(nullptr, static_cast<PUCHAR>(data), size,
                         BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
}

bool local_time_text(std::uint64_t time, char (&text)[20]) {
  const FILETIME file_time{static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
  SYSTEMTIME utc{};
  SYSTEMTIME local{};
  if (FileTimeToSystemTime(&file_time, &utc) == 0 ||
      SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local) == 0) {
    return false;
  }
  return std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", local.wYear,
                       local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond) == 19;
}
