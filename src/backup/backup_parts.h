// What the backup's runs share: the generations' names and the texts of
// their messages.
#pragma once

#include <cstdint>
#include <string>

#include "backup/backup.h"
#include "ports/files.h"
#include "text/text.h"

namespace backup_parts {

// The generation folders under the backup root, newest first.
inline constexpr const char* kGenerationNames[] = {"F0", "F1", "F2", "F3", "F4", "F5",
                                                   "F6", "F7", "F8", "F9", "FX"};
inline constexpr std::uint32_t kGenerationCount = 11;

inline void tell(BackupMessage message, const std::string& line) {
  if (message != nullptr) message(line.c_str());
}

inline std::string reason_of(std::int32_t error) {
  char text[160];
  describe_error(error, text, sizeof text);
  return text;
}

// The backup root without its trailing separator, for paths in messages.
inline std::string root_text(const AppState& state) {
  std::string root = state.settings.backup_root;
  const std::size_t keep = root_length(root.c_str());
  while (root.size() > keep && is_separator(root.back())) root.pop_back();
  return root;
}

}  // namespace backup_parts
