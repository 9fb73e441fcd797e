// The application state's path and recent-folder helpers.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <tuple>

#include "state/app_state.h"

namespace {

TEST(AppState, StripToFolderKeepsTheRoot) {
  const std::tuple<const PathRules&, const char*, const char*> paths[] = {
      {kSlashRules, "/home/me/a.jpg", "/home/me"},
      {kSlashRules, "/x.jpg", "/"},
      {kSlashRules, "/", "/"},
      {kSlashRules, "", ""},
      {kSlashRules, "name.jpg", "name.jpg"},
      {kSlashRules, "/a/b/", "/a/b"},
      {kSlashRules, "/tv", "/"},
      {kDriveRules, "C:\\a.jpg", "C:\\"},  // three characters or shorter stay
      {kDriveRules, "C:\\", "C:\\"},
      {kDriveRules, "C:\\Photos\\a.jpg", "C:\\Photos"},
      {kDriveRules, "C:/Photos/b/a.jpg", "C:/Photos/b"},
      {kDriveRules, "\\\\s\\h\\a.jpg", "\\\\s\\h"},
      {kDriveRules, "abc", "abc"}};
  for (const auto& [rules, path, folder] : paths) {
    char buffer[kPathBytes];
    std::strcpy(buffer, path);
    strip_to_folder(buffer, rules);
    EXPECT_STREQ(buffer, folder) << path;
  }
}

TEST(AppState, RecentFoldersAreRememberedAndPromoted) {
  auto state = std::make_unique<AppState>();
  auto entries = [&] {
    std::string all;
    for (const auto& entry : state->settings.recent_folders) all += std::string(entry) + " ";
    return all;
  };
  for (int i = 0; i < 10; ++i)
    std::strcpy(state->settings.recent_folders[i], (std::string("/f") + std::to_string(i)).c_str());
  remember_folder(state->settings, "/f5");  // listed already: nothing moves
  remember_folder(state->settings, "/new");
  remember_folder(state->settings, "/NEW", kSlashRules);  // letter case counts on POSIX
  remember_folder(state->settings, "/New", kDriveRules);  // not on Windows
  // A folder too long for a slot is not stored cut into another path.
  remember_folder(state->settings, std::string(kPathBytes, 'a').c_str());
  EXPECT_EQ(entries(), "/NEW /new /f0 /f1 /f2 /f3 /f4 /f5 /f6 /f7 ");
  promote_recent_folder(state->settings, 3);
  EXPECT_EQ(entries(), "/f1 /NEW /new /f0 /f2 /f3 /f4 /f5 /f6 /f7 ");
  promote_recent_folder(state->settings, 0);
  promote_recent_folder(state->settings, 1);
  promote_recent_folder(state->settings, 9);
  EXPECT_EQ(entries(), "/f7 /NEW /f1 /new /f0 /f2 /f3 /f4 /f5 /f6 ");
  // An empty folder is remembered only while no entry is empty.
  state->settings.recent_folders[4][0] = '\0';
  remember_folder(state->settings, "");
  EXPECT_EQ(entries(), "/f7 /NEW /f1 /new  /f2 /f3 /f4 /f5 /f6 ");
}

}  // namespace
