// Time for the core: the platform's millisecond tick.
#pragma once

#include <cstdint>

// Milliseconds of a monotonic clock, low 32 bits (wraps after about 49 days).
std::uint32_t tick_count();
// Blocks the calling thread for ms milliseconds.
void sleep_ms(std::uint32_t ms);
