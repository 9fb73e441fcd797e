#include "shell/app_state.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <new>
#include <string>

namespace {

TEST(AppState, StripToFolderKeepsTheRoot) {
  const std::pair<const char*, const char*> paths[] = {
      {"/home/me/a.jpg", "/home/me"}, {"/x.jpg", "/"},  {"/", "/"}, {"", ""},
      {"name.jpg", "name.jpg"},       {"/a/b/", "/a/b"}};
  for (const auto& [path, folder] : paths) {
    char buffer[kPathBytes];
    std::strcpy(buffer, path);
    strip_to_folder(buffer);
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
    std::strcpy(state->settings.recent_folders[i], ("/f" + std::to_string(i)).c_str());
  remember_folder(*state, "/f5");  // listed already: nothing moves
  remember_folder(*state, "/new");
  remember_folder(*state, "/NEW");  // letter case counts
  // A folder too long for a slot is not stored cut into another path.
  remember_folder(*state, std::string(kPathBytes, 'a').c_str());
  EXPECT_EQ(entries(), "/NEW /new /f0 /f1 /f2 /f3 /f4 /f5 /f6 /f7 ");
  promote_recent_folder(*state, 3);
  EXPECT_EQ(entries(), "/f1 /NEW /new /f0 /f2 /f3 /f4 /f5 /f6 /f7 ");
  promote_recent_folder(*state, 0);
  promote_recent_folder(*state, 1);
  promote_recent_folder(*state, 9);
  EXPECT_EQ(entries(), "/f7 /NEW /f1 /new /f0 /f2 /f3 /f4 /f5 /f6 ");
  // An empty folder is remembered only while no entry is empty.
  state->settings.recent_folders[4][0] = '\0';
  remember_folder(*state, "");
  EXPECT_EQ(entries(), "/f7 /NEW /f1 /new  /f2 /f3 /f4 /f5 /f6 ");
}

TEST(AppState, StartsZeroedEvenOnDirtyMemory) {
  alignas(AppState) static unsigned char storage[sizeof(AppState)];
  std::memset(storage, 0xAB, sizeof storage);
  AppState* state = new (storage) AppState;
  const auto* block = reinterpret_cast<const unsigned char*>(&state->settings);
  for (std::size_t i = 0; i < sizeof(SettingsBlock); ++i) ASSERT_EQ(block[i], 0) << "offset " << i;
  EXPECT_EQ(state->history[99].load(), 0);
  EXPECT_EQ(state->file_list, nullptr);
  EXPECT_EQ(state->data_folder_usable, 0);
  state->~AppState();
}

}  // namespace
