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

// One random word: a word given back by a thrown-away pick first, else the
// source's own. false when the source failed (the fallback then draws).
bool take_random_word(Viewer& viewer, std::uint32_t* word) {
  {
    std::lock_guard<std::mutex> hold(viewer.texts);
    PrefetchState& prefetch = viewer.prefetch;
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

std::uint32_t random_in_range(Viewer& viewer, SettingsBlock& settings, std::uint32_t n) {
  if (n <= 1) return 1;
  std::uint32_t word = 0;
  const bool secure = take_random_word(viewer, &word);
  std::lock_guard<std::mutex> hold(viewer.texts);
  return range_of(n, secure, word, settings.random_state);
}

const char* listed_path(const ViewScan& scan, std::uint32_t index) {
  const ViewList& list = scan.files;
  if (index >= list.starts.size()) return "";
  const std::uint32_t start = list.starts[index];
  return list.blocks[start / kListBlockBytes].data() + start % kListBlockBytes;
}

bool admit_subfolder(Viewer& viewer, SettingsBlock& settings, const char* name) {
  if (dot_folder(name)) return false;
  return !low_folder(name) || random_in_range(viewer, settings, 50) > 40;
}

bool picture_type_listed(const SettingsBlock& settings, const ExtraSettings& extra,
                         std::int32_t type) {
  const SettingsBlock& block = settings;
  switch (type) {
    case kTypeBmp:
      return block.show_bmp != 0;
    case kTypeJpg:
      return block.show_jpg != 0;
    case kTypeGif:
      return block.show_gif != 0;
    case kTypeJpeg:
      return block.show_jpg != 0 && extra.more_picture_types.load();
    default:
      return type > kTypeJpeg && type <= kTypeJxl && extra.more_picture_types.load();
  }
}

std::int32_t image_type_of(const SettingsBlock& settings, const ExtraSettings& extra,
                           const char* name) {
  const char* dot = std::strrchr(name, '.');
  // The longest ending is five characters with its dot.
  if (dot == nullptr || length_of_text(dot) > 5) return 0;
  char ending[6];
  copy_text(dot, ending);
  lower_text(ending);
  for (const PictureEnding& row : kPictureEndings) {
    if (std::strcmp(ending, row.ending) == 0) {
      return picture_type_listed(settings, extra, row.type) ? row.type : 0;
    }
  }
  return 0;
}

std::string picture_patterns(const SettingsBlock& settings, const ExtraSettings& extra) {
  std::string patterns;
  for (const PictureEnding& row : kPictureEndings) {
    if (!picture_type_listed(settings, extra, row.type)) continue;
    if (!patterns.empty()) patterns += ' ';
    patterns += std::string("*") + row.ending;
  }
  return patterns;
}

std::int32_t check_recent_pick(Viewer& viewer, SettingsBlock& settings, std::uint32_t n,
                               std::uint32_t draw) {
  std::lock_guard<std::mutex> hold(viewer.texts);
  return check_recent_in(settings.recent_picks, n, draw);
}

std::uint32_t draw_pick(Viewer& viewer, SettingsBlock& settings, std::uint32_t count,
                        PickDraw* draw) {
  {
    std::lock_guard<std::mutex> hold(viewer.texts);
    draw->random_state = settings.random_state;
    std::memcpy(draw->recent_picks, settings.recent_picks, sizeof draw->recent_picks);
  }
  draw->taken_count = 0;
  std::uint32_t drawn = 0;
  std::uint32_t draws = 0;
  bool accepted = false;
  while (!accepted && draws < kMaxPickDraws) {
    drawn = 1;
    if (count > 1) {
      std::uint32_t word = 0;
      const bool secure = take_random_word(viewer, &word);
      if (secure) draw->taken[draw->taken_count++] = word;
      drawn = range_of(count, secure, word, draw->random_state);
    }
    ++draws;
    accepted = count <= 4 || check_recent_in(draw->recent_picks, count, drawn) != -1;
  }
  if (draws == kMaxPickDraws || drawn > count || drawn == 0) return 0;
  return drawn - 1;
}

void commit_pick(Viewer& viewer, SettingsBlock& settings, const PickDraw& draw) {
  std::lock_guard<std::mutex> hold(viewer.texts);
  settings.random_state = draw.random_state;
  std::memcpy(settings.recent_picks, draw.recent_picks, sizeof draw.recent_picks);
}

void give_back_pick(Viewer& viewer, const PickDraw& draw) {
  std::lock_guard<std::mutex> hold(viewer.texts);
  PrefetchState& prefetch = viewer.prefetch;
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

// A view list's build: where it lists, and with what.
struct ListBuild {
  Viewer& viewer;
  SettingsBlock& settings;
  const ExtraSettings& extra;
};

// The view list's step: a picture of a listed type joins the list, and the
// one shown when the build began is marked current.
std::uint32_t list_picture(void* context, const char* folder, const char* name,
                           std::uint32_t count) {
  const ListBuild& build = *static_cast<const ListBuild*>(context);
  char path[kPathBytes];
  if (image_type_of(build.settings, build.extra, name) == 0 || !join_path(folder, name, path)) {
    return count;
  }
  list_append(&build.viewer.list.files, path);
  if (same_path(path, build.viewer.list.shown_path)) {
    build.viewer.worker.current_index = static_cast<std::int32_t>(count);
  }
  return count + 1;
}

bool admit_listed(void* context, const char* name) {
  const ListBuild& build = *static_cast<const ListBuild*>(context);
  return admit_subfolder(build.viewer, build.settings, name);
}

// Scans the folder in path into the view list, under the scan claim the
// caller holds. Returns the wanted index: the shown image's slot, -1 when it
// is not listed, -2 when there is no memory for a list.
std::int32_t build_list(Viewer& viewer, SettingsBlock& settings, const ExtraSettings& extra,
                        const char* folder) {
  // The blocks are kept from one rebuild to the next.
  ViewList& list = viewer.list.files;
  for (std::vector<char>& block : list.blocks) block.clear();
  list.used_blocks = 0;
  list.starts.clear();
  viewer.worker.current_index = -1;
  {
    std::lock_guard<std::mutex> hold(viewer.texts);
    copy_text(settings.image_path, viewer.list.shown_path);
  }
  std::uint32_t count = 0;
  ListBuild build{viewer, settings, extra};
  Walk walk;
  walk.file = list_picture;
  walk.admit = admit_listed;
  walk.context = &build;
  walk.deep = is_deep(select_mode_of(settings));
  try {
    if (list.starts.capacity() == 0) list.starts.reserve(std::size_t{1} << 14);
    count = walk_folder(walk, 0, folder);
  } catch (const std::bad_alloc&) {
    viewer.list.files = ViewList{};
    viewer.worker.file_count = 0;
    return -2;
  }
  viewer.worker.file_count = count;
  const std::int32_t wanted = viewer.worker.current_index.load();
  if (wanted == -1) viewer.worker.current_index = 0;
  viewer.worker.page_step = count >= 100 ? count / 10 : 10;
  return wanted;
}

}  // namespace

std::uint32_t pick_file(const Pick& pick, char path[kPathBytes], SelectMode mode,
                        std::int32_t index, RequestKind list_use) {
  Viewer& viewer = pick.viewer;
  std::int32_t wanted = index;
  const bool want_build = list_use != RequestKind::step || viewer.worker.file_count.load() == 0;
  ScanMode idle = ScanMode::none;
  if (want_build && pick.scans.mode.compare_exchange_strong(idle, ScanMode::view_list)) {
    ++viewer.list.generation;
    wanted = build_list(viewer, pick.settings, pick.extra, path);
    pick.scans.mode = ScanMode::none;
    if (wanted == -2) return 0;  // no memory for the list
  }
  const std::uint32_t count = viewer.worker.file_count.load();
  if (count > 0) {
    std::uint32_t slot;
    if (is_random(mode) && wanted == -1) {
      // The pick drawn ahead is the draw this one would have been.
      if (pick.take_ahead == nullptr || !pick.take_ahead(viewer, pick.settings, &slot)) {
        PickDraw draw;
        slot = draw_pick(viewer, pick.settings, count, &draw);
        commit_pick(viewer, pick.settings, draw);
      }
    } else {
      slot = static_cast<std::uint32_t>(wanted) >= count ? 0 : static_cast<std::uint32_t>(wanted);
    }
    viewer.worker.current_index = static_cast<std::int32_t>(slot);
    copy_text(listed_path(viewer.list, slot), path);
  } else {
    viewer.list.files = ViewList{};  // its memory goes back too
  }
  return count;
}
