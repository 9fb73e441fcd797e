#include "text/text.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>

namespace {

std::string number_text(std::int32_t value) {
  char buffer[12];
  number_to_text(value, buffer);
  return buffer;
}

TEST(Text, NumberToTextCoversSignAndLimits) {
  EXPECT_EQ(number_text(0), "0");
  EXPECT_EQ(number_text(-1), "-1");
  EXPECT_EQ(number_text(7), "7");
  EXPECT_EQ(number_text(10), "10");
  EXPECT_EQ(number_text(1000200), "1000200");
  EXPECT_EQ(number_text(INT_MIN), "-2147483648");
  EXPECT_EQ(number_text(INT_MAX), "2147483647");
}

TEST(Text, TextToNumberWrapsAndDoesNotValidate) {
  EXPECT_EQ(text_to_number(""), 0u);
  EXPECT_EQ(text_to_number("0042"), 42u);
  EXPECT_EQ(text_to_number("4294967295"), 4294967295u);
  EXPECT_EQ(text_to_number("4294967296"), 0u);
  EXPECT_EQ(text_to_number("12a"), 169u);
  // ' ' - 48 taken as a byte is 240.
  EXPECT_EQ(text_to_number(" 1"), 2401u);
}

TEST(Text, FindTextCodesAndPositions) {
  EXPECT_EQ(find_text(1, "abc", "abc"), -1);
  EXPECT_EQ(find_text(1, "ab", "abc"), -1);
  EXPECT_EQ(find_text(1, "xabc", "abc"), 2);
  EXPECT_EQ(find_text(2, "xabc", "abc"), 2);
  EXPECT_EQ(find_text(3, "xabc", "abc"), -2);
  EXPECT_EQ(find_text(0, "xabc", "abc"), -2);
  EXPECT_EQ(find_text(-5, "xabc", "a"), -2);
  EXPECT_EQ(find_text(1, "abcd", "x"), 0);
  EXPECT_EQ(find_text(1, "aaab", "ab"), 3);
  EXPECT_EQ(find_text(1, "abab", "ab"), 1);
  EXPECT_EQ(find_text(2, "abab", "ab"), 3);
  EXPECT_EQ(find_text(1, "ABC", "b"), 0);   // case counts
  EXPECT_EQ(find_text(4, "abcd", "d"), 4);  // the last possible position
  EXPECT_EQ(find_text(5, "abcd", "d"), -2);
}

TEST(Text, LastSeparatorSplitsFolderAndName) {
  const char path[] = "/home/pictures/cat.jpg";
  const std::int32_t at = last_separator(path);
  ASSERT_EQ(at, 14);
  char folder[32];
  char name[32];
  left_text(path, folder, static_cast<std::uint32_t>(at));
  right_text(path, name, static_cast<std::uint32_t>(std::strlen(path) - at - 1));
  EXPECT_STREQ(folder, "/home/pictures");
  EXPECT_STREQ(name, "cat.jpg");
  EXPECT_EQ(last_separator("cat.jpg"), -1);
  EXPECT_EQ(last_separator("/"), 0);
  EXPECT_EQ(last_separator(""), -1);
  EXPECT_EQ(last_separator("a/b/"), 3);
}

TEST(Text, CutsCopyExactCounts) {
  char out[32];
  mid_text("/Pictures/x", out, 1, 8);
  EXPECT_STREQ(out, "Pictures");
  left_text("abcdef", out, 3);
  EXPECT_STREQ(out, "abc");
  // left_text copies count bytes even across a terminator.
  const char embedded[] = {'a', '\0', 'c', '\0'};
  std::memset(out, 'z', sizeof out);
  left_text(embedded, out, 3);
  EXPECT_EQ(out[2], 'c');
  EXPECT_EQ(out[3], '\0');
  right_text("photo.jpeg", out, 4);
  EXPECT_STREQ(out, "jpeg");
  right_text("photo.jpeg", out, 10);
  EXPECT_STREQ(out, "photo.jpeg");
  right_text("", out, 0);
  EXPECT_STREQ(out, "");
}

TEST(Text, RightTextAboveLengthReadsOnlyTheSource) {
  // An exact-size heap copy lets AddressSanitizer catch any read before or past it.
  const std::string name = "a.j";
  auto source = std::make_unique<char[]>(name.size() + 1);
  std::memcpy(source.get(), name.c_str(), name.size() + 1);
  char out[8];
  right_text(source.get(), out, 4);
  EXPECT_STREQ(out, "a.j");
  EXPECT_NE(std::string(out), ".jpg");
}

TEST(Text, LowerAndReverse) {
  char text[] = "IMG_01.JPG@[\x80\xC9Z";
  lower_text(text);
  EXPECT_STREQ(text, "img_01.jpg@[\x80\xC9z");
  char out[8];
  reverse_text("", out);
  EXPECT_STREQ(out, "");
  reverse_text("a", out);
  EXPECT_STREQ(out, "a");
  reverse_text("ab", out);
  EXPECT_STREQ(out, "ba");
  reverse_text("abcde", out);
  EXPECT_STREQ(out, "edcba");
}

TEST(Text, CopyAppendAndBytes) {
  char text[16] = "xxxxxxxxxxxxxxx";
  copy_text("ab", text);
  EXPECT_STREQ(text, "ab");
  EXPECT_EQ(text[3], 'x');  // nothing written past the terminator
  append_text(text, "cd");
  EXPECT_STREQ(text, "abcd");
  append_text(text, "");
  EXPECT_STREQ(text, "abcd");
  EXPECT_EQ(length_of_text(text), 4u);
  EXPECT_EQ(length_of_text(""), 0u);

  for (std::uint32_t count = 0; count < 8; ++count) {
    char area[16] = "0123456789abcde";
    copy_bytes(area + 3, area, count);  // destination below source overlaps
    std::string expected = "0123456789abcde";
    expected.replace(0, count, std::string("3456789abc").substr(0, count));
    EXPECT_EQ(std::string(area), expected) << "count " << count;
  }
}

}  // namespace
