// The data folder and the settings file.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstring>
#include <memory>
#include <random>

#include "settings/settings.h"
#include "support.h"

using namespace test_support;

namespace {

struct SettingsFixture : ::testing::Test, PrivateHome {
  std::unique_ptr<AppState> state = std::make_unique<AppState>();
  void SetUp() override { enter_home(); }
  fs::path settings_file() const { return program_dir / kSettingsFileName; }
  std::unique_ptr<AppState> fresh_state() {
    auto next = std::make_unique<AppState>();
    choose_data_folder_at(*next, program().c_str());
    return next;
  }
};

TEST_F(SettingsFixture, FirstStartAppliesDefaults) {
  write_text(root / ".config/user-dirs.dirs", "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n");
  choose_data_folder_at(*state, program().c_str());
  EXPECT_EQ(std::string(state->window.data_folder), program_dir.string() + "/");
  ASSERT_EQ(load_settings(*state), 1);
  const SettingsBlock& s = state->settings;
  EXPECT_EQ(s.select_mode, 3u);  // Deep Random
  EXPECT_EQ(s.translucency_alpha, 125u);
  EXPECT_EQ(s.advance_setting + s.translucent + s.always_on_top + s.full_screen, 0u);
  EXPECT_EQ(s.show_bmp + s.show_jpg + s.show_gif, 3u);
  const std::uint32_t reserved[5] = {1, 0, 1, 99, 0};
  EXPECT_EQ(std::memcmp(s.reserved_88, reserved, sizeof reserved), 0);
  // The pictures folder follows the user's own folder names.
  EXPECT_EQ(std::string(s.view_folder), (root / "Bilder").string());
  EXPECT_EQ(std::string(s.backup_root), (root / "Backup/Tessmira/").string());
  EXPECT_FALSE(fs::exists(settings_file()));  // loading writes nothing
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

TEST_F(SettingsFixture, AnyHeaderAndLengthLoadsWhatTheFileHoldsWithTextsEnded) {
  const std::pair<const char*, std::int32_t> headers[] = {{"VIEW100\0", 1000}, {"VIEW200\0", 1001},
                                                          {"view100\0", 1001}, {"VIEW101\0", 1},
                                                          {"VIEW1123", 123},   {"VIEW1\0\0\0", 0}};
  for (const auto& [text, kind] : headers) {
    EXPECT_EQ(check_settings_header(reinterpret_cast<const std::uint8_t*>(text)), kind) << text;
  }
  // A short file fills the start of the block only; no default fills the rest.
  write_bytes(settings_file(), {'O', 'T', 'H', 'E', 'R', '9', '9', 0, 2, 0, 0, 0, 5});
  auto loaded = fresh_state();
  ASSERT_EQ(load_settings(*loaded), 0);
  EXPECT_EQ(loaded->settings.select_mode, 2u);
  EXPECT_EQ(loaded->settings.advance_setting, 5u);  // one byte of four
  EXPECT_EQ(loaded->settings.show_jpg, 0u);
  // Texts without a terminator are ended in their slot's last byte; a slot
  // that holds one is left as it lay.
  Bytes bytes(10008, 'A');
  bytes[8 + 1732 + 5] = 0;
  write_bytes(settings_file(), bytes);
  loaded = fresh_state();
  ASSERT_EQ(load_settings(*loaded), 0);
  const SettingsBlock& s = loaded->settings;
  EXPECT_EQ(s.image_path[599], 'A');
  EXPECT_EQ(std::string(s.view_folder), std::string(599, 'A'));
  const auto* block = reinterpret_cast<const std::uint8_t*>(&s);
  std::string changed;
  for (std::size_t i = 0; i < sizeof(SettingsBlock); ++i) {
    if (block[i] != 'A') changed += std::to_string(i) + " ";
  }
  EXPECT_EQ(changed, "1737 2931 3531 4131 4731 5331 5931 6531 7131 7731 8331 8931 9531 ");
}

TEST_F(SettingsFixture, DefSetMovesDataToTheUserDataFolder) {
  std::ofstream(program_dir / "DefSet.txt") << "";
  choose_data_folder_at(*state, program().c_str());
  const fs::path expected = root / ".local/share/Brindlex/Tessmira";
  EXPECT_EQ(std::string(state->window.data_folder), expected.string() + "/");
  EXPECT_EQ(std::string(state->window.program_path), program_dir.string() + "/");
  load_settings(*state);
  ASSERT_EQ(save_settings(*state), 0);
  EXPECT_TRUE(fs::exists(expected / kSettingsFileName));
  process.change("XDG_DATA_HOME", (root / "data").string());
  EXPECT_EQ(std::string(fresh_state()->window.data_folder),
            (root / "data/Brindlex/Tessmira/").string());
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
  const std::string deep = std::string("/") + std::string(690, 'd') + "/tessmira";
  choose_data_folder_at(*state, deep.c_str());
  EXPECT_EQ(state->window.data_folder_usable, 0);
  EXPECT_STREQ(state->window.data_folder, "");
  ASSERT_EQ(load_settings(*state), 1);
  ASSERT_EQ(process.enter(root), 0);
  EXPECT_EQ(save_settings(*state), -1);
  EXPECT_FALSE(fs::exists(root / kSettingsFileName));
  // A folder that fits but leaves no room for the data file names.
  const std::string tight = std::string("/") + std::string(590, 't') + "/tessmira";
  auto other = std::make_unique<AppState>();
  choose_data_folder_at(*other, tight.c_str());
  EXPECT_EQ(other->window.data_folder_usable, 0);
}

}  // namespace
