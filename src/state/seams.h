// Seams that tests replace before any thread starts, one record for the
// process apart from the state the program runs on; null means the platform's
// own (and so it stays in the program).
#pragma once

#include <cstdint>

struct TestSeams {
  void (*sleep_ms)(std::uint32_t ms) = nullptr;                    // every 500 ms wait
  std::uint32_t (*tick_count)() = nullptr;                         // milliseconds
  bool (*random_bytes)(void* data, std::uint32_t size) = nullptr;  // true when filled
  // Called before and after each decode, on the thread that decodes.
  void (*decoding)(const char* path, std::uint32_t reduction) = nullptr;
  void (*decoded)(const char* path, std::uint32_t reduction, std::uint32_t error) = nullptr;
  // Called whenever the decoded pictures held change, with their count.
  void (*pictures_held)(std::int32_t pictures, std::uint64_t pixels) = nullptr;
};
TestSeams& test_seams();
