// Time, threads and randomness for the core.
#pragma once

#include <cstdint>

// Milliseconds of a monotonic clock, low 32 bits (wraps after about 49 days).
std::uint32_t tick_count();
// Blocks the calling thread for ms milliseconds.
void sleep_ms(std::uint32_t ms);
// Lowers the calling thread's scheduling priority (for work done while the
// user is idle, which must never slow what they asked for).
void lower_thread_priority();
// Fills size bytes from the system's cryptographic source. True when done.
bool random_bytes(void* data, std::uint32_t size);
// A time in 100-ns units since 1601-01-01 UTC as the local calendar time
// "YYYY-MM-DD HH:MM:SS" in text; false when it has none (out of range).
bool local_time_text(std::uint64_t time, char (&text)[20]);
