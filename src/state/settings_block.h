// The settings block: the persistent stretch of the application state,
// stored byte for byte as the settings file holds it.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "ports/paths.h"
// Entries of the recent-folders list.
constexpr std::uint32_t kRecentFolderCount = 10;
// Entries of the random-mode back history and of the recent random draws.
constexpr std::uint32_t kHistoryCount = 100;

// How the window was shown, as its placement stores it (a 32-bit word).
enum class ShowState : std::uint32_t { normal = 1, minimised = 2, maximised = 3 };

// Placement of the main window, as the settings file stores it.
struct WindowPlacement {
  std::uint32_t length;
  std::uint32_t flags;
  std::uint32_t show_state;  // a ShowState: show_state_of and set_show_state convert
  std::int32_t min_x, min_y;
  std::int32_t max_x, max_y;
  std::int32_t normal_left, normal_top, normal_right, normal_bottom;
};
static_assert(sizeof(WindowPlacement) == 44);

// The stored word's show state; false for a word that names none.
constexpr bool show_state_of(const WindowPlacement& placement, ShowState* state) {
  if (placement.show_state < 1 || placement.show_state > 3) return false;
  *state = static_cast<ShowState>(placement.show_state);
  return true;
}
constexpr bool shown_as(const WindowPlacement& placement, ShowState state) {
  ShowState stored = ShowState::normal;
  return show_state_of(placement, &stored) && stored == state;
}
constexpr void set_show_state(WindowPlacement& placement, ShowState state) {
  placement.show_state = static_cast<std::uint32_t>(state);
}

// The persistent stretch of the state: the settings file is an 8-byte header
// followed by exactly these 10,000 bytes, little-endian.
struct SettingsBlock {
  std::uint32_t select_mode;      // 0 Linear, 1 Deep Linear, 2 Random, 3 Deep Random
  std::uint32_t advance_setting;  // 0 off, 1..6 = 5, 10, 20, 30, 45, 60 seconds
  WindowPlacement window_placement;
  std::uint32_t random_state;        // fallback random generator
  std::uint32_t translucency_alpha;  // opacity used when translucent
  std::uint32_t translucent;
  std::uint32_t always_on_top;
  std::uint8_t spare_68[8];
  std::uint32_t show_bmp;
  std::uint32_t show_jpg;
  std::uint32_t show_gif;
  std::uint32_t reserved_88[5];  // written with defaults, never read
  std::uint32_t recent_picks[kHistoryCount];
  std::uint8_t spare_508[1200];
  std::uint32_t full_screen;
  std::uint32_t backup_generation;
  std::uint8_t spare_1716[16];
  char image_path[kPathBytes];
  char view_folder[kPathBytes];
  char recent_folders[kRecentFolderCount][kPathBytes];
  char backup_root[kPathBytes];
  std::uint8_t spare_9532[468];
};

static_assert(std::endian::native == std::endian::little,
              "the settings block is stored as it lies in memory, little-endian");
static_assert(sizeof(SettingsBlock) == 10000);
static_assert(offsetof(SettingsBlock, select_mode) == 0);
static_assert(offsetof(SettingsBlock, advance_setting) == 4);
static_assert(offsetof(SettingsBlock, window_placement) == 8);
static_assert(offsetof(SettingsBlock, random_state) == 52);
static_assert(offsetof(SettingsBlock, translucency_alpha) == 56);
static_assert(offsetof(SettingsBlock, translucent) == 60);
static_assert(offsetof(SettingsBlock, always_on_top) == 64);
static_assert(offsetof(SettingsBlock, spare_68) == 68);
static_assert(offsetof(SettingsBlock, show_bmp) == 76);
static_assert(offsetof(SettingsBlock, show_jpg) == 80);
static_assert(offsetof(SettingsBlock, show_gif) == 84);
static_assert(offsetof(SettingsBlock, reserved_88) == 88);
static_assert(offsetof(SettingsBlock, recent_picks) == 108);
static_assert(offsetof(SettingsBlock, spare_508) == 508);
static_assert(offsetof(SettingsBlock, full_screen) == 1708);
static_assert(offsetof(SettingsBlock, backup_generation) == 1712);
static_assert(offsetof(SettingsBlock, spare_1716) == 1716);
static_assert(offsetof(SettingsBlock, image_path) == 1732);
static_assert(offsetof(SettingsBlock, view_folder) == 2332);
static_assert(offsetof(SettingsBlock, recent_folders) == 2932);
static_assert(offsetof(SettingsBlock, backup_root) == 8932);
static_assert(offsetof(SettingsBlock, spare_9532) == 9532);
