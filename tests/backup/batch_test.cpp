// A backup stopped at any change it makes to the disk (a kill), or cut there
// by a power loss that drops every write not yet flushed, then run again,
// ends as a backup never stopped: each file with its old copy or its whole
// new one, no temporary left, and the catalog never naming a copy the disk
// lacks. Built for Linux and for Windows (run under Wine).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

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

constexpr char kCutVariable[] = "TESSMIRA_TEST_POWER_CUT";
// Small batches, so that a few files make several.
constexpr std::uint32_t kFilesABatch = 2;

fs::path tree_of(const fs::path& folder) {
  return folder / "Mail";
}
fs::path backups_of(const fs::path& folder) {
  return folder / "Backup";
}
// The backups as the last flush left them on the disk.
fs::path durable_of(const fs::path& folder) {
  return folder / "durable";
}

std::unique_ptr<AppState> load(const fs::path& folder) {
  auto state = std::make_unique<AppState>();
  choose_data_folder_at(state->data, (folder / "prog" / "tessmira.exe").string().c_str());
  load_settings(state->settings, state->extra, state->data);
  state->settings.select_mode = 1;
  const std::string root = (backups_of(folder) / "").string();
  std::snprintf(state->settings.backup_root, kPathBytes, "%s", root.c_str());
  return state;
}

bool back_up(const fs::path& folder, std::uint32_t files_a_batch, BackupReport* report) {
  auto state = load(folder);
  BackupOptions options;
  options.batch_files = files_a_batch;
  return backup_run(*state, tree_of(folder).string().c_str(), report, options);
}

const char* const kNames[] = {"a", "b", "sub/c", "sub/d", "sub/e", "deep/er/f", "g"};

std::string old_text(const std::string& name) {
  return "old " + name;
}
std::string new_text(const std::string& name) {
  return "the new text of " + name;
}

// A tree backed up once, then changed: three files written anew, two added.
void lay_out(const fs::path& folder) {
  fs::create_directories(folder / "prog");
  for (const char* name : kNames) write_text(tree_of(folder) / name, old_text(name));
  BackupReport report{};
  ASSERT_TRUE(back_up(folder, 1000, &report));
  for (const char* name : {"a", "sub/d", "deep/er/f", "h", "sub/i"})
    write_text(tree_of(folder) / name, new_text(name));
}

// Every entry below root: folders by name, files with their contents.
std::map<std::string, std::string> snapshot(const fs::path& root) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string name = fs::relative(entry.path(), root).generic_string();
    entries[name] = entry.is_directory() ? "<folder>" : read_text(entry.path());
  }
  return entries;
}

void copy_tree(const fs::path& from, const fs::path& to) {
  fs::remove_all(to);
  fs::copy(from, to, fs::copy_options::recursive);
}

int changes_seen = 0;
int stop_at = 0;
fs::path place;
void count_change() {
  if (++changes_seen == stop_at) std::_Exit(kStopped);
}
void keep_durable() {
  copy_tree(backups_of(place), durable_of(place));
}

// The stopped run, in a process of its own.
void run_stopping(const fs::path& folder, int stop, bool cut) {
  place = folder;
  stop_at = stop;
  set_disk_change_seam(count_change);
  if (cut) set_flush_seam(keep_durable);
  BackupReport report{};
  std::_Exit(back_up(folder, kFilesABatch, &report) ? 0 : 1);
}

// One backup in a process of its own that ends itself at its stop-th change
// to the disk; its exit status.
int back_up_stopping(const fs::path& folder, int stop, bool cut) {
#ifdef _WIN32
  ProcessGuard process;
  process.change(kPlaceVariable, folder.string());
  process.change(kStopVariable, std::to_string(stop));
  process.change(kCutVariable, cut ? "1" : "0");
  return static_cast<int>(run_own_disabled_tests("*DISABLED_Child"));
#else
  const pid_t child = fork();
  if (child == 0) run_stopping(folder, stop, cut);
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

// Flushes seen by a run in this process.
int flushes = 0;
void count_flush() {
  ++flushes;
}

TEST(BatchedBackup, FlushesOnceABatchAndRecordsOnlyWhatIsOnTheDisk) {
  TempFolder whole;
  lay_out(whole.path);
  flushes = 0;
  set_flush_seam(count_flush);
  BackupReport report{};
  const bool done = back_up(whole.path, kFilesABatch, &report);
  set_flush_seam(nullptr);
  ASSERT_TRUE(done);
  EXPECT_EQ(report.copied, 5u);
  // Five copies in batches of two: three flushes of bytes, each also
  // making the names of the batch before durable, and one for the last
  // names.
  EXPECT_EQ(flushes, 4);
  BackupReport again{};
  ASSERT_TRUE(back_up(whole.path, kFilesABatch, &again));
  EXPECT_EQ(again.copied, 0u);
}

TEST(BatchedBackup, StoppedOrCutAtAnyChangeEndsAsIfNeverStopped) {
  TempFolder whole;
  lay_out(whole.path);
  BackupReport report{};
  ASSERT_TRUE(back_up(whole.path, kFilesABatch, &report));
  const auto expected = snapshot(backups_of(whole.path));
  for (const bool cut : {false, true}) {
    int stop = 1;
    for (;; ++stop) {
      TempFolder folder;
      lay_out(folder.path);
      copy_tree(backups_of(folder.path), durable_of(folder.path));
      const int status = back_up_stopping(folder.path, stop, cut);
      ASSERT_TRUE(status == kStopped || status == 0) << stop << ": " << status;
      if (status == 0) break;  // it ended before its stop-th change
      // The power cut: the backups as the last flush left them, the data
      // folder (the catalog) with every write kept, the worst case.
      if (cut) copy_tree(durable_of(folder.path), backups_of(folder.path));
      const fs::path copies = backups_of(folder.path) / "F0" / "Mail";
      for (const char* name : {"a", "sub/d", "deep/er/f", "h", "sub/i"}) {
        if (!fs::exists(copies / name)) continue;
        const std::string text = read_text(copies / name);
        EXPECT_TRUE(text == old_text(name) || text == new_text(name))
            << name << " holds \"" << text << "\" after a stop at " << stop;
      }
      BackupReport rerun{};
      ASSERT_TRUE(back_up(folder.path, 1000, &rerun)) << stop;
      EXPECT_EQ(snapshot(backups_of(folder.path)), expected)
          << (cut ? "cut" : "stopped") << " at " << stop;
      BackupReport last{};
      ASSERT_TRUE(back_up(folder.path, 1000, &last));
      EXPECT_EQ(last.copied, 0u) << stop;
    }
    // Five copies, each written then named: ten steps at least.
    EXPECT_GT(stop, 10) << cut;
  }
}

#ifdef _WIN32
// Run by back_up_stopping as a process of its own.
TEST(BatchedBackup, DISABLED_Child) {
  const char* folder = std::getenv(kPlaceVariable);
  const char* stop = std::getenv(kStopVariable);
  const char* cut = std::getenv(kCutVariable);
  ASSERT_TRUE(folder != nullptr && stop != nullptr && cut != nullptr);
  run_stopping(folder, std::atoi(stop), cut[0] == '1');
}
#endif

}  // namespace
