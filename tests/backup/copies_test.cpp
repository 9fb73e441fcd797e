// Copies made and given back, on Linux and on Windows (under Wine): a file
// written while it is copied is never kept torn, and no spelling of a
// restore's destination reaches into the backups.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "backup/backup.h"
#include "ports/files.h"
#include "runs.h"
#include "settings/settings.h"
#include "support.h"

#ifdef _WIN32
#include <windows.h>
#endif

using namespace test_support;

namespace {

struct Copies : ::testing::Test {
  TempFolder temp;
  fs::path tree = temp.path / "Mail";
  fs::path copies = temp.path / "Backup" / "F0" / "Mail";
  std::unique_ptr<AppState> state = std::make_unique<AppState>();
  BackupReport report{};
  void SetUp() override {
    fs::create_directories(temp.path / "prog");
    choose_data_folder_at(state->data, (temp.path / "prog" / "tessmira.exe").string().c_str());
    load_settings(state->settings, state->extra, state->data);
    state->settings.select_mode = 1;
    const std::string root = (temp.path / "Backup" / "").string();
    std::snprintf(state->settings.backup_root, kPathBytes, "%s", root.c_str());
  }
  void TearDown() override { set_copy_seam(nullptr); }
  bool backup() { return backup_run(*state, tree.string().c_str(), &report, nullptr); }
  // Written an hour ago: any write from now on gives it another time.
  void put(const std::string& text) {
    write_text(tree / "inbox", text);
    fs::last_write_time(tree / "inbox", fs::file_time_type::clock::now() - std::chrono::hours(1));
  }
};

// What the copy seam does to the file for the next pieces read: adds to it,
// or writes it anew at the same size.
fs::path changing;
int changes_left = 0;
bool same_size = false;
void change_file(const char*) {
  if (changes_left-- <= 0) return;
  std::string text = read_text(changing);
  if (same_size) {
    std::reverse(text.begin(), text.end());
  } else {
    text += " and a new mail";
  }
  write_text(changing, text);
}

TEST_F(Copies, AFileWrittenWhileItIsCopiedIsCopiedAgainAndNeverKeptTorn) {
  changing = tree / "inbox";
  set_copy_seam(change_file);
  for (const bool rewritten : {false, true}) {
    put(rewritten ? "the mailbox, longer" : "the mailbox");
    same_size = rewritten;
    changes_left = 1;
    EXPECT_TRUE(backup()) << rewritten;
    EXPECT_EQ(report.copied, 1u);
    EXPECT_EQ(read_text(copies / "inbox"), read_text(tree / "inbox")) << rewritten;
  }
  // Written to at every read: the last whole copy stays, and the run fails.
  const std::string kept = read_text(copies / "inbox");
  put("the mailbox, once more");
  same_size = false;
  changes_left = 1000;
  EXPECT_FALSE(backup());
  EXPECT_EQ(report.copied + report.failed, 0u);
  EXPECT_EQ(report.changed, 1u);
  EXPECT_EQ(read_text(copies / "inbox"), kept);
  // Held still again, it is copied.
  changes_left = 0;
  EXPECT_TRUE(backup());
  EXPECT_EQ(read_text(copies / "inbox"), read_text(tree / "inbox"));
}

#ifdef _WIN32
// The same folder by its other drive: Wine's Z: is the machine's root.
std::string on_drive_z(const fs::path& path) {
  using UnixName = char*(CDECL*)(const wchar_t*);
  const auto unix_name = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  const char* name = unix_name != nullptr ? unix_name(path.wstring().c_str()) : nullptr;
  std::string spelled = name != nullptr ? std::string("Z:") + name : std::string();
  std::replace(spelled.begin(), spelled.end(), '/', '\\');
  return spelled;
}
#endif

TEST_F(Copies, NoSpellingOfARestoresDestinationLandsInTheBackups) {
  put("old");
  ASSERT_TRUE(backup());
  char failed[4];
  ASSERT_TRUE(rotate_run(*state, failed, nullptr));
  write_text(tree / "inbox", "the newest");
  ASSERT_TRUE(backup());
#ifdef _WIN32
  const std::vector<std::string> spellings = {"\\\\?\\" + copies.string(), on_drive_z(copies),
                                              on_drive_z(copies / "new")};
  ASSERT_FALSE(spellings[1].empty());
#else
  fs::create_directory_symlink(copies, temp.path / "door");
  const std::vector<std::string> spellings = {(temp.path / "door").string(),
                                              (temp.path / "door/new/deeper").string()};
#endif
  RestoreReport restored{};
  const std::string source = tree.string();
  for (const std::string& spelling : spellings) {
    const RestoreRequest request{source.c_str(), 1, spelling.c_str(), true};
    EXPECT_FALSE(restore_run(*state, request, &restored, nullptr)) << spelling;
    EXPECT_EQ(read_text(copies / "inbox"), "the newest") << spelling;
    EXPECT_FALSE(fs::exists(copies / "new")) << spelling;
  }
  const std::string beside = (temp.path / "back").string();
  EXPECT_TRUE(restore_run(*state, RestoreRequest{source.c_str(), 1, beside.c_str(), true},
                          &restored, nullptr));
  EXPECT_EQ(read_text(temp.path / "back" / "inbox"), "old");
}

}  // namespace
