// The Win32 file layer's contracts, under Wine: what a listing gives, saves
// that replace whole and clean up after themselves, UTF-8 names.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "ports/files.h"
#include "support.h"

using namespace test_support;

namespace {

TEST(Win32Files, ListingGivesFoldersAndFilesByUtf8Name) {
  TempFolder temp;
  const std::string folder = temp.path.string();
  fs::create_directories(temp.path / "sub");
  // Made through the wide name, as any other program would make it.
  write_text(temp.path / fs::path(u8"\u00FCber \u263A.jpg"), "12345");
  FolderIdentity first{};
  std::int32_t error = 0;
  FolderListing* listing = listing_open(folder.c_str(), &first, &error);
  ASSERT_NE(listing, nullptr);
  std::set<std::string> seen;
  FolderEntry entry;
  while (listing_next(listing, &entry, &error) == ListingStep::entry)
    seen.insert(entry.name + ":" + std::to_string(entry.kind));
  listing_close(listing);
  EXPECT_EQ(seen, (std::set<std::string>{"sub:1",
                                         "\xC3\xBC"
                                         "ber \xE2\x98\xBA.jpg:2"}));
  // The name comes back as the path it was listed under.
  const std::string file = folder +
                           "\\\xC3\xBC"
                           "ber \xE2\x98\xBA.jpg";
  EXPECT_EQ(stat_file_size(file.c_str()), 5);
  EXPECT_EQ(stat_file_size((folder + "\\sub").c_str()), -1);
  EXPECT_TRUE(is_folder((folder + "/sub").c_str()));
  // The same folder by another spelling is the same folder; another is not.
  FolderIdentity again{};
  FolderIdentity sub{};
  ASSERT_TRUE(folder_identity((folder + "\\SUB\\..").c_str(), &again));
  ASSERT_TRUE(folder_identity((folder + "\\sub").c_str(), &sub));
  EXPECT_EQ(again.inode, first.inode);
  EXPECT_NE(sub.inode, first.inode);
  EXPECT_EQ(listing_open((folder + "\\missing").c_str(), &first, &error), nullptr);
  EXPECT_EQ(error, kErrorMissing);
}

TEST(Win32Files, ReplaceWritesWholeAndCleanUpTakesOnlyItsOwnTemporaries) {
  TempFolder temp;
  const std::string path = (temp.path / "dTesmi.dat").string();
  write_text(path, "old");
  ASSERT_TRUE(file_replace(path.c_str(), "new content", 11));
  EXPECT_EQ(read_text(path), "new content");
  EXPECT_EQ(std::distance(fs::directory_iterator(temp.path), fs::directory_iterator()), 1);
  // What a cut-short save leaves, and a user's file of a similar name.
  write_text(path + ".Ab12Cd", "partial");
  write_text(path + ".backup", "mine");
  file_replace_cleanup(path.c_str());
  EXPECT_FALSE(fs::exists(path + ".Ab12Cd"));
  EXPECT_TRUE(fs::exists(path + ".backup"));
  // A folder cannot be replaced: nothing changes.
  EXPECT_FALSE(file_replace(temp.path.string().c_str(), "x", 1));
  char text[64];
  describe_error(5, text, sizeof text);  // ERROR_ACCESS_DENIED
  EXPECT_FALSE(std::string(text).empty());
  EXPECT_NE(std::string(text).back(), '.');
}

}  // namespace
