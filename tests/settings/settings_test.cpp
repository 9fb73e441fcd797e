// The data folder, the settings file, and backups with their rotation.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <random>

#include "backup/backup.h"
#include "catalog/catalog.h"
#include "settings/settings.h"
#include "support.h"

using namespace test_support;

namespace {

// A private home with the program in <home>/prog, and the XDG variables
// pointing into it, so nothing touches the real user's files.
struct SettingsFixture : ::testing::Test {
  TempFolder temp;
  const fs::path& root = temp.path;
  fs::path program_dir = root / "prog";
  std::unique_ptr<AppState> state = std::make_unique<AppState>();
  ProcessGuard process;
  void SetUp() override {
    fs::create_directories(program_dir);
    process.change("HOME", root.string());
    process.change("XDG_DATA_HOME", std::nullopt);
    process.change("XDG_CONFIG_HOME", std::nullopt);
  }
  std::string program() const { return (program_dir / "tessmira").string(); }
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

// Backups with the first start's settings: to <home>/Backup/Tessmira/.
struct BackupFixture : SettingsFixture {
  fs::path tree = root / "Photos";
  fs::path backups = root / "Backup/Tessmira";
  BackupReport report{};
  void SetUp() override {
    SettingsFixture::SetUp();
    fs::create_directories(tree);
    choose_data_folder_at(*state, program().c_str());
    load_settings(*state);
    state->settings.select_mode = 1;
  }
  void put(const fs::path& name, const std::string& content = "x") {
    write_text(tree / name, content);
  }
  int backup(const fs::path& folder) {
    return backup_folder(*state, folder.c_str(), &report, nullptr);
  }
  std::string copied(const fs::path& name) { return read_text(backups / "F0/Photos" / name); }
};

TEST_F(BackupFixture, FirstBackupCopiesAllThenOnlyWhatChanged) {
  put("a.jpg", "one");
  put("IMG.JPG", "upper");
  put("img.jpg", "lower");  // differs only in case: backed up as well
  put("trip/day1/b.gif", "two");
  state->settings.select_mode = 0;  // Linear: the top folder only
  EXPECT_EQ(backup(tree), 0);
  EXPECT_EQ(report.copied, 3u);
  EXPECT_FALSE(fs::exists(backups / "F0/Photos/trip"));
  state->settings.select_mode = 1;
  EXPECT_EQ(backup(tree), 0);
  EXPECT_EQ(report.copied, 1u);
  EXPECT_EQ(copied("img.jpg") + copied("IMG.JPG") + copied("trip/day1/b.gif"), "loweruppertwo");
  // Copies keep the source's modification time.
  EXPECT_EQ(fs::last_write_time(backups / "F0/Photos/a.jpg"), fs::last_write_time(tree / "a.jpg"));
  // A backup time in the future (a clock set back) counts as none.
  catalog_open(*state);
  ListFile& catalog = state->scan.catalog;
  list_set_search_key(catalog, (tree / "img.jpg").c_str());
  const std::int32_t slot = list_find_exact(catalog, kCatalogPath);
  ASSERT_GE(slot, 0);
  list_get_field(catalog, static_cast<std::uint32_t>(slot), kCatalogBackupHigh);
  catalog.number_value += 1000;  // about 400,000 seconds ahead
  list_put_field(catalog, static_cast<std::uint32_t>(slot), kCatalogBackupHigh);
  list_close(catalog);
  EXPECT_EQ(backup(tree), 0);
  EXPECT_EQ(report.copied, 1u);
  put("a.jpg", "changed");
  fs::last_write_time(tree / "a.jpg", fs::file_time_type::clock::now() + std::chrono::seconds(5));
  EXPECT_EQ(backup(tree), 0);
  EXPECT_EQ(report.copied, 1u);
  EXPECT_EQ(report.examined, 4u);
  EXPECT_EQ(copied("a.jpg"), "changed");
  char target[kPathBytes];  // the root folder's copies go to "root"
  ASSERT_EQ(backup_target(*state, "/", target), 1);
  EXPECT_EQ(std::string(target), backups.string() + "/F0/root/");
}

TEST_F(BackupFixture, OnlyRegularFilesAndNeverTheBackupRoot) {
  put("a.jpg");
  ASSERT_EQ(mkfifo((tree / "pipe").c_str(), 0600), 0);
  // The backup root inside the backed-up tree: earlier generations stay out.
  std::strcpy(state->settings.backup_root, (tree.string() + "/Backup/").c_str());
  write_text(tree / "Backup/F1/Photos/old.jpg", "old");
  for (int run = 0; run < 2; ++run) {
    EXPECT_EQ(backup(tree), 0);
    EXPECT_EQ(report.examined, 1u);
  }
  EXPECT_TRUE(fs::exists(tree / "Backup/F0/Photos/a.jpg"));
}

TEST_F(BackupFixture, FailedCopiesAreTriedAgainAndAHeldCatalogMeansNoBackup) {
  put("sub/a.jpg", "v1");
  put("b.jpg");
  write_text(backups / "F0/Photos/sub", "a file where the copy needs a folder");
  EXPECT_EQ(backup(tree), 1);
  EXPECT_EQ(report.copied, 1u);
  EXPECT_EQ(report.failed, 1u);
  fs::remove(backups / "F0/Photos/sub");
  EXPECT_EQ(backup(tree), 0);
  EXPECT_EQ(report.copied, 1u);
  EXPECT_EQ(copied("sub/a.jpg"), "v1");
  ListFile holder;
  std::strcpy(holder.path, (program_dir / kCatalogFileName).c_str());
  holder.writable = 1;
  ASSERT_NE(list_map(holder), nullptr);
  EXPECT_EQ(backup(tree), 1);
  EXPECT_STREQ(report.problem, "the catalog could not be opened or created");
  list_close(holder);
}

TEST_F(BackupFixture, AKilledRunIsCompletedByTheNextOne) {
  for (int i = 0; i < 600; ++i)
    put(std::string("f") + std::to_string(1000 + i) + ".jpg", std::to_string(i));
  const pid_t child = fork();
  if (child == 0) {
    // Dies at the first progress report, after 256 files, as a kill would.
    backup_folder(*state, tree.c_str(), &report, [](const BackupReport&) { _exit(9); });
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 9);
  EXPECT_EQ(backup(tree), 0);
  EXPECT_EQ(report.copied, 600u - 256u);
  EXPECT_EQ(copied("f1599.jpg") + copied("f1000.jpg"), "5990");
}

TEST_F(BackupFixture, RotationMovesF0AndTheGenerationOfTheRunsLowestBit) {
  // Run counter before, the generation that moves on with F0, counter after.
  const std::uint32_t runs[][3] = {{0, 1, 1}, {1, 2, 2}, {11, 3, 12}, {127, 8, 128}, {255, 9, 0}};
  for (const auto& [before, moved, after] : runs) {
    fs::remove_all(backups);
    for (std::uint32_t g = 0; g <= 9; ++g) {
      write_text(
          backups / (std::string("F") + std::to_string(g)) / (std::string("m") + std::to_string(g)),
          "");
    }
    state->settings.backup_generation = before;
    char failed[4];
    ASSERT_EQ(rotate_backups(*state, failed), 0);
    EXPECT_EQ(state->settings.backup_generation, after);
    // Where each marker is now: F0's and the moved one's went up one, F9's to FX.
    std::string places;
    for (std::uint32_t g = 0; g <= 9; ++g) {
      for (const auto& folder : fs::directory_iterator(backups)) {
        if (fs::exists(folder.path() / (std::string("m") + std::to_string(g))))
          places += folder.path().filename().string() + " ";
      }
    }
    std::string expected;
    for (std::uint32_t g = 0; g <= 9; ++g) {
      const std::uint32_t at = g == 0 || g == moved ? g + 1 : g;
      expected += (at == 10 ? std::string("FX") : std::string("F") + std::to_string(at)) + " ";
    }
    EXPECT_EQ(places, expected) << before;
  }
}

}  // namespace
