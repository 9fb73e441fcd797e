// A rotation stopped at any change it makes to the disk (as a kill or a
// power cut would stop it), then run again, ends exactly as a rotation that
// was never stopped. Built for Linux and for Windows (run under Wine).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "backup/backup.h"
#include "ports/files.h"
#include "runs.h"
#include "settings/settings.h"
#include "support.h"

using namespace test_support;

namespace {

std::vector<std::string> said;
void collect(const char* line) {
  said.emplace_back(line);
}

// The program's folder (the data folder) and the backup root inside folder.
fs::path program_of(const fs::path& folder) {
  return folder / "prog" / "tessmira.exe";
}
fs::path backups_of(const fs::path& folder) {
  return folder / "Backup";
}

std::unique_ptr<AppState> load(const fs::path& folder) {
  auto state = std::make_unique<AppState>();
  choose_data_folder_at(state->data, program_of(folder).string().c_str());
  load_settings(state->settings, state->extra, state->data);
  const std::string root = (backups_of(folder) / "").string();
  std::snprintf(state->settings.backup_root, kPathBytes, "%s", root.c_str());
  return state;
}

// Generations that overlap: same names, a folder where an older generation
// has a file, a merged subfolder; the counter before the run.
void lay_out(const fs::path& folder, std::uint32_t counter) {
  const fs::path b = backups_of(folder);
  for (const char* name : {"F0/A", "F0/B", "F0/sub/C", "F0/sub/D", "F1/A", "F1/B", "F1/sub/C",
                           "F1/E", "F1/G/H", "F2/B", "F2/sub/F", "F2/G", "F9/Z", "FX/Z"}) {
    write_text(b / name, name);
  }
#ifndef _WIN32
  // Links are copies too: one moved, one replacing a file, one a folder.
  fs::create_symlink("A", b / "F0/L");
  fs::create_symlink("sub/C", b / "F0/G");
  fs::create_symlink("elsewhere", b / "F2/sub/C");
#endif
  fs::create_directories(folder / "prog");
  auto state = load(folder);
  state->settings.backup_generation = counter;
  ASSERT_TRUE(write_settings_file(state->settings, state->data));
}

// Every entry below the root: folders by name, files with their contents.
std::map<std::string, std::string> snapshot(const fs::path& root) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string name = fs::relative(entry.path(), root).generic_string();
    entries[name] = entry.is_symlink() ? "<link " + fs::read_symlink(entry.path()).string() + ">"
                    : entry.is_directory() ? "<folder>"
                                           : read_text(entry.path());
  }
  return entries;
}

int changes_seen = 0;
int stop_at = 0;
void count_change() {
  if (++changes_seen == stop_at) std::_Exit(kStopped);
}

// One rotation in a process of its own that ends itself at its stop-th
// change; its exit status.
int rotate_stopping(const fs::path& folder, int stop) {
#ifdef _WIN32
  ProcessGuard process;
  process.change(kPlaceVariable, folder.string());
  process.change(kStopVariable, std::to_string(stop));
  return static_cast<int>(run_own_disabled_tests("*DISABLED_Child"));
#else
  const pid_t child = fork();
  if (child == 0) {
    stop_at = stop;
    set_disk_change_seam(count_change);
    char failed[4];
    std::_Exit(rotate_run(*load(folder), failed, nullptr) ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

TEST(RotationStopped, AtAnyChangeIsFinishedByTheNextRunAsIfNeverStopped) {
  // An odd run (F1 into F2, then F0 into F1) and the 256th (F9 into FX, the
  // counter back to 0).
  for (const std::uint32_t counter : {0u, 255u}) {
    TempFolder whole;
    lay_out(whole.path, counter);
    char failed[4];
    ASSERT_TRUE(rotate_run(*load(whole.path), failed, nullptr));
    const auto expected = snapshot(backups_of(whole.path));
    const std::uint32_t next = load(whole.path)->settings.backup_generation;
    ASSERT_EQ(next, (counter + 1) % 256);
    int stop = 1;
    for (;; ++stop) {
      TempFolder place;
      lay_out(place.path, counter);
      const int status = rotate_stopping(place.path, stop);
      ASSERT_TRUE(status == kStopped || status == 0) << stop << ": " << status;
      if (status == 0) break;  // it ended before its stop-th change
      said.clear();
      ASSERT_TRUE(rotate_run(*load(place.path), failed, collect)) << stop;
      ASSERT_EQ(snapshot(backups_of(place.path)), expected) << counter << " stopped at " << stop;
      EXPECT_EQ(load(place.path)->settings.backup_generation, next) << stop;
      EXPECT_FALSE(fs::exists(place.path / "prog" / kRotationJournal)) << stop;
      // Once the journal is written (its temporary, then the rename: two
      // changes), the next run only finishes the rotation.
      EXPECT_EQ(said.size(), stop > 2 ? 1u : 0u) << stop;
    }
    // The journal, three steps, the moves and the settings: many places to stop.
    EXPECT_GT(stop, 15) << counter;
  }
}

TEST(RotationStopped, AJournalThatCannotBeReadStopsTheRotation) {
  TempFolder place;
  lay_out(place.path, 4);
  const auto before = snapshot(backups_of(place.path));
  write_text(place.path / "prog" / kRotationJournal, "counter=9\nolder=F1\nstep=7\n");
  char failed[4];
  said.clear();
  EXPECT_FALSE(rotate_run(*load(place.path), failed, collect));
  EXPECT_EQ(snapshot(backups_of(place.path)), before);
  EXPECT_EQ(load(place.path)->settings.backup_generation, 4u);
  ASSERT_EQ(said.size(), 1u);
  EXPECT_NE(said[0].find("cannot be read; no rotation was made"), std::string::npos);
}

// Generations on two file systems: every file copied, then removed, every
// folder made and merged; the generations end as the renames would leave
// them, and nothing is left in the scratch folder or beside the copies.
TEST(RotationAcross, FileSystemsEndsAsRenamesWould) {
  TempFolder renamed;
  lay_out(renamed.path, 7);
  char failed[4];
  ASSERT_TRUE(rotate_run(*load(renamed.path), failed, nullptr));
  TempFolder copied;
  lay_out(copied.path, 7);
  set_renames_cross_devices(true);
  said.clear();
  const bool rotated = rotate_run(*load(copied.path), failed, collect);
  set_renames_cross_devices(false);
  ASSERT_TRUE(rotated);
  EXPECT_TRUE(said.empty()) << said[0];
  EXPECT_EQ(snapshot(backups_of(copied.path)), snapshot(backups_of(renamed.path)));
}

#ifdef _WIN32
// Run by rotate_stopping as a process of its own.
TEST(RotationStopped, DISABLED_Child) {
  const char* folder = std::getenv(kPlaceVariable);
  const char* stop = std::getenv(kStopVariable);
  ASSERT_TRUE(folder != nullptr && stop != nullptr);
  stop_at = std::atoi(stop);
  auto state = load(folder);
  set_disk_change_seam(count_change);
  char failed[4];
  std::_Exit(rotate_run(*state, failed, nullptr) ? 0 : 1);
}
#endif

}  // namespace
