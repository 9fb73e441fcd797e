#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "catalog/catalog.h"
#include "settings/settings.h"

#include "../process_guard.h"

namespace fs = std::filesystem;

namespace {

struct BackupFixture : ::testing::Test {
  fs::path root;
  fs::path tree;
  fs::path backups;
  std::unique_ptr<AppState> state = std::make_unique<AppState>();
  BackupReport report{};

  void SetUp() override {
    char pattern[] = "/tmp/tessmira-backup-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root = pattern;
    tree = root / "Photos";
    backups = root / "Backup/Tessmira";
    fs::create_directories(tree);
    fs::create_directories(root / "data");
    std::strcpy(state->data_folder, (root / "data/").c_str());
    state->data_folder_usable = 1;
    std::strcpy(state->settings.backup_root, (backups.string() + "/").c_str());
    state->settings.select_mode = 1;
  }
  void TearDown() override { fs::remove_all(root); }
  void put(const fs::path& name, const std::string& content = "x") {
    fs::create_directories((tree / name).parent_path());
    std::ofstream(tree / name) << content;
  }
  int backup(const fs::path& folder) {
    return backup_folder(*state, folder.c_str(), &report, nullptr);
  }
  std::string copied(const fs::path& name) {
    std::ifstream in(backups / "F0/Photos" / name);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
};

TEST_F(BackupFixture, FirstBackupCopiesAllThenOnlyWhatChanged) {
  put("a.jpg", "one");
  put("IMG.JPG", "upper");
  put("img.jpg", "lower");  // differs only in case: backed up as well
  put("trip/day1/b.gif", "two");
  EXPECT_EQ(backup(tree), 0);
  EXPECT_EQ(report.copied, 4u);
  EXPECT_EQ(copied("a.jpg"), "one");
  EXPECT_EQ(copied("IMG.JPG"), "upper");
  EXPECT_EQ(copied("img.jpg"), "lower");
  EXPECT_EQ(copied("trip/day1/b.gif"), "two");
  // Copies keep the source's modification time and permissions.
  EXPECT_EQ(fs::last_write_time(backups / "F0/Photos/a.jpg"), fs::last_write_time(tree / "a.jpg"));

  EXPECT_EQ(backup(tree), 0);
  EXPECT_EQ(report.copied, 0u);
  EXPECT_EQ(report.examined, 4u);

  put("a.jpg", "changed");
  fs::last_write_time(tree / "a.jpg", fs::file_time_type::clock::now() + std::chrono::seconds(5));
  EXPECT_EQ(backup(tree), 0);
  EXPECT_EQ(report.copied, 1u);
  EXPECT_EQ(copied("a.jpg"), "changed");
}

TEST_F(BackupFixture, AnySpellingOfTheFolderGoesToItsLastComponent) {
  put("a.jpg");
  ProcessGuard process;
  ASSERT_EQ(process.enter(root.string()), 0);
  EXPECT_EQ(backup_folder(*state, "Photos/./", &report, nullptr), 0);
  EXPECT_EQ(report.copied, 1u);
  EXPECT_TRUE(fs::exists(backups / "F0/Photos/a.jpg"));
  EXPECT_FALSE(fs::exists(backups / "F0/a.jpg"));
  EXPECT_EQ(backup_folder(*state, "Photos/../Photos//", &report, nullptr), 0);
  EXPECT_EQ(report.copied, 0u);  // the same files, already backed up

  char target[kPathBytes];
  ASSERT_EQ(backup_target(*state, "/", target), 1);
  EXPECT_EQ(std::string(target), backups.string() + "/F0/root/");
  ASSERT_EQ(backup_target(*state, "/home/me/Photos", target), 1);
  EXPECT_EQ(std::string(target), backups.string() + "/F0/Photos/");

  EXPECT_EQ(backup_folder(*state, (root / "missing").c_str(), &report, nullptr), 1);
  EXPECT_STREQ(report.problem, "no such folder");
}

TEST_F(BackupFixture, LinearModeBacksUpTheTopFolderOnly) {
  put("top.jpg");
  put("sub/deep.jpg");
  state->settings.select_mode = 0;
  EXPECT_EQ(backup(tree), 0);
  EXPECT_EQ(report.copied, 1u);
  EXPECT_FALSE(fs::exists(backups / "F0/Photos/sub"));
}

TEST_F(BackupFixture, BackupTimeInTheFutureCountsAsNone) {
  put("a.jpg");
  ASSERT_EQ(backup(tree), 0);
  catalog_open(*state);
  ListFile& catalog = state->catalog;
  list_set_search_key(catalog, (tree / "a.jpg").c_str());
  const std::int32_t slot = list_find_exact(catalog, kCatalogPath);
  ASSERT_GE(slot, 0);
  list_get_field(catalog, static_cast<std::uint32_t>(slot), kCatalogBackupHigh);
  catalog.number_value += 1000;  // about 400,000 seconds ahead
  list_put_field(catalog, static_cast<std::uint32_t>(slot), kCatalogBackupHigh);
  list_close(catalog);
  EXPECT_EQ(backup(tree), 0);
  EXPECT_EQ(report.copied, 1u);
}

TEST_F(BackupFixture, OnlyRegularFilesAndNeverTheBackupRoot) {
  put("a.jpg");
  ASSERT_EQ(mkfifo((tree / "pipe").c_str(), 0600), 0);
  // The backup root inside the backed-up tree: earlier generations stay out.
  std::strcpy(state->settings.backup_root, (tree.string() + "/Backup/").c_str());
  fs::create_directories(tree / "Backup/F1/Photos");
  std::ofstream(tree / "Backup/F1/Photos/old.jpg") << "old";
  EXPECT_EQ(backup(tree), 0);
  EXPECT_EQ(report.examined, 1u);
  EXPECT_TRUE(fs::exists(tree / "Backup/F0/Photos/a.jpg"));
  EXPECT_EQ(backup(tree), 0);
  EXPECT_EQ(report.examined, 1u);
}

TEST_F(BackupFixture, AFailedCopyKeepsItsOldTimeAndFails) {
  put("sub/a.jpg", "v1");
  put("b.jpg");
  // A file where the copy needs a folder.
  fs::create_directories(backups / "F0/Photos");
  std::ofstream(backups / "F0/Photos/sub") << "in the way";
  EXPECT_EQ(backup(tree), 1);
  EXPECT_EQ(report.copied, 1u);
  EXPECT_EQ(report.failed, 1u);
  fs::remove(backups / "F0/Photos/sub");
  EXPECT_EQ(backup(tree), 0);
  EXPECT_EQ(report.copied, 1u);  // tried again
  EXPECT_EQ(copied("sub/a.jpg"), "v1");
}

TEST_F(BackupFixture, AHeldCatalogMeansNoBackup) {
  put("a.jpg");
  ListFile holder;
  ASSERT_EQ(backup(tree), 0);
  std::strcpy(holder.path, (root / "data" / kCatalogFileName).c_str());
  holder.writable = 1;
  ASSERT_NE(list_map(holder), nullptr);
  put("b.jpg");
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
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 9);
  EXPECT_EQ(backup(tree), 0);
  EXPECT_EQ(report.copied, 600u - 256u);
  EXPECT_EQ(copied("f1599.jpg"), "599");
  EXPECT_EQ(copied("f1000.jpg"), "0");
}

TEST_F(BackupFixture, RotationMovesF0AndTheGenerationOfTheRunsLowestBit) {
  // Run counter before, the generation that moves on with F0, counter after.
  const struct {
    std::uint32_t before;
    int moved;
    std::uint32_t after;
  } runs[] = {{0, 1, 1}, {1, 2, 2}, {11, 3, 12}, {127, 8, 128}, {255, 9, 0}};
  for (const auto& run : runs) {
    fs::remove_all(backups);
    for (int g = 0; g <= 9; ++g) {
      fs::create_directories(backups / (std::string("F") + std::to_string(g)));
      std::ofstream(backups / (std::string("F") + std::to_string(g)) /
                    (std::string("m") + std::to_string(g)))
          << g;
    }
    state->settings.backup_generation = run.before;
    char failed[4];
    ASSERT_EQ(rotate_backups(*state, failed), 0);
    EXPECT_EQ(state->settings.backup_generation, run.after);
    EXPECT_TRUE(fs::exists(backups / "F1/m0"));
    const std::string to = run.moved == 9 ? "FX" : "F" + std::to_string(run.moved + 1);
    EXPECT_TRUE(fs::exists(backups / to / (std::string("m") + std::to_string(run.moved))))
        << run.before;
    for (int g = 1; g <= 9; ++g) {
      const bool stayed = fs::exists(backups / (std::string("F") + std::to_string(g)) /
                                     (std::string("m") + std::to_string(g)));
      EXPECT_EQ(stayed, g != run.moved) << run.before << " F" << g;
    }
  }
}

TEST_F(BackupFixture, GenerationsMergeReplacingSamePaths) {
  fs::create_directories(backups / "F0/Photos/sub");
  fs::create_directories(backups / "F1/Photos/sub");
  std::ofstream(backups / "F0/Photos/sub/a.jpg") << "new";
  std::ofstream(backups / "F1/Photos/sub/a.jpg") << "old";
  std::ofstream(backups / "F1/Photos/kept.jpg") << "kept";
  ASSERT_EQ(move_generation(*state, "F0", "F1"), 0);
  std::ifstream in(backups / "F1/Photos/sub/a.jpg");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "new");
  EXPECT_TRUE(fs::exists(backups / "F1/Photos/kept.jpg"));
  EXPECT_TRUE(fs::is_empty(backups / "F0"));
  // Missing generations are skipped; a missing target is created.
  EXPECT_EQ(move_generation(*state, "F7", "F8"), 0);
  EXPECT_EQ(move_generation(*state, "F1", "F5"), 0);
  EXPECT_TRUE(fs::exists(backups / "F5/Photos/kept.jpg"));
}

TEST_F(BackupFixture, ParentFoldersAreCreatedTopDown) {
  create_parent_folders((root / "x/y/z/file.jpg").c_str());
  EXPECT_TRUE(fs::is_directory(root / "x/y/z"));
  EXPECT_FALSE(fs::exists(root / "x/y/z/file.jpg"));
  create_parent_folders("file.jpg");  // no parent: nothing
  create_parent_folders("/top.jpg");  // the root is never created
}

}  // namespace
