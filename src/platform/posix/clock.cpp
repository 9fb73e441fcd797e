// POSIX clock: tick_count (CLOCK_MONOTONIC), sleep_ms, lower_thread_priority
// (the thread's own nice value), random_bytes (getrandom), local_time_text
// (localtime_r).
#include <sys/random.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

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

void lower_thread_priority() {
  // Linux keeps a nice value per thread; 10 yields to anything interactive
  // yet still runs on a machine with a core to spare.
  constexpr int kIdleNice = 10;
  (void)setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kIdleNice);
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

bool local_time_text(std::uint64_t time, char (&text)[20]) {
  constexpr std::uint64_t kUnitsPerSecond = 10000000;
  constexpr std::uint64_t kSecondsTo1970 = 11644473600;
  const std::uint64_t seconds = time / kUnitsPerSecond;
  if (seconds < kSecondsTo1970) return false;
  const auto since_1970 = static_cast<time_t>(seconds - kSecondsTo1970);
  tm local{};
  if (localtime_r(&since_1970, &local) == nullptr) return false;
  return std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900,
                       local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                       local.tm_sec) == 19;
}
