#include "settings/settings.h"

#include <cstring>
#include <mutex>
#include <string>

#include "ports/clock.h"
#include "ports/files.h"
#include "ports/folders.h"
#include "ports/paths.h"
#include "state/version.h"
#include "text/text.h"

namespace {

// The longest file name kept in the data folder ("TesmiCat.lbf"); a data
// folder is usable only when every data file's path fits a path buffer.
constexpr std::uint32_t kLongestDataName = 12;

bool fits_data_names(const char* folder) {
  return length_of_text(folder) + kLongestDataName < kPathBytes;
}

void mark_unusable(DataFolder& data) {
  data.program_path[0] = '\0';
  data.folder[0] = '\0';
  data.usable = 0;
}

// folder + "\\first\\second\\" in the platform's separators ("/" on Linux),
// without doubling a root's separator; "" when it would not fit.
std::string folder_below(const char* folder, const char* first, const char* second) {
  const char separator = path_rules().separator;
  std::string path = folder;
  while (!path.empty() && is_separator(path.back())) path.pop_back();
  path = path + separator + first + separator + second + separator;
  return path.size() < kPathBytes ? path : std::string();
}

}  // namespace

void choose_data_folder(DataFolder& data, DiskUse use) {
  // Read into a buffer larger than a path, so that choose_data_folder_at sees a
  // too-long path whole and refuses it; unknown means the current folder.
  char program[4 * kPathBytes];
  if (program_file(program, sizeof program) < 0) program[0] = '\0';
  choose_data_folder_at(data, program, use);
}

void choose_data_folder_at(DataFolder& data, const char* program, DiskUse use) {
  mark_unusable(data);
  if (length_of_text(program) >= kPathBytes) return;
  copy_text(program, data.program_path);
  // Keep the folder with its trailing separator.
  data.program_path[last_separator(data.program_path) + 1] = '\0';
  copy_text(data.program_path, data.folder);
  if (!fits_data_names(data.program_path)) {
    mark_unusable(data);
    return;
  }
  data.usable = 1;
  if (data.program_path[0] == '\0' || volume_is_removable(data.program_path)) return;

  char marker[kPathBytes];
  if (!shipped_file_path(data, "DefSet.txt", marker) && folder_writable(data.program_path)) {
    return;
  }

  char data_home[kPathBytes];
  const std::string folder = user_folder(UserFolder::data_home, data_home, sizeof data_home) < 0
                                 ? std::string()
                                 : folder_below(data_home, "Brindlex", "Tessmira");
  if (folder.empty() || !fits_data_names(folder.c_str())) {
    data.folder[0] = '\0';
    data.usable = 0;
    return;
  }
  copy_text(folder.c_str(), data.folder);
  // Failures show later, when the files in it cannot be written.
  if (use == DiskUse::write) make_folders(data.folder);
}

bool shipped_file_path(const DataFolder& data, const char* name, char* path) {
  path[0] = '\0';
  const std::string beside = std::string(data.program_path) + name;
  const std::string shared = std::string(data.program_path) + kShippedFilesFromProgram + name;
  for (const std::string& candidate : {beside, shared}) {
    if (candidate.size() < kPathBytes && file_readable(candidate.c_str())) {
      copy_text(candidate.c_str(), path);
      return true;
    }
  }
  if (beside.size() < kPathBytes) copy_text(beside.c_str(), path);
  return false;
}

std::int32_t check_settings_header(const std::uint8_t header[8]) {
  char name[6];
  char version[4];
  left_text(reinterpret_cast<const char*>(header), name, 5);
  mid_text(reinterpret_cast<const char*>(header), version, 5, 3);
  if (std::strcmp(name, "VIEW1") != 0) return kHeaderForeign;
  if (std::strcmp(version, "00") == 0) return kHeaderCurrent;
  return static_cast<std::int32_t>(text_to_number(version));
}

void end_settings_texts(SettingsBlock& block) {
  auto end_slot = [](char* slot) {
    if (std::memchr(slot, '\0', kPathBytes) == nullptr) slot[kPathBytes - 1] = '\0';
  };
  end_slot(block.image_path);
  end_slot(block.view_folder);
  for (auto& entry : block.recent_folders) end_slot(entry);
  end_slot(block.backup_root);
}

namespace {

// The default backup root: a home of "/" gives "/Backup/Tessmira/", one of
// "C:\\" "C:\\Backup\\Tessmira\\"; "" without a home.
std::string default_backup_root() {
  char home[kPathBytes];
  return user_folder(UserFolder::home, home, sizeof home) < 0
             ? std::string()
             : folder_below(home, "Backup", "Tessmira");
}

constexpr auto kDefaultMode = static_cast<std::uint32_t>(SelectMode::deep_random);
constexpr std::uint32_t kDefaultAlpha = 125;
// Below this the window is all but invisible, and no command sets it.
constexpr std::uint32_t kLeastAlpha = 26;
constexpr std::uint32_t kLastAdvanceChoice = 6;
constexpr std::uint32_t kLastGeneration = 255;

}  // namespace

bool load_settings(SettingsBlock& settings, ExtraSettings& extra, const DataFolder& data,
                   DiskUse use, SettingsDamage* damage) {
  if (damage != nullptr) *damage = SettingsDamage::none;
  // A file of their own: whatever the block's file holds, they load alike.
  load_extra_settings(extra, data);
  char path[kPathBytes];
  static_assert(sizeof(SettingsBlock) + 8 == kSettingsFileBytes);
  // One byte more than the file: a longer file shows as one.
  std::uint8_t bytes[kSettingsFileBytes + 1] = {};
  const std::int64_t count = data_file_path(data, kSettingsFileName, path)
                                 ? file_read_start(path, bytes, sizeof bytes)
                                 : -1;
  if (count < 0) {
    apply_default_settings(settings);
    return false;
  }
  if (count != kSettingsFileBytes) {
    // Read as far as it goes, the rest would be zeros that mean "list no
    // image" and "back up nowhere", saved back for good at the next close.
    char aside[kPathBytes];
    const bool set_aside = use == DiskUse::write && data_file_path(data, kSettingsAside, aside) &&
                           rename_replacing(path, aside);
    if (damage != nullptr) *damage = set_aside ? SettingsDamage::set_aside : SettingsDamage::left;
    apply_default_settings(settings);
    return false;
  }
  // Informative only: every header loads, so a later version could act on it.
  check_settings_header(bytes);
  std::memcpy(&settings, bytes + 8, sizeof(SettingsBlock));
  end_settings_texts(settings);
  mend_settings(settings);
  return true;
}

std::uint32_t mend_settings(SettingsBlock& block) {
  std::uint32_t mended = 0;
  auto mend = [&mended](std::uint32_t& field, bool sound, std::uint32_t value) {
    if (sound) return;
    field = value;
    ++mended;
  };
  mend(block.select_mode, block.select_mode <= 3, kDefaultMode);
  mend(block.advance_setting, block.advance_setting <= kLastAdvanceChoice, 0);
  mend(block.translucency_alpha,
       block.translucency_alpha >= kLeastAlpha && block.translucency_alpha <= 255, kDefaultAlpha);
  for (std::uint32_t* flag : {&block.translucent, &block.always_on_top, &block.full_screen}) {
    mend(*flag, *flag <= 1, 0);
  }
  for (std::uint32_t* flag : {&block.show_bmp, &block.show_jpg, &block.show_gif}) {
    mend(*flag, *flag <= 1, 1);
  }
  mend(block.backup_generation, block.backup_generation <= kLastGeneration, 0);
  if (!is_absolute_path(block.backup_root)) {
    copy_text(default_backup_root().c_str(), block.backup_root);
    ++mended;
  }
  return mended;
}

void apply_default_settings(SettingsBlock& block) {
  block.select_mode = kDefaultMode;
  block.advance_setting = 0;
  block.random_state = tick_count();
  block.translucency_alpha = kDefaultAlpha;
  block.translucent = 0;
  block.always_on_top = 0;
  char pictures[kPathBytes];
  if (user_folder(UserFolder::pictures, pictures, sizeof pictures) >= 0) {
    copy_text(pictures, block.view_folder);
  } else {
    block.view_folder[0] = '\0';
  }
  block.show_bmp = 1;
  block.show_jpg = 1;
  block.show_gif = 1;
  const std::uint32_t reserved[5] = {1, 0, 1, 99, 0};
  std::memcpy(block.reserved_88, reserved, sizeof reserved);
  copy_text(default_backup_root().c_str(), block.backup_root);
  block.backup_generation = 0;
}

bool write_settings_file(const SettingsBlock& settings, const DataFolder& data, std::mutex* texts) {
  char path[kPathBytes];
  if (!data_file_path(data, kSettingsFileName, path)) return false;
  std::uint8_t bytes[kSettingsFileBytes];
  std::memcpy(bytes, kSettingsHeader, 8);
  {
    // The worker may be changing texts and draws while a close request saves.
    std::unique_lock<std::mutex> hold;
    if (texts != nullptr) hold = std::unique_lock<std::mutex>(*texts);
    std::memcpy(bytes + 8, &settings, sizeof(SettingsBlock));
  }
  return file_replace(path, bytes, sizeof bytes);
}

void discard_interrupted_saves(const DataFolder& data) {
  char path[kPathBytes];
  if (data_file_path(data, kSettingsFileName, path)) file_replace_cleanup(path);
  if (data_file_path(data, kExtraSettingsFileName, path)) file_replace_cleanup(path);
}
