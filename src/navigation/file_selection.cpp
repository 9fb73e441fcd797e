#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "navigation/navigation.h"
#include "ports/files.h"
#include "text/text.h"

namespace {

constexpr std::uint32_t kRecentPicks = kHistoryCount;

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

namespace {

// The folder's folders and regular files, links to files among them (no
// ".", "..", devices, FIFOs, sockets, links to folders or dangling links), in
// the order the file system gives them; false
// when it cannot be listed or lies on a pseudo file system (proc, sysfs,
// devtmpfs and the like). Sorted after, so the folder is listed whole.
// The folder's files and subfolders; the listing stays open for their facts
// (null when the folder could not be read).
FolderListing* read_folder(const char* folder, std::vector<FolderEntry>* entries,
                           FolderIdentity* identity) {
  entries->clear();
  std::int32_t error = 0;
  FolderListing* listing = listing_open(folder, identity, &error);
  if (listing == nullptr) return nullptr;
  FolderEntry entry;
  while (listing_next(listing, &entry, &error) == ListingStep::entry) {
    // A link to a picture shows the picture.
    if (entry.kind == kFolderEntryFileLink) entry.kind = kFolderEntryFile;
    if (entry.kind == kFolderEntryFolder || entry.kind == kFolderEntryFile) {
      entries->push_back(entry);
    }
  }
  return listing;
}

// One random word: a word given back by a thrown-away pick first, else the
// source's own. false when the source failed (the fallback then draws).
bool take_random_word(AppState& state, std::uint32_t* word) {
  {
    std::lock_guard<std::mutex> hold(state.viewer.texts);
    PrefetchState& prefetch = state.viewer.prefetch;
    if (prefetch.returned_count > 0) {
      *word = prefetch.returned[0];
      --prefetch.returned_count;
      std::memmove(prefetch.returned, prefetch.returned + 1,
                   sizeof(std::uint32_t) * prefetch.returned_count);
      return true;
    }
  }
  return fill_random(word, sizeof *word);
}

// 1..n on random_state from a word of the source, or 0..n from the fallback.
std::uint32_t range_of(std::uint32_t n, bool secure, std::uint32_t word,
                       std::uint32_t& random_state) {
  if (secure) {
    random_state = word % n + 1;
    return random_state;
  }
  // The fallback generator, its constants as they always were.
  if (random_state != 0) {
    const std::uint32_t s = ((random_state * random_state) & 0xFFFFu) >> 1;
    random_state = s + (ticks_now() & 0xFFu);
  } else {
    const std::uint32_t t = ticks_now();
    random_state = (t * t) & 0xFFFFu;
  }
  std::uint32_t r = (random_state * n) >> 12;
  while (r > n) r -= n;
  return r;
}

// check_recent_pick on the picks given.
std::int32_t check_recent_in(std::uint32_t* picks, std::uint32_t n, std::uint32_t draw) {
  const std::uint32_t window = n >= kRecentPicks ? kRecentPicks : n - 3;
  for (std::uint32_t i = 0; i < window; ++i) {
    if (picks[i] == draw) return -1;
  }
  std::memmove(picks + 1, picks, sizeof(std::uint32_t) * (kRecentPicks - 1));
  picks[0] = draw;
  return static_cast<std::int32_t>(draw);
}

// Adds path at the view list's end; may throw std::bad_alloc.
void list_append(ViewList* list, const char* path) {
  const std::uint32_t bytes = length_of_text(path) + 1;
  if (list->used_blocks == 0 ||
      list->blocks[list->used_blocks - 1].size() + bytes > kListBlockBytes) {
    if (list->used_blocks == list->blocks.size()) {
      list->blocks.emplace_back();
      list->blocks.back().reserve(kListBlockBytes);
    }
    ++list->used_blocks;
  }
  std::vector<char>& block = list->blocks[list->used_blocks - 1];
  list->starts.push_back((list->used_blocks - 1) * kListBlockBytes +
                         static_cast<std::uint32_t>(block.size()));
  block.insert(block.end(), path, path + bytes);
}

}  // namespace

std::uint32_t random_in_range(AppState& state, std::uint32_t n) {
  if (n <= 1) return 1;
  std::uint32_t word = 0;
  const bool secure = take_random_word(state, &word);
  std::lock_guard<std::mutex> hold(state.viewer.texts);
  return range_of(n, secure, word, state.settings.random_state);
}

std::uint32_t file_size(const char* path) {
  const std::int64_t size = stat_file_size(path);
  return size < 0 ? 0 : static_cast<std::uint32_t>(size);
}

std::uint32_t scan_folder(AppState& state, std::uint32_t count, const char* folder,
                          const ScanVisit& visit) {
  if (count > kFolderLimit) return count;
  std::vector<FolderEntry> entries;
  FolderIdentity identity{};
  FolderListing* listing = read_folder(folder, &entries, &identity);
  if (listing == nullptr) return count;
  // A catalog drive's scan stays on its file system.
  if (state.scans.device != 0 && identity.device != state.scans.device) {
    listing_close(listing);
    return count;
  }
  std::sort(entries.begin(), entries.end(), name_before);
  for (const FolderEntry& entry : entries) {
    // A subfolder's scan had its own.
    state.scans.listing = listing;
    count = scan_entry(state, entry.kind, entry.name.c_str(), count, folder, visit);
    if (count >= kListLimit) break;
  }
  state.scans.listing = nullptr;
  listing_close(listing);
  return count;
}

std::uint32_t scan_entry(AppState& state, std::uint32_t kind, const char* name, std::uint32_t count,
                         const char* folder, const ScanVisit& visit) {
  if (kind == kFolderEntryFolder) {
    char path[kPathBytes];
    // Asked first, so a folder named "low" costs a draw in every mode.
    const bool admitted = admit_subfolder(state, name);
    // A catalog takes every file of its trees, whatever the viewer's mode.
    const bool deep =
        is_deep(select_mode_of(state.settings)) || state.scans.mode.load() == ScanMode::catalog;
    if (admitted && deep && join_path(folder, name, path)) {
      count = scan_folder(state, count, path, visit);
    }
    return count;
  }
  return kind == kFolderEntryFile ? visit.file(state, visit.context, folder, name, count) : count;
}

const char* listed_path(const AppState& state, std::uint32_t index) {
  const ViewList& list = state.viewer.list.files;
  if (index >= list.starts.size()) return "";
  const std::uint32_t start = list.starts[index];
  return list.blocks[start / kListBlockBytes].data() + start % kListBlockBytes;
}

bool admit_subfolder(AppState& state, const char* name) {
  if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
  char lowered[kPathBytes];
  if (length_of_text(name) >= kPathBytes) return true;  // too long to be "low"
  copy_text(name, lowered);
  lower_text(lowered);
  if (std::strcmp(lowered, "low") == 0) return random_in_range(state, 50) > 40;
  return true;
}

bool picture_type_listed(const AppState& state, std::int32_t type) {
  const SettingsBlock& block = state.settings;
  switch (type) {
    case kTypeBmp:
      return block.show_bmp != 0;
    case kTypeJpg:
      return block.show_jpg != 0;
    case kTypeGif:
      return block.show_gif != 0;
    case kTypeJpeg:
      return block.show_jpg != 0 && state.extra.more_picture_types.load();
    default:
      return type > kTypeJpeg && type <= kTypeJxl && state.extra.more_picture_types.load();
  }
}

std::int32_t image_type_of(const AppState& state, const char* name) {
  const char* dot = std::strrchr(name, '.');
  // The longest ending is five characters with its dot.
  if (dot == nullptr || length_of_text(dot) > 5) return 0;
  char ending[6];
  copy_text(dot, ending);
  lower_text(ending);
  for (const PictureEnding& row : kPictureEndings) {
    if (std::strcmp(ending, row.ending) == 0) {
      return picture_type_listed(state, row.type) ? row.type : 0;
    }
  }
  return 0;
}

std::string picture_patterns(const AppState& state) {
  std::string patterns;
  for (const PictureEnding& row : kPictureEndings) {
    if (!picture_type_listed(state, row.type)) continue;
    if (!patterns.empty()) patterns += ' ';
    patterns += std::string("*") + row.ending;
  }
  return patterns;
}

std::int32_t check_recent_pick(AppState& state, std::uint32_t n, std::uint32_t draw) {
  std::lock_guard<std::mutex> hold(state.viewer.texts);
  return check_recent_in(state.settings.recent_picks, n, draw);
}

std::uint32_t draw_pick(AppState& state, std::uint32_t count, PickDraw* draw) {
  {
    std::lock_guard<std::mutex> hold(state.viewer.texts);
    draw->random_state = state.settings.random_state;
    std::memcpy(draw->recent_picks, state.settings.recent_picks, sizeof draw->recent_picks);
  }
  draw->taken_count = 0;
  std::uint32_t drawn = 0;
  std::uint32_t draws = 0;
  bool accepted = false;
  while (!accepted && draws < kMaxPickDraws) {
    drawn = 1;
    if (count > 1) {
      std::uint32_t word = 0;
      const bool secure = take_random_word(state, &word);
      if (secure) draw->taken[draw->taken_count++] = word;
      drawn = range_of(count, secure, word, draw->random_state);
    }
    ++draws;
    accepted = count <= 4 || check_recent_in(draw->recent_picks, count, drawn) != -1;
  }
  if (draws == kMaxPickDraws || drawn > count || drawn == 0) return 0;
  return drawn - 1;
}

void commit_pick(AppState& state, const PickDraw& draw) {
  std::lock_guard<std::mutex> hold(state.viewer.texts);
  state.settings.random_state = draw.random_state;
  std::memcpy(state.settings.recent_picks, draw.recent_picks, sizeof draw.recent_picks);
}

void give_back_pick(AppState& state, const PickDraw& draw) {
  std::lock_guard<std::mutex> hold(state.viewer.texts);
  PrefetchState& prefetch = state.viewer.prefetch;
  const std::uint32_t room = static_cast<std::uint32_t>(std::size(prefetch.returned));
  // In front of any words still there: they were taken after these. Words
  // that find no room are dropped; nobody saw them.
  const std::uint32_t kept = std::min(prefetch.returned_count, room - draw.taken_count);
  std::memmove(prefetch.returned + draw.taken_count, prefetch.returned,
               sizeof(std::uint32_t) * kept);
  std::memcpy(prefetch.returned, draw.taken, sizeof(std::uint32_t) * draw.taken_count);
  prefetch.returned_count = kept + draw.taken_count;
}

namespace {

// Scans the folder in path into the view list, under the scan claim the
// caller holds. Returns the wanted index: the shown image's slot, -1 when it
// is not listed, -2 when there is no memory for a list.
// The view list's step: a picture of a listed type joins the list, and the
// one shown when the build began is marked current.
std::uint32_t list_picture(AppState& state, void* context, const char* folder, const char* name,
                           std::uint32_t count) {
  char path[kPathBytes];
  if (image_type_of(state, name) == 0 || !join_path(folder, name, path)) return count;
  list_append(static_cast<ViewList*>(context), path);
  if (same_path(path, state.viewer.list.shown_path)) {
    state.viewer.worker.current_index = static_cast<std::int32_t>(count);
  }
  return count + 1;
}

std::int32_t build_list(AppState& state, const char* folder) {
  // The blocks are kept from one rebuild to the next.
  ViewList& list = state.viewer.list.files;
  for (std::vector<char>& block : list.blocks) block.clear();
  list.used_blocks = 0;
  list.starts.clear();
  state.viewer.worker.current_index = -1;
  {
    std::lock_guard<std::mutex> hold(state.viewer.texts);
    copy_text(state.settings.image_path, state.viewer.list.shown_path);
  }
  std::uint32_t count = 0;
  try {
    if (list.starts.capacity() == 0) list.starts.reserve(std::size_t{1} << 14);
    count = scan_folder(state, 0, folder, ScanVisit{list_picture, &list});
  } catch (const std::bad_alloc&) {
    state.viewer.list.files = ViewList{};
    state.viewer.worker.file_count = 0;
    return -2;
  }
  state.viewer.worker.file_count = count;
  const std::int32_t wanted = state.viewer.worker.current_index.load();
  if (wanted == -1) state.viewer.worker.current_index = 0;
  state.viewer.worker.page_step = count >= 100 ? count / 10 : 10;
  return wanted;
}

}  // namespace

std::uint32_t pick_file(AppState& state, char path[kPathBytes], SelectMode mode, std::int32_t index,
                        RequestKind list_use) {
  std::int32_t wanted = index;
  const bool want_build =
      list_use != RequestKind::step || state.viewer.worker.file_count.load() == 0;
  ScanMode idle = ScanMode::none;
  if (want_build && state.scans.mode.compare_exchange_strong(idle, ScanMode::view_list)) {
    ++state.viewer.list.generation;
    wanted = build_list(state, path);
    state.scans.mode = ScanMode::none;
    if (wanted == -2) return 0;  // no memory for the list
  }
  const std::uint32_t count = state.viewer.worker.file_count.load();
  if (count > 0) {
    std::uint32_t slot;
    if (is_random(mode) && wanted == -1) {
      // The pick drawn ahead is the draw this one would have been.
      if (!take_ahead_pick(state, &slot)) {
        PickDraw draw;
        slot = draw_pick(state, count, &draw);
        commit_pick(state, draw);
      }
    } else {
      slot = static_cast<std::uint32_t>(wanted) >= count ? 0 : static_cast<std::uint32_t>(wanted);
    }
    state.viewer.worker.current_index = static_cast<std::int32_t>(slot);
    copy_text(listed_path(state, slot), path);
  } else {
    state.viewer.list.files = ViewList{};  // its memory goes back too
  }
  return count;
}
