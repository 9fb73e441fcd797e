#include "text/text.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>

namespace {

TEST(Text, NumbersBothWays) {
  const std::pair<std::int32_t, const char*> numbers[] = {
      {0, "0"}, {-1, "-1"}, {10, "10"}, {1000200, "1000200"}, {INT_MIN, "-2147483648"}};
  for (const auto& [value, text] : numbers) {
    char buffer[12];
    number_to_text(value, buffer);
    EXPECT_STREQ(buffer, text);
  }
  // Reading wraps and does not validate: ' ' - 48 taken as a byte is 240.
  const std::pair<const char*, std::uint32_t> texts[] = {
      {"", 0}, {"0042", 42}, {"4294967295", 4294967295u}, {"4294967296", 0}, {" 1", 2401}};
  for (const auto& [text, value] : texts) EXPECT_EQ(text_to_number(text), value) << text;
}

TEST(Text, CutsCopyExactCountsAndReadOnlyTheSource) {
  char out[32];
  // left_text copies count bytes even across a terminator.
  const char embedded[] = {'a', '\0', 'c', '\0'};
  left_text(embedded, out, 3);
  EXPECT_EQ(std::string(out, 4), std::string("a\0c\0", 4));
  right_text("photo.jpeg", out, 4);
  EXPECT_STREQ(out, "jpeg");
  // More than the source holds: an exact-size heap copy lets AddressSanitizer
  // catch any read before or past it.
  auto source = std::make_unique<char[]>(4);
  std::memcpy(source.get(), "a.j", 4);
  right_text(source.get(), out, 4);
  EXPECT_STREQ(out, "a.j");
  char text[] = "IMG_01.JPG@[\x80\xC9Z";
  lower_text(text);
  EXPECT_STREQ(text, "img_01.jpg@[\x80\xC9z");
}

// The same cases on both platforms' rules, whichever the tests run on.
TEST(Text, PathsFollowTheirPlatformsRules) {
  char path[600];
  struct Case {
    const PathRules& rules;
    const char* path;
    std::uint32_t root;
    std::int32_t absolute;
    std::int32_t separator;
  };
  const Case cases[] = {{kSlashRules, "/home/pictures/cat.jpg", 1, 1, 14},
                        {kSlashRules, "cat.jpg", 0, 0, -1},
                        {kSlashRules, "/", 1, 1, 0},
                        {kSlashRules, "C:\\a", 0, 0, -1},
                        {kDriveRules, "C:\\Photos\\a.jpg", 3, 1, 9},
                        {kDriveRules, "C:", 2, 0, -1},
                        {kDriveRules, "c:/x", 3, 1, 2},
                        {kDriveRules, "\\\\server\\share\\a", 15, 1, 14},
                        {kDriveRules, "\\\\server\\share", 14, 1, 8},
                        {kDriveRules, "a\\b/c", 0, 0, 3}};
  for (const Case& c : cases) {
    EXPECT_EQ(root_length(c.path, c.rules), c.root) << c.path;
    EXPECT_EQ(is_absolute_path(c.path, c.rules), c.absolute) << c.path;
    EXPECT_EQ(last_separator(c.path, c.rules), c.separator) << c.path;
  }
  struct Joined {
    const PathRules& rules;
    const char* folder;
    const char* path;
  };
  // A root is not doubled, "" stands for "/".
  const Joined joins[] = {
      {kSlashRules, "/", "/a.jpg"},           {kSlashRules, "", "/a.jpg"},
      {kSlashRules, "/p", "/p/a.jpg"},        {kDriveRules, "C:\\", "C:\\a.jpg"},
      {kDriveRules, "D:\\x", "D:\\x\\a.jpg"}, {kDriveRules, "C:", "C:\\a.jpg"}};
  for (const Joined& j : joins) {
    ASSERT_TRUE(join_path(j.folder, "a.jpg", path, j.rules)) << j.folder;
    EXPECT_STREQ(path, j.path);
  }
  const Joined normalised[] = {
      {kSlashRules, "b/./c//", "/a/b/c"},        {kSlashRules, "../../../x", "/x"},
      {kSlashRules, "/p/../q/", "/q"},           {kSlashRules, "..", "/"},
      {kDriveRules, "b\\.\\c//", "D:\\a\\b\\c"}, {kDriveRules, "..\\..", "D:\\"},
      {kDriveRules, "C:/p/../q", "C:\\q"},       {kDriveRules, "\\\\s\\h\\..\\x", "\\\\s\\h\\x"}};
  for (const Joined& n : normalised) {
    const char* current = &n.rules == &kSlashRules ? "/a" : "D:\\a";
    ASSERT_TRUE(normalise_path(n.folder, current, path, n.rules)) << n.folder;
    EXPECT_STREQ(path, n.path);
  }
  EXPECT_FALSE(normalise_path("", "/a", path, kSlashRules));
  EXPECT_TRUE(same_path("/A/b.JPG", "/a/B.jpg", kDriveRules));
  EXPECT_FALSE(same_path("/A/b.JPG", "/a/B.jpg", kSlashRules));
  EXPECT_FALSE(same_path("/a/b", "/a/bc", kDriveRules));
}

}  // namespace
