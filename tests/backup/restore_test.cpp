// The way back from the generations: the copies of a file, and the files
// restored as they stood in each generation.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "ports/console.h"
#include "ports/files.h"

#include "backup_fixture.h"
#include "runs.h"

using namespace test_support;

namespace {

std::vector<std::string> listed(const std::vector<FileVersion>& versions, const fs::path& root) {
  std::vector<std::string> lines;
  for (const FileVersion& version : versions) {
    lines.push_back(version.generation + " " + std::to_string(version.size) + " " +
                    fs::path(version.original).lexically_relative(root).string() + " " +
                    fs::path(version.copy).lexically_relative(root / "Backup/Tessmira").string());
  }
  return lines;
}

TEST_F(BackupFixture, VersionsListEveryCopyNewestFirstGroupedByFile) {
  put("a.jpg", "one");
  put("trip/b.gif", "two");
  // Another folder of the same name: its copies go by another name.
  write_text(root / "other/Photos/a.jpg", "other");
  ASSERT_TRUE(backup(tree));
  ASSERT_TRUE(backup(root / "other/Photos"));
  char failed[4];
  ASSERT_TRUE(rotate_run(*state, failed, collect));
  put("a.jpg", "three!");
  ASSERT_TRUE(backup(tree));
  std::vector<FileVersion> versions;
  std::string problem;
  ASSERT_TRUE(list_versions(backup_settings_of(state->settings), state->data,
                            (tree / "a.jpg").c_str(), &versions, &problem));
  EXPECT_EQ(listed(versions, root),
            (std::vector<std::string>{"F0 6 Photos/a.jpg F0/Photos/a.jpg",
                                      "F1 3 Photos/a.jpg F1/Photos/a.jpg"}));
  // A folder, by a path relative to the current folder: every file below it.
  const fs::path was = fs::current_path();
  fs::current_path(root);
  ASSERT_TRUE(list_versions(backup_settings_of(state->settings), state->data, "Photos/", &versions,
                            &problem));
  EXPECT_EQ(listed(versions, root),
            (std::vector<std::string>{"F0 6 Photos/a.jpg F0/Photos/a.jpg",
                                      "F1 3 Photos/a.jpg F1/Photos/a.jpg",
                                      "F1 3 Photos/trip/b.gif F1/Photos/trip/b.gif"}));
  ASSERT_TRUE(list_versions(backup_settings_of(state->settings), state->data, "other/Photos/a.jpg",
                            &versions, &problem));
  EXPECT_EQ(listed(versions, root),
            (std::vector<std::string>{"F1 5 other/Photos/a.jpg F1/Photos (2)/a.jpg"}));
  // "Photo" holds no "Photos"; a file never backed up has no copy.
  for (const char* none : {"Phot", "Photos/c.jpg"}) {
    ASSERT_TRUE(
        list_versions(backup_settings_of(state->settings), state->data, none, &versions, &problem));
    EXPECT_TRUE(versions.empty()) << none;
  }
  fs::current_path(was);
  state->settings.backup_root[0] = '\0';
  EXPECT_FALSE(list_versions(backup_settings_of(state->settings), state->data, "Photos", &versions,
                             &problem));
  EXPECT_EQ(problem, "the backup root is not set");

  setenv("TZ", "UTC", 1);
  tzset();
  const FileVersion version{"F3", 3, 12, 132593079670000000, "/b/F3/x", "/x", false};
  EXPECT_EQ(version_line(version), "F3\t12\t2021-03-04 05:06:07\t/b/F3/x\n");
}

// A file as the test last wrote it.
struct Written {
  std::string bytes;
  fs::file_time_type time;
};
using Snapshot = std::map<std::string, Written>;

struct RestoreFixture : BackupFixture {
  std::uint32_t clock = 0;  // every write gets a time of its own
  RestoreReport restored{};
  void write(Snapshot& now, const std::string& name, const std::string& bytes) {
    put(name, bytes);
    const auto time =
        fs::file_time_type::clock::now() - std::chrono::hours(1000) + std::chrono::seconds(++clock);
    fs::last_write_time(tree / name, time);
    now[name] = Written{bytes, time};
  }
  bool restore(const fs::path& path, std::uint32_t from, const fs::path& to,
               bool overwrite = false) {
    said.clear();
    const std::string where = to.string();
    const RestoreRequest request{path.c_str(), from, to.empty() ? nullptr : where.c_str(),
                                 overwrite};
    return restore_run(*state, request, &restored, collect);
  }
};

// Random edits between backups and rotations: restored from any generation,
// every file that existed when that generation's newest backup ran comes
// back with the bytes and the write time it had then.
TEST_F(RestoreFixture, EveryGenerationGivesBackTheTreeOfItsNewestBackup) {
  std::mt19937 random(20261208);
  const char* names[] = {"a.jpg", "b.gif", "sub/c.bmp", "sub/d.txt", "sub/deep/e", "f"};
  Snapshot now;
  std::vector<Snapshot> runs;
  // The newest backup run each generation holds the copies of (-1: none).
  int run_of[11];
  std::fill(std::begin(run_of), std::end(run_of), -1);
  for (int round = 0; round < 14; ++round) {
    for (int edit = random() % 3; edit >= 0; --edit) {
      const std::string name = names[random() % 6];
      if (now.count(name) != 0 && random() % 4 == 0) {
        fs::remove(tree / name);  // deleted; renamed when written anew below
        now.erase(name);
        if (random() % 2 == 0) continue;
      }
      write(now, random() % 5 == 0 ? name + ".moved" : name,
            std::string(1 + random() % 40, static_cast<char>('a' + round)));
    }
    if (random() % 3 == 0) {
      // A link, kept and given back as one: its target text.
      fs::remove(tree / "sub/ln");
      fs::create_directories(tree / "sub");
      fs::create_symlink("target " + std::to_string(round), tree / "sub/ln");
      now["sub/ln"] = Written{"-> target " + std::to_string(round), {}};
    }
    ASSERT_TRUE(backup(tree)) << round;
    runs.push_back(now);
    run_of[0] = round;
    if (random() % 2 == 0) {
      // The rotation's own rule: the lowest set bit of the next counter.
      const std::uint32_t n = state->settings.backup_generation + 1;
      std::uint32_t k = 0;
      while (k < 8 && (n & (1u << k)) == 0) ++k;
      char failed[4];
      ASSERT_TRUE(rotate_run(*state, failed, collect)) << round;
      run_of[k + 2] = std::max(run_of[k + 2], run_of[k + 1]);
      run_of[k + 1] = -1;
      run_of[1] = std::max(run_of[1], run_of[0]);
      run_of[0] = -1;
    }
  }
  for (std::uint32_t from = 0; from < 11; ++from) {
    const int run = *std::max_element(run_of + from, run_of + 11);
    const fs::path to = root / "restored" / std::to_string(from);
    const bool complete = restore(tree, from, to);
    if (run < 0) {
      EXPECT_FALSE(complete) << from;
      continue;
    }
    EXPECT_TRUE(complete) << from;
    for (const auto& [name, file] : runs[static_cast<std::size_t>(run)]) {
      if (name == "sub/ln") {
        EXPECT_EQ("-> " + fs::read_symlink(to / name).string(), file.bytes) << from;
        continue;
      }
      EXPECT_EQ(read_text(to / name), file.bytes) << from << " " << name;
      EXPECT_EQ(fs::last_write_time(to / name), file.time) << from << " " << name;
    }
  }
}

TEST_F(RestoreFixture, ExistingFilesLinksAndTheBackupRootAreNeverWrittenOver) {
  Snapshot now;
  write(now, "a.jpg", "old");
  write(now, "sub/b.gif", "bee");
  ASSERT_TRUE(backup(tree));
  write(now, "a.jpg", "mine now");
  // Into the original place: a file that differs is left, one that matches
  // counts as there; with --overwrite the copy replaces it.
  EXPECT_FALSE(restore(tree, 0, {}));
  EXPECT_EQ(restored.refused, 1u);
  EXPECT_EQ(restored.identical, 1u);
  EXPECT_EQ(read_text(tree / "a.jpg"), "mine now");
  EXPECT_TRUE(restore(tree / "a.jpg", 0, {}, true));
  EXPECT_EQ(read_text(tree / "a.jpg"), "old");
  // A single file under a name of its own.
  EXPECT_TRUE(restore(tree / "sub/b.gif", 0, root / "b copy.gif"));
  EXPECT_EQ(read_text(root / "b copy.gif"), "bee");
  // A link at the destination, to a file or in place of a folder, is never
  // written through, even with --overwrite.
  const fs::path to = root / "to";
  fs::create_directories(root / "outside");
  fs::create_directories(to);
  write_text(root / "outside/a.jpg", "outside");
  fs::create_symlink(root / "outside/a.jpg", to / "a.jpg");
  fs::create_directory_symlink(root / "outside", to / "sub");
  EXPECT_FALSE(restore(tree, 0, to, true));
  EXPECT_EQ(restored.failed, 2u);
  EXPECT_EQ(read_text(root / "outside/a.jpg"), "outside");
  EXPECT_FALSE(fs::exists(root / "outside/b.gif"));
  // A link planted in the generations is never read through.
  fs::create_directory_symlink(root / "outside", backups / "F0/Photos/planted");
  std::vector<FileVersion> versions;
  std::string problem;
  ASSERT_TRUE(list_versions(backup_settings_of(state->settings), state->data,
                            (tree / "planted/a.jpg").c_str(), &versions, &problem));
  EXPECT_TRUE(versions.empty());
  // Nothing is written inside the backup root.
  EXPECT_FALSE(restore(tree, 0, backups / "F3"));
  EXPECT_FALSE(fs::exists(backups / "F3"));
  EXPECT_FALSE(restore(tree / "none.jpg", 0, {}));
  EXPECT_EQ(restored.problem, "no copy of it is in the generations");
}

TEST_F(RestoreFixture, VerifyFindsMissingCutShortAndDamagedCopies) {
  Snapshot now;
  for (const char* name : {"a", "b", "sub/c", "sub/d"})
    write(now, name, std::string("file ") + name);
  ASSERT_TRUE(backup(tree));
  VerifyReport verified{};
  EXPECT_TRUE(verify_run(*state, tree.c_str(), &verified, collect));
  EXPECT_EQ(verified.checked, 4u);
  const fs::path copies = backups / "F0/Photos";
  fs::remove(copies / "a");
  fs::resize_file(copies / "sub/c", 3);
  // Damaged in place: the same size and write time, other bytes.
  const auto time = fs::last_write_time(copies / "b");
  write_text(copies / "b", "file B");
  fs::last_write_time(copies / "b", time);
  write(now, "sub/d", "changed since: not compared");
  write(now, "e", "never backed up");
  // Too long a path to back up: the backup names it as failed, and so does this.
  const std::string deep =
      std::string(250, 'l') + "/" + std::string(250, 'o') + "/" + std::string(100, 'n');
  write(now, deep, "too far down");
  said.clear();
  EXPECT_FALSE(verify_run(*state, tree.c_str(), &verified, collect));
  EXPECT_EQ(verified.checked, 6u);
  EXPECT_EQ(verified.missing, 3u);
  EXPECT_EQ(verified.problems, 5u);
  std::sort(said.begin(), said.end());
  ASSERT_EQ(said.size(), 5u);
  EXPECT_EQ(said[0].rfind("changed: " + (copies / "sub/c").string(), 0), 0u) << said[0];
  EXPECT_EQ(said[1].rfind("damaged: " + (copies / "b").string(), 0), 0u) << said[1];
  EXPECT_EQ(said[2], "missing: " + (tree / "a").string() + " has no copy");
  EXPECT_EQ(said[3], "missing: " + (tree / "e").string() + " has no copy");
  EXPECT_EQ(said[4],
            "missing: " + (tree / deep).string() + " has no copy: its path is too long to back up");
}

int stop_at = 0;
void stop_at_change() {
  if (--stop_at == 0) _exit(70);
}
void interrupt_at_change() {
  if (--stop_at == 0) raise(SIGINT);
}

// A restore stopped at any change to the disk leaves whole files or none.
TEST_F(RestoreFixture, AStoppedRestoreLeavesNoPartialFile) {
  Snapshot now;
  for (const char* name : {"a", "b", "sub/c", "sub/d"}) write(now, name, std::string(70000, *name));
  ASSERT_TRUE(backup(tree));
  // Also where no file can be made unnamed: what the stopped run left beside
  // its files goes with the next run.
  for (int stop = 1; stop <= 12; ++stop) {
    const bool unnamed = stop <= 6;
    const fs::path to = root / ("stopped" + std::to_string(stop));
    const pid_t child = fork();
    if (child == 0) {
      stop_at = unnamed ? stop : stop - 6;
      set_unnamed_files_refused(!unnamed);
      set_disk_change_seam(stop_at_change);
      restore(tree, 0, to);
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    set_unnamed_files_refused(!unnamed);
    if (!unnamed) {
      EXPECT_TRUE(restore(tree, 0, to)) << stop;
    }
    set_unnamed_files_refused(false);
    std::size_t whole = 0;
    for (const auto& entry : fs::recursive_directory_iterator(to)) {
      if (!entry.is_regular_file()) continue;
      const std::string name = entry.path().lexically_relative(to).string();
      ASSERT_EQ(now.count(name), 1u) << "a stray file " << name;
      EXPECT_EQ(read_text(entry.path()), now[name].bytes) << name;
      ++whole;
    }
    EXPECT_EQ(whole, WEXITSTATUS(status) == 70 && unnamed ? static_cast<std::size_t>(stop - 1) : 4u)
        << stop;
  }
  // An interrupt during the second file stops the run once that file is whole.
  const pid_t child = fork();
  if (child == 0) {
    catch_interrupt();
    stop_at = 2;
    set_disk_change_seam(interrupt_at_change);
    const bool complete = restore(tree, 0, root / "interrupted");
    // A rotation asked to stop moves nothing and leaves its journal.
    char failed[4];
    const bool rotated = rotate_run(*state, failed, collect);
    _exit(static_cast<int>(restored.restored * 10 + (restored.stopped ? 1 : 0) +
                           (complete ? 5 : 0) + (rotated ? 100 : 0)));
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(WEXITSTATUS(status), 21);
  EXPECT_TRUE(fs::exists(backups / "F0/Photos/a"));
  char failed[4];
  said.clear();
  EXPECT_TRUE(rotate_run(*state, failed, collect));
  EXPECT_EQ(
      said,
      (std::vector<std::string>{"finishing the rotation a stopped run began; no other was made"}));
  EXPECT_TRUE(fs::exists(backups / "F1/Photos/a"));
}

}  // namespace
