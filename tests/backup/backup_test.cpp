// Backups of a folder tree into generation F0, and their rotation.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "backup/backup.h"
#include "backup_fixture.h"
#include "catalog/catalog.h"
#include "runs.h"
#include "settings/settings.h"

using namespace test_support;

namespace {

TEST_F(BackupFixture, FirstBackupCopiesAllThenOnlyWhatChanged) {
  put("a.jpg", "one");
  put("IMG.JPG", "upper");
  put("img.jpg", "lower");  // differs only in case: backed up as well
  put("trip/day1/b.gif", "two");
  state->settings.select_mode = 0;  // Linear: the top folder only
  EXPECT_TRUE(backup(tree));
  EXPECT_EQ(report.copied, 3u);
  EXPECT_FALSE(fs::exists(backups / "F0/Photos/trip"));
  state->settings.select_mode = 1;
  EXPECT_TRUE(backup(tree));
  EXPECT_EQ(report.copied, 1u);
  EXPECT_EQ(copied("img.jpg") + copied("IMG.JPG") + copied("trip/day1/b.gif"), "loweruppertwo");
  // Copies keep the source's modification time.
  EXPECT_EQ(fs::last_write_time(backups / "F0/Photos/a.jpg"), fs::last_write_time(tree / "a.jpg"));
  // A backup time in the future (a clock set back) counts as none.
  catalog_open(state->catalog, state->data);
  ListFile& catalog = state->catalog.list;
  list_set_search_key(catalog, (tree / "img.jpg").c_str());
  const std::int32_t slot = list_find_exact(catalog, kCatalogPath);
  ASSERT_GE(slot, 0);
  list_get_field(catalog, static_cast<std::uint32_t>(slot), kCatalogBackupHigh);
  catalog.number_value += 1000;  // about 400,000 seconds ahead
  list_put_field(catalog, static_cast<std::uint32_t>(slot), kCatalogBackupHigh);
  list_close(catalog);
  EXPECT_TRUE(backup(tree));
  EXPECT_EQ(report.copied, 1u);
  put("a.jpg", "changed");
  fs::last_write_time(tree / "a.jpg", fs::file_time_type::clock::now() + std::chrono::seconds(5));
  EXPECT_TRUE(backup(tree));
  EXPECT_EQ(report.copied, 1u);
  EXPECT_EQ(report.examined, 4u);
  EXPECT_EQ(copied("a.jpg"), "changed");
  char target[kPathBytes];  // a root's copies go to "root", another folder's to its name
  ASSERT_TRUE(backup_target(backup_settings_of(state->settings), "/", target, kSlashRules));
  EXPECT_EQ(std::string(target), backups.string() + "/F0/root/");
  const std::pair<const char*, const char*> drives[] = {{"C:\\", "E:\\B\\F0\\root\\"},
                                                        {"D:\\Photos", "E:\\B\\F0\\Photos\\"}};
  for (const char* root : {"E:\\B", "E:\\B\\"}) {
    std::strcpy(state->settings.backup_root, root);
    for (const auto& [folder, expected] : drives) {
      ASSERT_TRUE(backup_target(backup_settings_of(state->settings), folder, target, kDriveRules));
      EXPECT_STREQ(target, expected) << root << " " << folder;
    }
  }
}

TEST(Excludes, NamesMatchAtAnyDepthPathsFromTheFolderCaseAsTheFileSystemCounts) {
  struct Case {
    const char* pattern;
    const char* below;
    bool posix;    // with "/" and letter case counting
    bool windows;  // with "\\" and "/", letter case ignored
  };
  const Case cases[] = {
      {"*.tmp", "a.tmp", true, true},
      {"*.tmp", "deep/er/a.tmp", true, true},  // one name: at any depth
      {"*.tmp", "a.tmp/inner", false, false},
      {"*.TMP", "a.tmp", false, true},
      {"cache", "x/cache", true, true},
      {"cache", "x/cached", false, false},
      {"/cache", "cache", true, true},  // anchored at the folder backed up
      {"/cache", "x/cache", false, false},
      {"build/*.o", "build/a.o", true, true},
      {"build/*.o", "build/sub/a.o", false, false},  // * stays within one name
      {"build/**", "build/sub/a.o", true, true},
      {"**/.cache", ".cache", true, true},  // **/ stands for no folder too
      {"**/.cache", "home/a/.cache", true, true},
      {"**/.cache", "home/a/x.cache", false, false},
      {"a/**/z", "a/z", true, true},
      {"a/**/z", "a/b/c/z", true, true},
      {"caf?.jpg", "caf\xc3\xa9.jpg", true, true},  // ? is one character
      {"a?b", "a/b", false, false},
      {"x/", "x", true, true},  // a trailing separator says nothing more
      {"", "x", false, false},
      {"AppData/Local/Temp", "appdata/local/temp", false, true},
      // The last parts' heads and tails: a quick no must never refuse these.
      {"**/.Trash-*", "home/.Trash-1000", true, true},
      {"**/.Trash-*", "home/.Trash", false, false},
      {"thumb*_?.DB", "x/THUMBcache_9.db", false, true},
      {"a*b*c", "abc", true, true},
      {"a*bc", "abc", true, true},
      {"ab*bc", "abc", false, false},  // head and tail may not overlap
      {"x/**", "x/y/z", true, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(exclude_matches(c.pattern, c.below, kSlashRules), c.posix)
        << c.pattern << " " << c.below;
    std::string backslashed = c.below;
    std::replace(backslashed.begin(), backslashed.end(), '/', '\\');
    EXPECT_EQ(exclude_matches(c.pattern, backslashed, kDriveRules), c.windows)
        << c.pattern << " " << backslashed;
  }
}

TEST_F(BackupFixture, ExcludesAndCacheTagsLeaveThingsOutWhichKeepTheirOlderCopies) {
  const std::string tag = "Signature: 8a477f597d28d172789f06886806bc55\n# a cache\n";
  for (const char* name : {"a.jpg", "notes.tmp", "sub/b.tmp", "sub/keep.jpg", "build/out/x.o",
                           ".cache/thumb.png", "tagged/blob", "fake/data"}) {
    put(name, name);
  }
  put("tagged/CACHEDIR.TAG", tag);
  put("fake/CACHEDIR.TAG", "Signature: 8a477f597d28d172789f06886806bc5\n");  // one digit short
  const fs::path excludes = fs::path(state->data.folder) / kExcludesFile;
  // The first run writes the default exclude file and leaves out .cache and
  // the tagged folder, each counted once.
  ASSERT_TRUE(backup(tree));
  EXPECT_EQ(read_text(excludes), kDefaultExcludes);
  EXPECT_EQ(report.copied, 7u);  // the wrongly tagged folder's two files among them
  EXPECT_EQ(report.left_out, 2u);
  EXPECT_FALSE(fs::exists(backups / "F0/Photos/.cache"));
  EXPECT_FALSE(fs::exists(backups / "F0/Photos/tagged"));
  EXPECT_EQ(copied("fake/data"), "fake/data");
  // An edited file is kept as it is; the command line's patterns add to it.
  write_text(excludes, "# mine\n  *.tmp  \n\n");
  put("notes.tmp", "changed");
  fs::last_write_time(tree / "notes.tmp",
                      fs::file_time_type::clock::now() + std::chrono::seconds(5));
  BackupOptions options{false, collect, {}};
  options.excludes = {"/build"};
  said.clear();
  ASSERT_TRUE(backup_run(*state, tree.c_str(), &report, options));
  EXPECT_EQ(read_text(excludes), "# mine\n  *.tmp  \n\n");
  EXPECT_EQ(report.left_out, 4u);  // both .tmp files, build, the tagged folder
  EXPECT_EQ(report.copied, 1u);    // .cache/thumb.png, no longer left out
  // What is left out keeps the copies it had.
  EXPECT_EQ(copied("notes.tmp"), "notes.tmp");
  EXPECT_EQ(copied("sub/b.tmp"), "sub/b.tmp");
  // A verify leaves out what every backup leaves out: the file's patterns
  // and the tagged folder, never a copy missing.
  VerifyReport checked{};
  said.clear();
  EXPECT_TRUE(verify_run(*state, tree.c_str(), &checked, collect)) << said.size();
  EXPECT_EQ(checked.left_out, 3u);
  EXPECT_EQ(checked.missing, 0u);
  // Cache tags may be ignored; a dry run lists what it would leave out.
  options.cache_tags = false;
  options.dry_run = true;
  std::vector<std::string> planned;
  static std::vector<std::string>* told = nullptr;
  told = &planned;
  options.planned = BackupMessage(+[](const char* line) { told->emplace_back(line); });
  ASSERT_TRUE(backup_run(*state, tree.c_str(), &report, options));
  EXPECT_EQ(report.left_out, 3u);
  EXPECT_NE(
      std::find(planned.begin(), planned.end(), "would copy " + (tree / "tagged/blob").string()),
      planned.end());
  EXPECT_NE(
      std::find(planned.begin(), planned.end(), "would leave out " + (tree / "build").string()),
      planned.end());
}

TEST_F(BackupFixture, TheRunLogKeepsALineARunAndTheLastThousand) {
  RunLogEntry entry{
      "/b=/home/a/My\tPhotos", 12, 3456, 1250, 1, "cannot read x:\nPermission denied"};
  EXPECT_EQ(run_log_line(entry, "2026-12-09 10:00:00"),
            "2026-12-09 10:00:00\t/b=/home/a/My Photos\t12 files\t3456 bytes\t1.2 s\texit 1\t"
            "cannot read x: Permission denied\n");
  std::string text;
  ASSERT_TRUE(read_run_log(state->data, &text));
  EXPECT_EQ(text, "");  // nothing logged yet
  for (std::uint32_t run = 1; run <= kRunLogRuns + 5; ++run) {
    entry.files = run;
    ASSERT_TRUE(append_run_log(state->data, entry, true));
  }
  // A run sharing the lock never trims: one line more.
  entry.files = 0;
  ASSERT_TRUE(append_run_log(state->data, entry, false));
  ASSERT_TRUE(read_run_log(state->data, &text));
  std::vector<std::string> lines;
  for (std::size_t at = 0, end = 0; at < text.size(); at = end + 1) {
    end = text.find('\n', at);
    lines.push_back(text.substr(at, end - at));
  }
  ASSERT_EQ(lines.size(), kRunLogRuns + 1);
  EXPECT_NE(lines.front().find("\t6 files\t"), std::string::npos) << lines.front();
  EXPECT_NE(lines[kRunLogRuns - 1].find("\t1005 files\t"), std::string::npos);
  EXPECT_NE(lines.back().find("\t0 files\t"), std::string::npos);
}

TEST_F(BackupFixture, TheBackupRootIsNeverEnteredWhetherItExistsOrNot) {
  // A first backup of a home that holds the default root, not made yet: the
  // root appears with the first copy, most likely before its folder is
  // listed (whenever a file of the 40 comes before "Backup").
  for (int i = 0; i < 40; ++i) put("f" + std::to_string(i) + ".jpg");
  fs::create_directory(tree / "Backup");
  std::strcpy(state->settings.backup_root, (tree.string() + "/Backup/Tessmira/").c_str());
  EXPECT_TRUE(backup(tree));
  EXPECT_EQ(report.examined, 40u);
  EXPECT_FALSE(fs::exists(tree / "Backup/Tessmira/F0/Photos/Backup"));
  EXPECT_TRUE(backup(tree));
  EXPECT_EQ(report.examined, 40u);
  // Spelled another way, with an older generation inside.
  fs::remove_all(tree / "Backup");
  write_text(tree / "Backup/Tessmira/F1/Photos/old.jpg", "old");
  std::strcpy(state->settings.backup_root, (tree.string() + "//Backup/./Tessmira").c_str());
  EXPECT_TRUE(backup(tree));
  EXPECT_EQ(report.examined, 40u);
  EXPECT_FALSE(fs::exists(tree / "Backup/Tessmira/F0/Photos/Backup"));
}

// Links are kept as links with their target text, never followed, and come
// back as links; a FIFO is named and fails the run.
TEST_F(BackupFixture, LinksAreKeptAsLinksAndFifosAreNamedAndFailTheRun) {
  put("a.jpg");
  put("sub/b.jpg");
  ASSERT_EQ(mkfifo((tree / "pipe").c_str(), 0600), 0);
  fs::create_directory_symlink(tree / "sub", tree / "folder-link");
  fs::create_symlink("nowhere", tree / "dangling");
  fs::create_symlink("a.jpg", tree / "file-link");
  EXPECT_FALSE(backup(tree));
  EXPECT_EQ(report.copied, 5u);
  EXPECT_EQ(report.failed + report.folders_not_entered, 0u);
  EXPECT_EQ(report.skipped, 1u);
  EXPECT_EQ(said, (std::vector<std::string>{"skipped " + (tree / "pipe").string() +
                                            ": neither a file nor a folder"}));
  const fs::path copies = backups / "F0/Photos";
  EXPECT_EQ(fs::read_symlink(copies / "dangling"), "nowhere");
  EXPECT_EQ(fs::read_symlink(copies / "file-link"), "a.jpg");
  EXPECT_EQ(fs::read_symlink(copies / "folder-link"), tree / "sub");
  EXPECT_FALSE(fs::exists(copies / "folder-link/sub"));
  // Unchanged links are not copied again; one led elsewhere is.
  fs::remove(tree / "pipe");
  EXPECT_TRUE(backup(tree));
  EXPECT_EQ(report.copied, 0u);
  fs::remove(tree / "dangling");
  fs::create_symlink("still nowhere", tree / "dangling");
  EXPECT_TRUE(backup(tree));
  EXPECT_EQ(report.copied, 1u);
  VerifyReport verified{};
  EXPECT_TRUE(verify_run(*state, tree.c_str(), &verified, collect));
  // Restored as links, the folder's one never entered.
  RestoreReport restored{};
  const std::string to = (root / "back").string();
  EXPECT_TRUE(
      restore_run(*state, RestoreRequest{tree.c_str(), 0, to.c_str(), false}, &restored, collect));
  EXPECT_EQ(fs::read_symlink(root / "back/dangling"), "still nowhere");
  EXPECT_EQ(fs::read_symlink(root / "back/folder-link"), tree / "sub");
  EXPECT_EQ(restored.restored, 5u);
  // A copy that leads elsewhere with its length and time kept is found.
  fs::remove(copies / "dangling");
  fs::create_symlink("still nowherE", copies / "dangling");
  struct stat info {};
  ASSERT_EQ(lstat((tree / "dangling").c_str(), &info), 0);
  const timespec times[2] = {{0, UTIME_OMIT}, info.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, (copies / "dangling").c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
  said.clear();
  EXPECT_FALSE(verify_run(*state, tree.c_str(), &verified, collect));
  ASSERT_EQ(said.size(), 1u);
  EXPECT_EQ(said[0].rfind("damaged: " + (copies / "dangling").string(), 0), 0u) << said[0];
}

TEST_F(BackupFixture, FoldersOfTheSameNameNeverShareTheirCopies) {
  const fs::path alice = root / "alice/Documents";
  const fs::path bob = root / "bob/Documents";
  write_text(alice / "note.txt", "alice");
  write_text(bob / "note.txt", "bob");
  EXPECT_TRUE(backup(alice));
  EXPECT_TRUE(backup(bob));
  EXPECT_EQ(report.copied, 1u);
  EXPECT_EQ(said, std::vector<std::string>{bob.string() + " is backed up as Documents (2): " +
                                           "Documents holds another folder's copies"});
  EXPECT_TRUE(backup(alice));
  EXPECT_EQ(report.copied, 0u);
  EXPECT_EQ(read_text(backups / "F0/Documents/note.txt"), "alice");
  EXPECT_EQ(read_text(backups / "F0/Documents (2)/note.txt"), "bob");
  // Every later run and rotation finds the same place; a name that some
  // generation holds already is passed over for a new folder.
  char failed[4];
  ASSERT_TRUE(rotate_run(*state, failed, collect));
  write_text(bob / "note.txt", "bob, later");
  fs::last_write_time(bob / "note.txt", fs::file_time_type::clock::now() + std::chrono::seconds(5));
  EXPECT_TRUE(backup(bob));
  EXPECT_EQ(report.copied, 1u);
  EXPECT_EQ(read_text(backups / "F0/Documents (2)/note.txt"), "bob, later");
  EXPECT_EQ(read_text(backups / "F1/Documents (2)/note.txt"), "bob");
  write_text(backups / "F4/Documents (3)/x", "");
  // A tab or a line end in a path stays inside its line of the record.
  const fs::path carol = root / "carol\t%\n/Documents";
  write_text(carol / "note.txt", "carol");
  EXPECT_TRUE(backup(carol));
  EXPECT_TRUE(backup(carol));
  EXPECT_EQ(report.copied, 0u);
  EXPECT_EQ(read_text(backups / "F0/Documents (4)/note.txt"), "carol");
  EXPECT_EQ(read_text(program_dir / kBackupNames),
            "Documents\t" + alice.string() + "\nDocuments (2)\t" + bob.string() +
                "\nDocuments (4)\t" + root.string() + "/carol%09%25%0A/Documents\n");
}

// A record that would lead a copy out of its generation, or onto another
// folder's copies, is set aside (told once) and its folder named anew.
TEST_F(BackupFixture, DamagedCopyNamesAreSetAsideAndNeverLeadOutOfTheGenerations) {
  const fs::path bob = root / "bob/Documents";
  const fs::path carol = root / "carol/Documents";
  put("a.jpg", "a");
  write_text(bob / "b.txt", "b");
  write_text(carol / "c.txt", "c");
  const std::string damaged = "../../outside\t" + tree.string() + "\nDocuments\t" + bob.string() +
                              "\nDocuments\t" + carol.string() +
                              "\n/abs\t/x\na/b\t/y\n.\t/z\n..\t/w\n\t/v\nno tab\nn\trelative\n";
  write_text(program_dir / kBackupNames, damaged);
  EXPECT_TRUE(backup(tree));
  ASSERT_FALSE(said.empty());
  EXPECT_EQ(said[0].rfind(std::string(kBackupNames) + " had 9 damaged records", 0), 0u) << said[0];
  EXPECT_TRUE(backup(bob));
  EXPECT_TRUE(backup(carol));
  EXPECT_EQ(said.size(), 1u);  // carol's new name, and no word of the damage
  EXPECT_FALSE(fs::exists(root / "Backup/outside"));
  EXPECT_EQ(copied("a.jpg") + read_text(backups / "F0/Documents (2)/c.txt"), "ac");
  EXPECT_FALSE(fs::exists(backups / "F0/Documents/c.txt"));
  EXPECT_EQ(read_text(program_dir / (std::string(kBackupNames) + ".damaged")), damaged);
  EXPECT_EQ(read_text(program_dir / kBackupNames), "Documents\t" + bob.string() + "\nPhotos\t" +
                                                       tree.string() + "\nDocuments (2)\t" +
                                                       carol.string() + "\n");
}

TEST_F(BackupFixture, FailedCopiesAreTriedAgainAndAHeldCatalogMeansNoBackup) {
  put("sub/a.jpg", "v1");
  put("b.jpg");
  write_text(backups / "F0/Photos/sub", "a file where the copy needs a folder");
  EXPECT_FALSE(backup(tree));
  EXPECT_EQ(report.copied, 1u);
  EXPECT_EQ(report.failed, 1u);
  fs::remove(backups / "F0/Photos/sub");
  EXPECT_TRUE(backup(tree));
  EXPECT_EQ(report.copied, 1u);
  EXPECT_EQ(copied("sub/a.jpg"), "v1");
  ListFile holder;
  std::strcpy(holder.path, (program_dir / kCatalogFileName).c_str());
  holder.writable = true;
  ASSERT_NE(list_map(holder), nullptr);
  EXPECT_FALSE(backup(tree));
  EXPECT_EQ(report.problem, "the catalog could not be opened or created");
  list_close(holder);
}

TEST_F(BackupFixture, AKilledRunIsCompletedByTheNextOne) {
  for (int i = 0; i < 600; ++i)
    put(std::string("f") + std::to_string(1000 + i) + ".jpg", std::to_string(i));
  const pid_t child = fork();
  if (child == 0) {
    // Dies after 256 files, as a kill would, in batches of 100: the first
    // recorded (the second's flush made their names durable), the second
    // named only, the third staged only.
    const Progress dies{[](void*, const RunProgress& done) {
                          if (done.files_done == 256) _exit(9);
                        },
                        nullptr};
    BackupOptions options{false, nullptr, {}};
    options.batch_files = 100;
    backup_run(*state, tree.c_str(), &report, options, dies);
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 9);
  EXPECT_TRUE(backup(tree));
  EXPECT_EQ(report.copied, 600u - 100u);
  EXPECT_EQ(copied("f1599.jpg") + copied("f1000.jpg"), "5990");
}

TEST_F(BackupFixture, RecordsStartEmptyAndOldOnesLearnTheWriteTime) {
  put("a.jpg", "a");
  ASSERT_TRUE(backup(tree));
  catalog_open(state->catalog, state->data);
  ListFile& catalog = state->catalog.list;
  list_set_search_key(catalog, (tree / "a.jpg").c_str());
  const std::int32_t slot = list_find_exact(catalog, kCatalogPath);
  ASSERT_GE(slot, 0);
  const auto field = [&](std::uint32_t number) {
    list_get_field(catalog, static_cast<std::uint32_t>(slot), number);
    return catalog.number_value;
  };
  EXPECT_EQ(field(kCatalogSize), 1);
  EXPECT_NE(field(kCatalogBackupHigh), 0);
  EXPECT_NE(field(kCatalogWrittenHigh), 0);
  // A record from before write times were kept: judged by its backup time
  // alone, then given the write time and size.
  for (const std::uint32_t number : {kCatalogWrittenHigh, kCatalogWrittenLow, kCatalogSize}) {
    catalog.number_value = 0;
    list_put_field(catalog, static_cast<std::uint32_t>(slot), number);
  }
  list_close(catalog);
  ASSERT_TRUE(backup(tree));
  EXPECT_EQ(report.copied, 0u);
  catalog_open(state->catalog, state->data);
  EXPECT_NE(field(kCatalogWrittenHigh), 0);
  EXPECT_EQ(field(kCatalogSize), 1);
  list_close(catalog);
  // The same size, written long ago: a file put back from an archive.
  put("a.jpg", "z");
  fs::last_write_time(tree / "a.jpg",
                      fs::file_time_type::clock::now() - std::chrono::hours(24 * 365 * 20));
  ASSERT_TRUE(backup(tree));
  EXPECT_EQ(report.copied, 1u);
  EXPECT_EQ(copied("a.jpg"), "z");
  catalog_open(state->catalog, state->data);
  // Its file freed from the catalog: a path in a freed slot answers no
  // lookup, and the new record taking the slot inherits no backup time.
  list_set_tag(catalog, static_cast<std::uint32_t>(slot), SLOT_FREED);
  list_close(catalog);
  put("b.jpg", "b");
  ASSERT_TRUE(backup(tree));
  EXPECT_EQ(report.copied, 2u);
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
    ASSERT_TRUE(rotate_run(*state, failed, collect));
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
