// What the backup's runs share: the generations' names and the texts of
// their messages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// A folder's copy in the generations goes by a name recorded for it in
// kBackupNames (name, then the folder it is a copy of).
struct NameRecord {
  std::string name;
  std::string folder;
};
// The records, and the file's text; false when it cannot be read whole (a
// missing file holds none).
bool read_copy_names(const AppState& state, std::vector<NameRecord>* records, std::string* text);
// A folder's own copy name: its last component, "root" for a root ("/",
// "C:\\"); another when that one is taken (the record says which).
std::string copy_name(const char* folder, const PathRules& rules);

// The absolute, normalised spelling of path (relative ones from the current
// folder) in out; false with problem set when it cannot be had.
bool absolute_path_of(const char* path, char (&out)[kPathBytes], std::string* problem);
// The part of path below folder: "" for folder itself; false when folder is
// neither path nor one of its folders.
bool path_below(const std::string& folder, const std::string& path, std::string* rest);

// The backup root without its trailing separator, for paths in messages.
inline std::string root_text(const AppState& state) {
  std::string root = state.settings.backup_root;
  const std::size_t keep = root_length(root.c_str());
  while (root.size() > keep && is_separator(root.back())) root.pop_back();
  return root;
}

}  // namespace backup_parts
