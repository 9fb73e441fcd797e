#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "navigation/navigation.h"
#include "platform/files.h"
#include "text/text.h"

namespace {

constexpr std::uint32_t kRecentPicks = 100;
constexpr std::uint32_t kMaxDraws = 101;

// Name order: ASCII letters without case, ties by bytes; so "Linear" steps
// through a folder alphabetically and subfolders come where their names fall.
bool name_before(const FolderEntry& a, const FolderEntry& b) {
  const std::size_t n = std::min(a.name.size(), b.name.size());
  for (std::size_t i = 0; i < n; ++i) {
    auto fold = [](char c) {
      const auto u = static_cast<unsigned char>(c);
      return u >= 'A' && u <= 'Z' ? u + 32 : u;
    };
    const unsigned x = fold(a.name[i]);
    const unsigned y = fold(b.name[i]);
    if (x != y) return x < y;
  }
  if (a.name.size() != b.name.size()) return a.name.size() < b.name.size();
  return a.name < b.name;
}

}  // namespace

std::uint32_t random_in_range(AppState& state, std::uint32_t n) {
  if (n <= 1) return 1;
  std::uint32_t drawn = 0;
  const bool secure = fill_random(state, &drawn, sizeof drawn) == 1;
  std::lock_guard<std::mutex> hold(state.shared_text_lock);
  std::uint32_t& random_state = state.settings.random_state;
  if (secure) {
    random_state = drawn % n + 1;
    return random_state;
  }
  // The fallback generator, its constants as they always were.
  if (random_state != 0) {
    const std::uint32_t s = ((random_state * random_state) & 0xFFFFu) >> 1;
    random_state = s + (ticks_now(state) & 0xFFu);
  } else {
    const std::uint32_t t = ticks_now(state);
    random_state = (t * t) & 0xFFFFu;
  }
  std::uint32_t r = (random_state * n) >> 12;
  while (r > n) r -= n;
  return r;
}

std::uint32_t file_size(const char* path) {
  const std::int64_t size = stat_file_size(path);
  return size < 0 ? 0 : static_cast<std::uint32_t>(size);
}

std::uint32_t scan_folder(AppState& state, std::uint32_t count, PathSlot* list,
                          const char* folder) {
  if (count > kFolderLimit) return count;
  std::vector<FolderEntry> entries;
  FolderIdentity identity{};
  if (read_folder(folder, &entries, &identity) != 0) return count;
  // A catalog drive's scan stays on its file system.
  if (state.scan.scan_device != 0 && identity.device != state.scan.scan_device) return count;
  std::sort(entries.begin(), entries.end(), name_before);
  for (const FolderEntry& entry : entries) {
    count = scan_entry(state, entry.kind, entry.name.c_str(), count, folder, list);
    if (count >= kListLimit) break;
  }
  return count;
}

std::uint32_t scan_entry(AppState& state, std::uint32_t kind, const char* name, std::uint32_t count,
                         const char* folder, PathSlot* list) {
  char path[kPathBytes];
  if (kind == kFolderEntryFolder) {
    // Asked first, so a folder named "low" costs a draw in every mode.
    const bool admitted = admit_subfolder(state, name) == 1;
    const std::uint32_t mode = read_shared(state.settings.select_mode);
    if (admitted && (mode == 1 || mode == 3) && join_path(folder, name, path) == 1) {
      count = scan_folder(state, count, list, path);
    }
    return count;
  }
  if (kind != kFolderEntryFile) return count;
  switch (state.scan.scan_mode.load()) {
    case 1: {
      if (image_type_of(state, name) == 0 || join_path(folder, name, path) == 0) return count;
      copy_text(path, list[count]);
      std::lock_guard<std::mutex> hold(state.shared_text_lock);
      if (std::strcmp(path, state.settings.image_path) == 0) {
        state.worker.current_index = static_cast<std::int32_t>(count);
      }
      return count + 1;
    }
    case 2:
      return state.scan.catalog_add_file != nullptr
                 ? state.scan.catalog_add_file(state, folder, name, count)
                 : count;
    default:
      return count;
  }
}

std::int32_t admit_subfolder(AppState& state, const char* name) {
  if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return 0;
  char lowered[kPathBytes];
  if (length_of_text(name) >= kPathBytes) return 1;  // too long to be "low"
  copy_text(name, lowered);
  lower_text(lowered);
  if (std::strcmp(lowered, "low") == 0) return random_in_range(state, 50) > 40 ? 1 : 0;
  return 1;
}

std::int32_t image_type_of(const AppState& state, const char* name) {
  char extension[kPathBytes];
  right_text(name, extension, 4);
  lower_text(extension);
  if (std::strcmp(extension, ".bmp") == 0) return state.settings.show_bmp ? 1 : 0;
  if (std::strcmp(extension, ".jpg") == 0) return state.settings.show_jpg ? 2 : 0;
  if (std::strcmp(extension, ".gif") == 0) return state.settings.show_gif ? 3 : 0;
  return 0;
}

std::int32_t check_recent_pick(AppState& state, std::uint32_t n, std::uint32_t draw) {
  std::lock_guard<std::mutex> hold(state.shared_text_lock);
  std::uint32_t* picks = state.settings.recent_picks;
  const std::uint32_t window = n >= kRecentPicks ? kRecentPicks : n - 3;
  for (std::uint32_t i = 0; i < window; ++i) {
    if (picks[i] == draw) return -1;
  }
  std::memmove(picks + 1, picks, sizeof(std::uint32_t) * (kRecentPicks - 1));
  picks[0] = draw;
  return static_cast<std::int32_t>(draw);
}

namespace {

// Scans the folder in path into the view list, under the scan claim the
// caller holds. Returns the wanted index: the shown image's slot, -1 when it
// is not listed, -2 when there is no memory for a list.
std::int32_t build_list(AppState& state, const char* folder) {
  // The block is kept from one rebuild to the next: a fresh 60,000,000 bytes
  // costs the kernel far more to hand out than the scan itself takes. Slots
  // past the new count are cleared, so the list reads as a fresh one.
  const std::uint32_t old_count =
      state.scan.file_list != nullptr ? state.worker.file_count.load() : 0;
  if (state.scan.file_list == nullptr) {
    state.scan.file_list = static_cast<PathSlot*>(std::calloc(kListSlots, sizeof(PathSlot)));
    if (state.scan.file_list == nullptr) {
      state.worker.file_count = 0;
      return -2;
    }
  }
  state.worker.current_index = -1;
  const std::uint32_t count = scan_folder(state, 0, state.scan.file_list, folder);
  if (old_count > count) {
    std::memset(state.scan.file_list[count], 0, sizeof(PathSlot) * (old_count - count));
  }
  state.worker.file_count = count;
  const std::int32_t wanted = state.worker.current_index.load();
  if (wanted == -1) state.worker.current_index = 0;
  state.worker.page_step = count >= 100 ? count / 10 : 10;
  return wanted;
}

std::uint32_t random_slot(AppState& state, std::uint32_t count) {
  std::uint32_t draw = 0;
  std::uint32_t draws = 0;
  bool accepted = false;
  while (!accepted && draws < kMaxDraws) {
    draw = random_in_range(state, count);
    ++draws;
    accepted = count <= 4 || check_recent_pick(state, count, draw) != -1;
  }
  if (draws == kMaxDraws || draw > count || draw == 0) return 0;
  return draw - 1;
}

}  // namespace

std::uint32_t pick_file(AppState& state, char path[kPathBytes], std::uint32_t mode,
                        std::int32_t index, std::int32_t list_use) {
  std::int32_t wanted = index;
  const bool want_build =
      list_use != 2 || state.scan.file_list == nullptr || state.worker.file_count.load() == 0;
  std::int32_t idle = 0;
  if (want_build && state.scan.scan_mode.compare_exchange_strong(idle, 1)) {
    wanted = build_list(state, path);
    state.scan.scan_mode = 0;
    if (wanted == -2) return 0;  // no memory for the list
  }
  const std::uint32_t count = state.worker.file_count.load();
  if (count > 0) {
    std::uint32_t slot;
    if (mode >= 2 && wanted == -1) {
      slot = random_slot(state, count);
    } else {
      slot = static_cast<std::uint32_t>(wanted) >= count ? 0 : static_cast<std::uint32_t>(wanted);
    }
    state.worker.current_index = static_cast<std::int32_t>(slot);
    copy_text(state.scan.file_list[slot], path);
  } else {
    std::free(state.scan.file_list);
    state.scan.file_list = nullptr;
  }
  return count;
}
