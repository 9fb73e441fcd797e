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

TEST(Text, FindTextCodesAndPositions) {
  // Start, text, pattern, answer: 1-based position, -1 when the pattern is not
  // shorter than the text, -2 for a start outside it, 0 when not found.
  const struct {
    std::int32_t start;
    const char *text, *pattern;
    std::int32_t answer;
  } finds[] = {{1, "abc", "abc", -1},  {1, "xabc", "abc", 2}, {3, "xabc", "abc", -2},
               {0, "xabc", "abc", -2}, {1, "abcd", "x", 0},   {1, "aaab", "ab", 3},
               {2, "abab", "ab", 3},   {1, "ABC", "b", 0},    {4, "abcd", "d", 4},
               {5, "abcd", "d", -2}};
  for (const auto& f : finds) EXPECT_EQ(find_text(f.start, f.text, f.pattern), f.answer) << f.text;
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
  EXPECT_EQ(last_separator("/home/pictures/cat.jpg"), 14);
  EXPECT_EQ(last_separator("cat.jpg"), -1);
  char text[] = "IMG_01.JPG@[\x80\xC9Z";
  lower_text(text);
  EXPECT_STREQ(text, "img_01.jpg@[\x80\xC9z");
  reverse_text("abcde", out);
  EXPECT_STREQ(out, "edcba");
  for (std::uint32_t count = 0; count < 8; ++count) {
    char area[16] = "0123456789abcde";
    copy_bytes(area + 3, area, count);  // destination below source overlaps
    std::string expected = "0123456789abcde";
    expected.replace(0, count, std::string("3456789abc").substr(0, count));
    EXPECT_EQ(std::string(area), expected) << "count " << count;
  }
}

TEST(Text, PathsAreJoinedAndNormalised) {
  char path[600];
  ASSERT_EQ(join_path("/", "a.jpg", path), 1);  // the root is not doubled
  EXPECT_STREQ(path, "/a.jpg");
  const std::pair<const char*, const char*> paths[] = {
      {"b/./c//", "/a/b/c"}, {"../../../x", "/x"}, {"/p/../q/", "/q"}, {"..", "/"}};
  for (const auto& [relative, absolute] : paths) {
    ASSERT_EQ(normalise_path(relative, "/a", path), 1) << relative;
    EXPECT_STREQ(path, absolute);
  }
  EXPECT_EQ(normalise_path("", "/a", path), 0);
}

}  // namespace
