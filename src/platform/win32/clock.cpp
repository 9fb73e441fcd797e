// Win32 clock: tick_count (GetTickCount64), sleep_ms (Sleep), random_bytes
// (BCryptGenRandom, the system's preferred generator).
#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>

#include "ports/clock.h"

std::uint32_t tick_count() {
  return static_cast<std::uint32_t>(GetTickCount64());
}

void sleep_ms(std::uint32_t ms) {
  Sleep(ms);
}

bool random_bytes(void* data, std::uint32_t size) {
  return BCryptGenRandom(nullptr, static_cast<PUCHAR>(data), size,
                         BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
}
