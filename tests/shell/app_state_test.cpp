#include "shell/app_state.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <new>
#include <string>

namespace {

std::string stripped(const char* path) {
  char buffer[kPathBytes];
  std::strcpy(buffer, path);
  strip_to_folder(buffer);
  return buffer;
}

TEST(AppState, StripToFolderKeepsTheRoot) {
  EXPECT_EQ(stripped("/a/x.jpg"), "/a");
  EXPECT_EQ(stripped("/home/me/Pictures/beach.jpg"), "/home/me/Pictures");
  EXPECT_EQ(stripped("/x.jpg"), "/");
  EXPECT_EQ(stripped("/tv"), "/");
  EXPECT_EQ(stripped("/"), "/");
  EXPECT_EQ(stripped(""), "");
  EXPECT_EQ(stripped("x"), "x");
  EXPECT_EQ(stripped("/a/b/"), "/a/b");  // a trailing separator is all it loses
  EXPECT_EQ(stripped("name.jpg"), "name.jpg");
}

struct RecentFixture : ::testing::Test {
  std::unique_ptr<AppState> state = std::make_unique<AppState>();
  void fill(int count) {
    for (int i = 0; i < count; ++i) {
      std::string name = "/f" + std::to_string(i);
      std::strcpy(state->settings.recent_folders[i], name.c_str());
    }
  }
  std::string entry(int i) const { return state->settings.recent_folders[i]; }
};

TEST_F(RecentFixture, RememberFolderAddsOnlyNewFolders) {
  fill(10);
  remember_folder(*state, "/f5");
  for (int i = 0; i < 10; ++i) EXPECT_EQ(entry(i), "/f" + std::to_string(i));

  remember_folder(*state, "/new");
  EXPECT_EQ(entry(0), "/new");
  EXPECT_EQ(entry(1), "/f0");
  EXPECT_EQ(entry(9), "/f8");  // the old entry 9 is gone

  remember_folder(*state, "/NEW");  // letter case counts
  EXPECT_EQ(entry(0), "/NEW");
  EXPECT_EQ(entry(1), "/new");

  // A folder too long for a slot is not stored cut into another path.
  const std::string long_folder(kPathBytes, 'a');
  remember_folder(*state, long_folder.c_str());
  EXPECT_EQ(entry(0), "/NEW");
}

TEST_F(RecentFixture, RememberEmptyFolderWhileAnEntryIsEmpty) {
  fill(3);
  remember_folder(*state, "");
  EXPECT_EQ(entry(0), "/f0");
  EXPECT_EQ(entry(3), "");
}

TEST_F(RecentFixture, PromoteMovesOneEntryToTheFront) {
  fill(10);
  promote_recent_folder(*state, 3);
  EXPECT_EQ(entry(0), "/f3");
  EXPECT_EQ(entry(1), "/f0");
  EXPECT_EQ(entry(2), "/f1");
  EXPECT_EQ(entry(3), "/f2");
  EXPECT_EQ(entry(4), "/f4");
  promote_recent_folder(*state, 0);
  EXPECT_EQ(entry(0), "/f3");
  promote_recent_folder(*state, 1);
  EXPECT_EQ(entry(0), "/f0");
  EXPECT_EQ(entry(1), "/f3");
  promote_recent_folder(*state, 1);
  promote_recent_folder(*state, 9);
  EXPECT_EQ(entry(0), "/f9");
  EXPECT_EQ(entry(9), "/f8");
}

TEST(AppState, StartsZeroedEvenOnDirtyMemory) {
  // Default-initialise on memory full of garbage: every field must still start
  // at its documented value, the whole settings block zero.
  alignas(AppState) static unsigned char storage[sizeof(AppState)];
  std::memset(storage, 0xAB, sizeof storage);
  AppState* state = new (storage) AppState;
  const auto* block = reinterpret_cast<const unsigned char*>(&state->settings);
  for (std::size_t i = 0; i < sizeof(SettingsBlock); ++i) ASSERT_EQ(block[i], 0) << "offset " << i;
  EXPECT_EQ(state->request_kind.load(), 0);
  EXPECT_EQ(state->history[99].load(), 0);
  EXPECT_EQ(state->file_list, nullptr);
  EXPECT_EQ(state->image_header.size, 0u);
  EXPECT_EQ(state->program_path[0], '\0');
  EXPECT_EQ(state->data_folder_usable, 0);
  state->~AppState();
}

}  // namespace
