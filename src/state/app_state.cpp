#include <cstring>

#include "ports/clock.h"
#include "state/app_state.h"
#include "state/seams.h"
#include "text/text.h"

TestSeams& test_seams() {
  static TestSeams seams;
  return seams;
}

void pause_ms(std::uint32_t ms) {
  if (test_seams().sleep_ms != nullptr) {
    test_seams().sleep_ms(ms);
  } else {
    sleep_ms(ms);
  }
}

std::uint32_t ticks_now() {
  return test_seams().tick_count != nullptr ? test_seams().tick_count() : tick_count();
}

bool fill_random(void* data, std::uint32_t size) {
  return test_seams().random_bytes != nullptr ? test_seams().random_bytes(data, size)
                                              : random_bytes(data, size);
}

bool data_file_path(const DataFolder& data, const char* name, char* path) {
  if (data.usable == 0) return false;
  if (length_of_text(data.folder) + length_of_text(name) >= kPathBytes) return false;
  copy_text(data.folder, path);
  append_text(path, name);
  return true;
}

void strip_to_folder(char* path, const PathRules& rules) {
  const std::uint32_t root = shortest_root(rules);  // "/" or "C:\\"
  const std::uint32_t length = length_of_text(path);
  if (length <= root) return;  // a root or shorter: already a folder
  const std::int32_t separator = last_separator(path, rules);
  std::uint32_t keep = separator < 0 ? length : static_cast<std::uint32_t>(separator);
  if (keep < root) keep += 1;  // a file in the root keeps the root's separator
  path[keep] = '\0';
}

void remember_folder(SettingsBlock& settings, const char* folder, const PathRules& rules) {
  // A folder that does not fit a slot would be stored cut into another path.
  if (length_of_text(folder) >= kPathBytes) return;
  auto& recent = settings.recent_folders;
  for (const auto& entry : recent) {
    if (same_path(entry, folder, rules)) return;
  }
  std::memmove(recent[1], recent[0], sizeof(PathSlot) * (kRecentFolderCount - 1));
  copy_text(folder, recent[0]);
}

void promote_recent_folder(SettingsBlock& settings, std::uint32_t n) {
  if (n == 0 || n >= kRecentFolderCount) return;
  auto& recent = settings.recent_folders;
  PathSlot kept;
  std::memcpy(kept, recent[n], sizeof(PathSlot));
  std::memmove(recent[1], recent[0], sizeof(PathSlot) * n);
  std::memcpy(recent[0], kept, sizeof(PathSlot));
}
