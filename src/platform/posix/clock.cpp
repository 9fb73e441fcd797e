// POSIX clock: tick_count (CLOCK_MONOTONIC), sleep_ms, random_bytes (getrandom).
#include <sys/random.h>
#include <time.h>

#include <cerrno>

#include "ports/clock.h"

std::uint32_t tick_count() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const std::uint64_t ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                           static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(ms);
}

void sleep_ms(std::uint32_t ms) {
  timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0) {
  }
}

bool random_bytes(void* data, std::uint32_t size) {
  auto* into = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t got = getrandom(into, size, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    into += got;
    size -= static_cast<std::uint32_t>(got);
  }
  return true;
}
