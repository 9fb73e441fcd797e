// What the POSIX file layers share among themselves.
#pragma once

#include <time.h>

#include <cstdint>
#include <string>

// Seconds between 1601-01-01 and 1970-01-01.
constexpr std::uint64_t kEpochOffsetSeconds = 11644473600ull;

// A file time in 100-ns units since 1601-01-01 UTC.
std::uint64_t file_time_of(const timespec& time);
// Writes all of data, retrying short writes; false on an error.
bool write_all(int fd, const char* data, std::uint64_t size);
// The user's configuration folder ($XDG_CONFIG_HOME, else ~/.config); ""
// when home is unknown.
std::string config_home();
