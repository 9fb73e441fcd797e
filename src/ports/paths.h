// The path convention the core follows: the platform's own.
#pragma once

#include <cstdint>

// Every path and most working texts live in buffers of this size.
constexpr std::uint32_t kPathBytes = 600;

struct PathRules {
  char separator;       // written between a folder and a name
  char also_separator;  // read as a separator too; '\0' when there is none
  // 1: paths compare ignoring ASCII letter case (the file system does).
  std::int32_t fold_case;
  // 1: roots are drives and shares ("C:\", "\\server\share\"), and the root
  // rules count up to "C:\" (3 characters); 0: the root is "/" alone.
  std::int32_t drive_roots;
};

// Linux and the other POSIX systems.
inline constexpr PathRules kSlashRules{'/', '\0', 0, 0};
// Windows: a backslash, a forward slash accepted on input.
inline constexpr PathRules kDriveRules{'\\', '/', 1, 1};

// The rules of the platform the program runs on.
const PathRules& path_rules();
