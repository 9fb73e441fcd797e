#include "settings/settings.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "../process_guard.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::uint8_t> read_bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_bytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// A private home with the program in <home>/prog, and the XDG variables
// pointing into it, so nothing touches the real user's files.
struct SettingsFixture : ::testing::Test {
  fs::path root;
  fs::path program_dir;
  std::unique_ptr<AppState> state = std::make_unique<AppState>();
  ProcessGuard process;

  void SetUp() override {
    char pattern[] = "/tmp/tessmira-settings-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root = pattern;
    program_dir = root / "prog";
    fs::create_directories(program_dir);
    process.set("HOME", root.string());
    process.set("XDG_DATA_HOME", nullptr);
    process.set("XDG_CONFIG_HOME", nullptr);
  }
  void TearDown() override { fs::remove_all(root); }

  std::string program() const { return (program_dir / "tessmira").string(); }
  fs::path settings_file() const { return program_dir / kSettingsFileName; }
  std::unique_ptr<AppState> fresh_state() {
    auto next = std::make_unique<AppState>();
    choose_data_folder_at(*next, program().c_str());
    return next;
  }
};

TEST_F(SettingsFixture, FirstStartAppliesDefaults) {
  choose_data_folder_at(*state, program().c_str());
  EXPECT_EQ(std::string(state->program_path), program_dir.string() + "/");
  EXPECT_EQ(std::string(state->data_folder), program_dir.string() + "/");
  ASSERT_EQ(load_settings(*state), 1);
  const SettingsBlock& s = state->settings;
  EXPECT_EQ(s.select_mode, 3u);  // Deep Random
  EXPECT_EQ(s.advance_setting, 0u);
  EXPECT_EQ(s.translucency_alpha, 125u);
  EXPECT_EQ(s.translucent + s.always_on_top + s.full_screen, 0u);
  EXPECT_EQ(s.show_bmp + s.show_jpg + s.show_gif, 3u);
  const std::uint32_t reserved[5] = {1, 0, 1, 99, 0};
  EXPECT_EQ(std::memcmp(s.reserved_88, reserved, sizeof reserved), 0);
  EXPECT_EQ(std::string(s.view_folder), (root / "Pictures").string());
  EXPECT_EQ(std::string(s.backup_root), (root / "Backup/Tessmira/").string());
  EXPECT_EQ(s.window_placement.show_state, 0u);  // default geometry
  EXPECT_FALSE(fs::exists(settings_file()));     // loading writes nothing
  // The pictures folder follows the user's own folder names.
  fs::create_directories(root / ".config");
  std::ofstream(root / ".config/user-dirs.dirs")
      << "# written by xdg-user-dirs-update\nXDG_PICTURES_DIR=\"$HOME/Bilder\"\n";
  auto other = fresh_state();
  load_settings(*other);
  EXPECT_EQ(std::string(other->settings.view_folder), (root / "Bilder").string());
}

TEST_F(SettingsFixture, SavedFileLoadsBackBitForBit) {
  choose_data_folder_at(*state, program().c_str());
  // Every byte random, texts ended somewhere inside their slot with bytes after.
  std::mt19937 random(42);
  auto* block = reinterpret_cast<std::uint8_t*>(&state->settings);
  for (std::size_t i = 0; i < sizeof(SettingsBlock); ++i)
    block[i] = static_cast<std::uint8_t>(random());
  state->settings.image_path[17] = '\0';
  state->settings.view_folder[599] = '\0';
  for (auto& entry : state->settings.recent_folders) entry[random() % kPathBytes] = '\0';
  state->settings.backup_root[0] = '\0';
  ASSERT_EQ(save_settings(*state), 0);

  const auto bytes = read_bytes(settings_file());
  ASSERT_EQ(bytes.size(), 10008u);
  EXPECT_EQ(std::memcmp(bytes.data(), "VIEW100\0", 8), 0);
  EXPECT_EQ(std::memcmp(bytes.data() + 8, block, sizeof(SettingsBlock)), 0);
  EXPECT_EQ(bytes[8940], 0);  // backup_root's terminator, where the layout puts it

  auto loaded = fresh_state();
  ASSERT_EQ(load_settings(*loaded), 0);
  EXPECT_EQ(std::memcmp(&loaded->settings, block, sizeof(SettingsBlock)), 0);
  // No temporary file is left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(program_dir), fs::directory_iterator()), 1);
}

TEST_F(SettingsFixture, AnyHeaderAndAnyLengthLoadWhatTheFileHolds) {
  // A short file fills the start of the block only; no default fills the rest.
  write_bytes(settings_file(), {'O', 'T', 'H', 'E', 'R', '9', '9', 0, 2, 0, 0, 0, 5});
  auto loaded = fresh_state();
  ASSERT_EQ(load_settings(*loaded), 0);
  EXPECT_EQ(loaded->settings.select_mode, 2u);
  EXPECT_EQ(loaded->settings.advance_setting, 5u);  // one byte of four
  EXPECT_EQ(loaded->settings.show_jpg, 0u);

  const std::pair<const char*, std::int32_t> headers[] = {{"VIEW100\0", 1000}, {"VIEW200\0", 1001},
                                                          {"view100\0", 1001}, {"VIEW101\0", 1},
                                                          {"VIEW1123", 123},   {"VIEW1\0\0\0", 0}};
  for (const auto& [text, kind] : headers) {
    std::uint8_t h[8];
    std::memcpy(h, text, 8);
    EXPECT_EQ(check_settings_header(h), kind) << text;
  }
}

TEST_F(SettingsFixture, TextFieldsWithoutTerminatorAreEndedInTheirSlot) {
  std::vector<std::uint8_t> bytes(10008, 'A');
  std::memcpy(bytes.data(), "VIEW100", 8);
  write_bytes(settings_file(), bytes);
  auto loaded = fresh_state();
  ASSERT_EQ(load_settings(*loaded), 0);
  const SettingsBlock& s = loaded->settings;
  const std::string full(599, 'A');
  EXPECT_EQ(std::string(s.image_path), full);
  EXPECT_EQ(std::string(s.view_folder), full);
  for (const auto& entry : s.recent_folders) EXPECT_EQ(std::string(entry), full);
  EXPECT_EQ(std::string(s.backup_root), full);
  // Only the slots' last bytes changed.
  auto* block = reinterpret_cast<const std::uint8_t*>(&s);
  std::size_t changed = 0;
  for (std::size_t i = 0; i < sizeof(SettingsBlock); ++i) changed += block[i] != 'A';
  EXPECT_EQ(changed, 13u);

  // A slot that holds a terminator anywhere is left exactly as it lay.
  bytes[1740 + 5] = 0;
  write_bytes(settings_file(), bytes);
  loaded = fresh_state();
  load_settings(*loaded);
  EXPECT_EQ(loaded->settings.image_path[599], 'A');
}

TEST_F(SettingsFixture, DefSetMovesDataToTheUserDataFolder) {
  std::ofstream(program_dir / "DefSet.txt") << "";
  choose_data_folder_at(*state, program().c_str());
  const fs::path expected = root / ".local/share/Brindlex/Tessmira";
  EXPECT_EQ(std::string(state->data_folder), expected.string() + "/");
  EXPECT_TRUE(fs::is_directory(expected));
  EXPECT_EQ(std::string(state->program_path), program_dir.string() + "/");
  load_settings(*state);
  ASSERT_EQ(save_settings(*state), 0);
  EXPECT_TRUE(fs::exists(expected / kSettingsFileName));

  process.set("XDG_DATA_HOME", (root / "data").string());
  auto other = fresh_state();
  EXPECT_EQ(std::string(other->data_folder), (root / "data/Brindlex/Tessmira/").string());

  // A folder named DefSet.txt is no marker.
  fs::remove(program_dir / "DefSet.txt");
  fs::create_directory(program_dir / "DefSet.txt");
  other = fresh_state();
  EXPECT_EQ(std::string(other->data_folder), program_dir.string() + "/");
}

TEST_F(SettingsFixture, FailedSaveKeepsTheOldFile) {
  choose_data_folder_at(*state, program().c_str());
  load_settings(*state);
  ASSERT_EQ(save_settings(*state), 0);
  const auto before = read_bytes(settings_file());

  // A full disk, simulated by a file-size limit (root ignores permissions).
  state->settings.select_mode = 0;
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  const auto old_handler = signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const int result = save_settings(*state);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, old_handler);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(read_bytes(settings_file()), before);
  EXPECT_EQ(std::distance(fs::directory_iterator(program_dir), fs::directory_iterator()), 1);

  // A data folder that is gone: nothing written, failure returned.
  fs::remove_all(program_dir);
  EXPECT_EQ(save_settings(*state), -1);
  EXPECT_FALSE(fs::exists(program_dir));
}

TEST_F(SettingsFixture, TooLongFoldersAreUnusableNeverCut) {
  // 700 bytes: longer than a path buffer.
  std::string deep =
      root.string() + "/" + std::string(690 - root.string().size(), 'd') + "/tessmira";
  choose_data_folder_at(*state, deep.c_str());
  EXPECT_EQ(state->data_folder_usable, 0);
  EXPECT_STREQ(state->program_path, "");
  EXPECT_STREQ(state->data_folder, "");
  ASSERT_EQ(load_settings(*state), 1);
  EXPECT_EQ(state->settings.select_mode, 3u);
  ASSERT_EQ(process.enter(root.string()), 0);
  EXPECT_EQ(save_settings(*state), -1);
  EXPECT_FALSE(fs::exists(root / kSettingsFileName));

  // A folder that fits but leaves no room for the data file names.
  std::string tight = "/" + std::string(590, 't') + "/tessmira";
  auto other = std::make_unique<AppState>();
  choose_data_folder_at(*other, tight.c_str());
  EXPECT_EQ(other->data_folder_usable, 0);

  // A user data folder too long for "/Brindlex/Tessmira/" + names.
  std::ofstream(program_dir / "DefSet.txt") << "";
  process.set("XDG_DATA_HOME", "/" + std::string(570, 'x'));
  other = fresh_state();
  EXPECT_EQ(other->data_folder_usable, 0);
  EXPECT_EQ(save_settings(*other), -1);
}

int fake_placement(const PlatformWindow*, WindowPlacement* placement) {
  *placement = WindowPlacement{44, 0, 1, -1, -1, -1, -1, 10, 20, 810, 620};
  return 1;
}

TEST_F(SettingsFixture, SaveTakesThePlacementFromTheWindowWhenThereIsOne) {
  choose_data_folder_at(*state, program().c_str());
  load_settings(*state);
  state->settings.window_placement.normal_left = 7;
  ASSERT_EQ(save_settings(*state), 0);  // no window: the loaded placement stays
  auto bytes = read_bytes(settings_file());
  EXPECT_EQ(bytes[16 + 28], 7);

  int window_stand_in = 0;
  state->main_window = reinterpret_cast<PlatformWindow*>(&window_stand_in);
  state->placement_reader = fake_placement;
  ASSERT_EQ(save_settings(*state), 0);
  bytes = read_bytes(settings_file());
  WindowPlacement stored;
  std::memcpy(&stored, bytes.data() + 16, sizeof stored);
  EXPECT_EQ(stored.show_state, 1u);
  EXPECT_EQ(stored.normal_left, 10);
  EXPECT_EQ(stored.normal_bottom, 620);
}

}  // namespace
