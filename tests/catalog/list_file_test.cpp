#include "catalog/list_file.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "list_test_support.h"

namespace fs = std::filesystem;
using namespace list_test;

namespace {

struct ListFixture : ::testing::Test {
  fs::path folder = make_temp_folder();
  fs::path path = folder / "test.lbf";
  ListFile list;
  void TearDown() override {
    list_close(list);
    fs::remove_all(folder);
  }
  std::int32_t add_text(const char* text, std::uint32_t field = 1) {
    const std::int32_t slot = list_add_record(list);
    list_set_text(list, text);
    list_put_field(list, static_cast<std::uint32_t>(slot), field);
    return slot;
  }
  std::string text_of(std::uint32_t slot, std::uint32_t field = 1) {
    list_get_field(list, slot, field);
    return list.text_value;
  }
  std::int32_t number_of(std::uint32_t slot, std::uint32_t field) {
    list_get_field(list, slot, field);
    return list.number_value;
  }
  std::uint32_t tag_at(std::uint32_t slot) {
    std::uint32_t tag;
    std::memcpy(&tag, list.base + list.records_offset + slot * list.record_size, 4);
    return tag;
  }
};

TEST_F(ListFixture, CatalogLayoutFiguresAndHeaderBytes) {
  ASSERT_TRUE(create_list(path, {TEXT1000, NUM4, NUM4, NUM4, NUM4, NUM4, NUM4, NUM4, NUM4, NUM4}));
  auto bytes = file_bytes(path);
  ASSERT_EQ(bytes.size(), 17124u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 8), "DATA1000");
  // Offset and value: version, field count, capacity, blank count, descriptors.
  const std::uint32_t header[][2] = {{608, 1},     {1352, 2},    {1356, 10},
                                     {1360, 10},   {1364, 2},    {1444, TEXT1000},
                                     {1448, 1528}, {1456, 2528}, {1444 + 8 * 9 + 4, 2560}};
  for (const auto& h : header) EXPECT_EQ(u32_at(bytes, h[0]), h[1]) << h[0];
  for (std::size_t i = 1524; i < bytes.size(); ++i) ASSERT_EQ(bytes[i], 0) << i;

  open_for_writing(list, path);
  ASSERT_NE(list.base, nullptr);
  EXPECT_EQ(list.record_size, 1040u);
  EXPECT_EQ(list.records_offset, 1524u);
  // Slot 0 taken and freed: the file keeps its length.
  ASSERT_EQ(list_add_record(list), 0);
  ASSERT_EQ(list_set_tag(list, 0, SLOT_FREED), 1);
  EXPECT_EQ(list_count_records(list), 0u);
  list_close(list);
  EXPECT_EQ(fs::file_size(path), 17124u);
  // A one-number list is 6,444 bytes: capacity 10 with room for 15 blank slots.
  ASSERT_TRUE(create_list(folder / "small.lbf", {NUM4}));
  EXPECT_EQ(fs::file_size(folder / "small.lbf"), 6444u);
}

TEST_F(ListFixture, OddOffsetsTruncatedNumbersAndCutTexts) {
  ASSERT_TRUE(create_list(path, {NUM1, TEXT4, NUM2}));
  open_for_writing(list, path);
  ASSERT_NE(list.base, nullptr);
  EXPECT_EQ(list.record_size, 11u);
  auto bytes = file_bytes(path);
  EXPECT_EQ(u32_at(bytes, 1448), list.records_offset + 4);
  EXPECT_EQ(u32_at(bytes, 1456), list.records_offset + 5);
  EXPECT_EQ(u32_at(bytes, 1464), list.records_offset + 9);

  ASSERT_EQ(list_add_record(list), 0);
  ASSERT_EQ(list_add_record(list), 1);  // grows to 20 first
  EXPECT_EQ(list.capacity, 20u);
  list.number_value = 300;
  EXPECT_EQ(list_put_field(list, 1, 1), static_cast<std::int32_t>(NUM1));
  list.number_value = -1;
  EXPECT_EQ(list_put_field(list, 1, 3), static_cast<std::int32_t>(NUM2));
  list_set_text(list, "abcdef");
  EXPECT_EQ(list_put_field(list, 1, 2), static_cast<std::int32_t>(TEXT4));
  EXPECT_STREQ(list.text_value, "");  // emptied by the put
  EXPECT_EQ(number_of(1, 1), 44);
  EXPECT_EQ(number_of(1, 3), 65535);
  EXPECT_EQ(text_of(1, 2), "abc");
  // Slot 1 begins at an odd offset; its bytes sit where the layout says.
  bytes = file_bytes(path);
  const std::size_t slot1 = list.records_offset + 11;
  EXPECT_EQ(bytes[slot1 + 4], 44);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&bytes[slot1 + 5])), "abc");
  EXPECT_EQ(bytes[slot1 + 9], 0xFF);
  EXPECT_EQ(bytes[slot1 + 10], 0xFF);

  // Nothing reads or writes outside the slot area or the layout.
  EXPECT_EQ(list_get_field(list, list.capacity, 1), -1);
  EXPECT_EQ(list_put_field(list, 0, 4), -1);
  EXPECT_EQ(list_get_field(list, 0, 0), -1);
}

TEST_F(ListFixture, LongTextsAreCutAtWidthMinusOne) {
  ASSERT_TRUE(create_list(path, {TEXT1000, TEXT5000}));
  open_for_writing(list, path);
  const std::string long_text(1010, 'x');
  add_text(long_text.c_str());
  EXPECT_EQ(text_of(0), std::string(999, 'x'));
  // The exchange buffer takes at most 1,023 characters; a wide field keeps them.
  const std::string longer(3000, 'y');
  list_set_text(list, longer.c_str());
  EXPECT_EQ(std::string(list.text_value).size(), 1023u);
  list_put_field(list, 0, 2);
  EXPECT_EQ(text_of(0, 2), std::string(1023, 'y'));
  list_set_search_key(list, longer.c_str());
  EXPECT_EQ(list_find(list, 2), 0);
}

TEST_F(ListFixture, GrowthSteps) {
  // Capacity, records, capacity after one more add: at 91 % or fewer than ten
  // free slots the list grows by a sixteenth of its records, at least ten.
  const std::uint32_t steps[][3] = {
      {100, 90, 100}, {100, 91, 110}, {200, 180, 200}, {200, 182, 211}};
  for (const auto& step : steps) {
    ASSERT_TRUE(create_list_with_capacity(path, {NUM4}, step[0]));
    open_for_writing(list, path);
    for (std::uint32_t slot = 0; slot < step[1]; ++slot) list_set_tag(list, slot, SLOT_RECORD);
    const auto before = fs::file_size(path);
    EXPECT_EQ(list_add_record(list), static_cast<std::int32_t>(step[1]));
    EXPECT_EQ(list.capacity, step[2]) << step[1];
    EXPECT_EQ(fs::file_size(path), before + (step[2] - step[0]) * list.record_size);
    EXPECT_EQ(u32_at(file_bytes(path), 1360), step[2]);
    list_close(list);
  }
}

TEST_F(ListFixture, ShrinkCompactsAndCutsTheFile) {
  ASSERT_TRUE(create_list_with_capacity(path, {NUM4}, 60));
  open_for_writing(list, path);
  for (std::uint32_t i = 0; i < 20; ++i) {
    list_set_tag(list, 2 * i + 1, SLOT_RECORD);
    list.number_value = static_cast<std::int32_t>(i + 100);
    list_put_field(list, 2 * i + 1, 1);
  }
  EXPECT_EQ(list_add_record(list), 20);
  EXPECT_EQ(list.capacity, 50u);
  EXPECT_EQ(fs::file_size(path), list.records_offset + 50u * list.record_size);
  for (std::uint32_t i = 0; i < 20; ++i)
    EXPECT_EQ(number_of(i, 1), static_cast<std::int32_t>(i + 100));
  EXPECT_EQ(list_count_records(list), 21u);
}

TEST_F(ListFixture, CompactionKeepsOrderAndLeavesTheLastRecordBehind) {
  ASSERT_TRUE(create_list(path, {TEXT16}));
  open_for_writing(list, path);
  for (const char* text : {"a", "x", "y", "b", "c"}) add_text(text);
  ASSERT_EQ(list.capacity, 20u);
  list_set_tag(list, 1, SLOT_BLANK);
  list_set_tag(list, 2, SLOT_FREED);
  ASSERT_EQ(list_compact(list), 1);
  const std::uint32_t tags[] = {10, 10, 10, 5, 5, 0};
  for (std::uint32_t slot = 0; slot < 6; ++slot) EXPECT_EQ(tag_at(slot), tags[slot]) << slot;
  EXPECT_EQ(text_of(0), "a");
  EXPECT_EQ(text_of(1), "b");
  EXPECT_EQ(text_of(2), "c");
  EXPECT_EQ(text_of(3), "c");
  EXPECT_EQ(text_of(4), "c");
  EXPECT_EQ(list_count_records(list), 3u);
  // The next add takes the first vacated slot.
  EXPECT_EQ(list_add_record(list), 3);
}

TEST_F(ListFixture, FindFoldsAsciiOnlyAndAnswersTheHighestSlot) {
  ASSERT_TRUE(create_list(path, {TEXT64, NUM4}));
  open_for_writing(list, path);
  add_text("/Photos/A.JPG");
  add_text("/photos/\xC9t\xE9.jpg");
  add_text("/photos/a.jpg");
  add_text("/other.jpg");
  list.number_value = 7;
  list_put_field(list, 3, 2);
  auto find = [&](const char* key) {
    list_set_search_key(list, key);
    return list_find(list, 1);
  };
  EXPECT_EQ(find("/photos/a.jpg"), 2);  // slots 0 and 2 match: the higher wins
  EXPECT_EQ(list.text_value, std::string("/photos/a.jpg"));
  EXPECT_EQ(find("/PHOTOS/A.JPG"), 2);
  EXPECT_EQ(find("/photos/a.jpg "), -1);
  EXPECT_EQ(find("/Photos/A.JP"), -1);
  EXPECT_EQ(text_of(0), "/Photos/A.JPG");
  EXPECT_EQ(find("/photos/\xE9t\xE9.jpg"), -1);  // bytes above 0x7F are not folded
  EXPECT_EQ(find("/photos/\xC9T\xE9.JPG"), 1);
  // No match leaves the cells on slot 0, the last one the pass looked at.
  EXPECT_EQ(find("nothing"), -1);
  EXPECT_EQ(list.text_value, std::string("/Photos/A.JPG"));

  list_set_search_key(list, "/Photos/A.JPG");
  EXPECT_EQ(list_find_exact(list, 1), 0);
  list_set_search_key(list, "/photos/A.jpg");
  EXPECT_EQ(list_find_exact(list, 1), -1);

  // Tags are not consulted: a freed record is still found; blank slots hold "".
  list_set_tag(list, 3, SLOT_FREED);
  EXPECT_EQ(find("/OTHER.jpg"), 3);
  EXPECT_EQ(find(""), static_cast<std::int32_t>(list.capacity) - 1);
  list_set_search_key(list, "7");
  EXPECT_EQ(list_find(list, 2), 3);
  list_set_search_key(list, "0");
  EXPECT_EQ(list_find(list, 2), static_cast<std::int32_t>(list.capacity) - 1);

  // Changes after the first find keep the answers exact.
  list_set_text(list, "/moved.jpg");
  list_put_field(list, 2, 1);
  EXPECT_EQ(find("/photos/a.jpg"), 0);
  list_copy_slot(list, 0, 5);
  EXPECT_EQ(find("/photos/a.jpg"), 5);
}

TEST_F(ListFixture, SortIsStableAndCollatesAsText) {
  std::setlocale(LC_COLLATE, "C");
  ASSERT_TRUE(create_list(path, {TEXT16, NUM4}));
  open_for_writing(list, path);
  const char* texts[] = {"b", "B", "a", "b", "10", "9"};
  const std::int32_t numbers[] = {3, 10, -5, 1, 9, 0};
  for (std::uint32_t i = 0; i < 6; ++i) {
    add_text(texts[i]);
    list.number_value = numbers[i];
    list_put_field(list, i, 2);
  }
  list_set_tag(list, 2, SLOT_FREED);  // compaction comes first
  ASSERT_EQ(list_sort(list, 1), 1);
  const char* sorted[] = {"10", "9", "B", "b", "b"};
  for (std::uint32_t i = 0; i < 5; ++i) EXPECT_EQ(text_of(i), sorted[i]) << i;
  EXPECT_EQ(number_of(3, 2), 3);  // the two "b" keep their order
  EXPECT_EQ(number_of(4, 2), 1);

  ASSERT_EQ(list_sort(list, 2), 1);  // numbers as text: "-" < digits, "10" < "9"
  const std::int32_t by_number[] = {0, 1, 10, 3, 9};
  for (std::uint32_t i = 0; i < 5; ++i) EXPECT_EQ(number_of(i, 2), by_number[i]) << i;

  EXPECT_EQ(list_sort(list, 0), 0);
  EXPECT_EQ(list_sort(list, 3), 0);
}

TEST_F(ListFixture, DamagedFilesAreRefusedAndLeaveNothingOpen) {
  ASSERT_TRUE(create_list(path, {TEXT16, NUM4}));
  const auto good = file_bytes(path);
  auto expect_refused = [&](std::vector<std::uint8_t> bytes, OpenFailure why, const char* what) {
    put_file_bytes(path, bytes);
    ListFile probe;
    std::strcpy(probe.path, path.c_str());
    probe.writable = 1;
    EXPECT_EQ(list_map(probe), nullptr) << what;
    EXPECT_EQ(probe.failure, why) << what;
    EXPECT_EQ(probe.file_handle, -1) << what;
    EXPECT_EQ(probe.writable, 0) << what;
    probe.writable = 1;
    EXPECT_EQ(list_open_stream(probe), 0) << what;
    EXPECT_EQ(probe.file_handle, -1) << what;
  };
  for (const char* magic : {"DATA0999", "data1000"}) {
    auto bytes = good;
    std::memcpy(bytes.data(), magic, 8);
    expect_refused(bytes, OpenFailure::not_list, magic);
  }
  expect_refused({}, OpenFailure::not_list, "empty file");
  expect_refused(std::vector<std::uint8_t>(good.begin(), good.begin() + 1000),
                 OpenFailure::not_list, "shorter than the header");
  // Header words that no longer agree with the file or with each other.
  const std::uint32_t damages[][2] = {{1360, 400},
                                      {1360, 0xFFFFFFFF},
                                      {1356, 0},
                                      {1356, 0xFFFFFFFF},
                                      {1448, u32_at(good, 1448) + 1},
                                      {1452, TEXT5000}};
  for (const auto& damage : damages) {
    auto bytes = good;
    set_u32_at(bytes, damage[0], damage[1]);
    expect_refused(bytes, OpenFailure::not_list, std::to_string(damage[0]).c_str());
  }

  // A refused file is held by nobody: it can be replaced at once.
  ASSERT_TRUE(create_list(path, {NUM4}));
  fs::remove(path);
  ListFile probe;
  std::strcpy(probe.path, path.c_str());
  EXPECT_EQ(list_map(probe), nullptr);
  EXPECT_EQ(probe.failure, OpenFailure::missing);

  // A file longer than its slot area reads like one without the extra bytes.
  auto bytes = good;
  bytes.resize(good.size() + 333, 0);
  put_file_bytes(path, bytes);
  std::strcpy(probe.path, path.c_str());
  EXPECT_NE(list_map(probe), nullptr);
  EXPECT_EQ(probe.capacity, 10u);
  list_close(probe);
}

TEST_F(ListFixture, OneWriterAtATime) {
  ASSERT_TRUE(create_list(path, {NUM4}));
  open_for_writing(list, path);
  ASSERT_NE(list.base, nullptr);

  ListFile other;
  std::strcpy(other.path, path.c_str());
  other.writable = 1;
  EXPECT_EQ(list_map(other), nullptr);
  EXPECT_EQ(other.failure, OpenFailure::held);
  EXPECT_EQ(list_map(other), nullptr);  // readers wait for the writer too
  EXPECT_EQ(other.failure, OpenFailure::held);
  // Creating over a held file must not cut it under the holder's mapping.
  const auto length = fs::file_size(path);
  other.field_count = 1;
  EXPECT_EQ(list_create(other), 0);
  EXPECT_EQ(other.failure, OpenFailure::held);
  EXPECT_EQ(fs::file_size(path), length);

  list_close(list);
  ListFile reader1;
  ListFile reader2;
  std::strcpy(reader1.path, path.c_str());
  std::strcpy(reader2.path, path.c_str());
  EXPECT_NE(list_map(reader1), nullptr);
  EXPECT_NE(list_map(reader2), nullptr);  // readers share
  other.writable = 1;
  EXPECT_EQ(list_map(other), nullptr);
  EXPECT_EQ(other.failure, OpenFailure::held);
  // A read-only list refuses every change.
  EXPECT_EQ(list_add_record(reader1), -1);
  EXPECT_EQ(list_set_tag(reader1, 0, SLOT_RECORD), 0);
  list_close(reader1);
  list_close(reader2);
  other.writable = 1;
  EXPECT_NE(list_map(other), nullptr);
  list_close(other);
}

}  // namespace
