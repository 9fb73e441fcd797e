// The list store: its byte layout, growth, damage checks and locks. Also
// runs on Windows, under Wine.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>

#include "catalog/list_file.h"
#include "support.h"

using namespace test_support;

namespace {

std::uint32_t u32_at(const Bytes& bytes, std::size_t offset) {
  std::uint32_t value;
  std::memcpy(&value, bytes.data() + offset, 4);
  return value;
}

void set_u32_at(Bytes& bytes, std::size_t offset, std::uint32_t value) {
  std::memcpy(bytes.data() + offset, &value, 4);
}

struct ListFixture : ::testing::Test {
  TempFolder temp;
  const fs::path& folder = temp.path;
  fs::path path = folder / "test.lbf";
  ListFile list;
  void TearDown() override { list_close(list); }
  // Creates a list file with the given field types, as the store's callers do;
  // with a capacity, the header claims that many slots and the file holds them.
  bool create_list(const fs::path& at, std::initializer_list<std::uint32_t> types,
                   std::uint32_t capacity = 0) {
    ListFile made;
    std::strcpy(made.path, at.string().c_str());
    made.field_count = static_cast<std::uint32_t>(types.size());
    if (!list_create(made)) return false;
    std::uint32_t field = 1;
    for (const std::uint32_t type : types) list_define_field(made, field++, type);
    list_lay_out(made);
    list_close(made);
    if (capacity == 0) return true;
    auto bytes = read_bytes(at);
    set_u32_at(bytes, 1360, capacity);
    bytes.resize(made.records_offset + capacity * made.record_size, 0);
    write_bytes(at, bytes);
    return true;
  }
  void open_for_writing(ListFile& which, const fs::path& at) {
    std::strcpy(which.path, at.string().c_str());
    which.writable = true;
    list_map(which);
  }
  void add_text(const char* text) {
    const std::int32_t slot = list_add_record(list);
    list_set_text(list, text);
    list_put_field(list, static_cast<std::uint32_t>(slot), 1);
  }
  std::string text_of(std::uint32_t slot, std::uint32_t field = 1) {
    list_get_field(list, slot, field);
    return list.text_value;
  }
  std::int32_t number_of(std::uint32_t slot, std::uint32_t field) {
    list_get_field(list, slot, field);
    return list.number_value;
  }
};

TEST_F(ListFixture, LayoutBytesAndFieldsAtOddOffsets) {
  ASSERT_TRUE(create_list(path, {TEXT1000, NUM4, NUM4, NUM4, NUM4, NUM4, NUM4, NUM4, NUM4, NUM4}));
  const auto bytes = read_bytes(path);
  ASSERT_EQ(bytes.size(), 17124u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 8), "DATA1000");
  // Offset and value: version, field count, capacity, blank count, descriptors.
  const std::uint32_t header[][2] = {{608, 1},     {1352, 2},    {1356, 10},
                                     {1360, 10},   {1364, 2},    {1444, TEXT1000},
                                     {1448, 1528}, {1456, 2528}, {1444 + 8 * 9 + 4, 2560}};
  for (const auto& h : header) EXPECT_EQ(u32_at(bytes, h[0]), h[1]) << h[0];
  for (std::size_t i = 1524; i < bytes.size(); ++i) ASSERT_EQ(bytes[i], 0) << i;
  ASSERT_TRUE(create_list(folder / "small.lbf", {NUM4}));  // room for 15 blank slots
  EXPECT_EQ(fs::file_size(folder / "small.lbf"), 6444u);
  // Numbers are cut to their width, texts to width - 1; slot 1 begins at an
  // odd offset and its bytes sit where the layout says.
  ASSERT_TRUE(create_list(path, {NUM1, TEXT4, NUM2}));
  open_for_writing(list, path);
  list_add_record(list);
  ASSERT_EQ(list_add_record(list), 1);  // grows to 20 first
  EXPECT_EQ(list.capacity, 20u);
  list.number_value = 300;
  list_put_field(list, 1, 1);
  list.number_value = -1;
  list_put_field(list, 1, 3);
  list_set_text(list, "abcdef");
  EXPECT_EQ(list_put_field(list, 1, 2), static_cast<std::int32_t>(TEXT4));
  EXPECT_STREQ(list.text_value, "");  // emptied by the put
  const Bytes written = read_bytes(path);
  const auto slot1 = written.begin() + list.records_offset + 11;
  EXPECT_EQ(Bytes(slot1 + 4, slot1 + 11), (Bytes{44, 'a', 'b', 'c', 0, 0xFF, 0xFF}));
  EXPECT_EQ(number_of(1, 3), 65535);
  // Nothing reads or writes outside the slot area or the layout.
  EXPECT_EQ(list_get_field(list, list.capacity, 1), -1);
  EXPECT_EQ(list_put_field(list, 0, 4), -1);
  EXPECT_EQ(list_get_field(list, 0, 0), -1);
  list_set_text(list, std::string(3000, 'y').c_str());  // the exchange buffer holds 1,023
  EXPECT_EQ(std::string(list.text_value).size(), 1023u);
}

TEST_F(ListFixture, GrowthShrinkAndCompaction) {
  // Capacity, records, capacity after one more add: at 91 % or fewer than ten
  // free slots the list grows by a sixteenth of its records, at least ten.
  const std::uint32_t steps[][3] = {
      {100, 90, 100}, {100, 91, 110}, {200, 180, 200}, {200, 182, 211}};
  for (const auto& step : steps) {
    ASSERT_TRUE(create_list(path, {NUM4}, step[0]));
    open_for_writing(list, path);
    for (std::uint32_t slot = 0; slot < step[1]; ++slot) list_set_tag(list, slot, SLOT_RECORD);
    EXPECT_EQ(list_add_record(list), static_cast<std::int32_t>(step[1]));
    EXPECT_EQ(list.capacity, step[2]) << step[1];
    EXPECT_EQ(u32_at(read_bytes(path), 1360), step[2]);
    EXPECT_EQ(fs::file_size(path), list.records_offset + step[2] * list.record_size);
    list_close(list);
  }
  // A sparse list shrinks to fit: records compacted in order, the file cut.
  ASSERT_TRUE(create_list(path, {NUM4}, 60));
  open_for_writing(list, path);
  for (std::uint32_t slot = 1; slot < 40; slot += 2) list_set_tag(list, slot, SLOT_RECORD);
  EXPECT_EQ(list_add_record(list), 20);
  EXPECT_EQ(fs::file_size(path), list.records_offset + 50u * list.record_size);
  list_close(list);
  // Compaction leaves the last record behind in the vacated slots.
  ASSERT_TRUE(create_list(path, {TEXT16}));
  open_for_writing(list, path);
  for (const char* text : {"a", "x", "y", "b", "c"}) add_text(text);
  list_set_tag(list, 1, SLOT_BLANK);
  list_set_tag(list, 2, SLOT_FREED);
  ASSERT_TRUE(list_compact(list));
  for (std::uint32_t slot = 0; slot < 5; ++slot)
    EXPECT_EQ(text_of(slot), std::string(1, "abccc"[slot]));
  EXPECT_EQ(list_count_records(list), 3u);
  // A find answers the highest record, never a free slot's leftovers, and
  // stays exact after changes.
  list_set_search_key(list, "C");
  EXPECT_EQ(list_find(list, 1), 2);
  EXPECT_EQ(list_find_exact(list, 1), -1);
  list_set_search_key(list, "c");
  list_set_text(list, "d");
  list_put_field(list, 2, 1);
  EXPECT_EQ(list_find_exact(list, 1), -1);
  // The first vacated slot, emptied of the record that left it.
  EXPECT_EQ(list_add_record(list), 3);
  EXPECT_EQ(text_of(3), "");
  list_set_search_key(list, "");
  EXPECT_EQ(list_find_exact(list, 1), 3);
}

TEST_F(ListFixture, DamagedFilesAreRefusedAndLeaveNothingOpen) {
  ASSERT_TRUE(create_list(path, {TEXT16, NUM4}));
  const auto good = read_bytes(path);
  // Header words that no longer agree with the file or with each other; no
  // slot at all (such a list could never take a record); a changed magic; a
  // file shorter than the header.
  const std::uint32_t damages[][2] = {
      {1360, 400},      {1360, 0xFFFFFFFF}, {1360, 0}, {1356, 0}, {1448, u32_at(good, 1448) + 1},
      {1452, TEXT5000}, {0, 0x61746164},    {1000, 0}};
  for (const auto& [offset, value] : damages) {
    auto bytes = good;
    set_u32_at(bytes, offset, value);
    if (offset == 1000) bytes.resize(1000);
    write_bytes(path, bytes);
    open_for_writing(list, path);
    EXPECT_EQ(list.base, nullptr) << offset;
    EXPECT_EQ(list.failure, OpenFailure::not_list) << offset;
    EXPECT_EQ(list.file_handle, -1) << offset;
    EXPECT_FALSE(list_open_stream(list)) << offset;
  }
  // A file longer than its slot area reads like one without the extra bytes.
  auto longer = good;
  longer.resize(good.size() + 333, 0);
  write_bytes(path, longer);
  open_for_writing(list, path);
  EXPECT_EQ(list.capacity, 10u);
}

TEST_F(ListFixture, OneWriterAtATime) {
  ASSERT_TRUE(create_list(path, {NUM4}));
  open_for_writing(list, path);
  ListFile other;
  std::strcpy(other.path, path.string().c_str());
  EXPECT_EQ(list_map(other), nullptr);  // readers wait for the writer too
  EXPECT_EQ(other.failure, OpenFailure::held);
  // Creating over a held file must not cut it under the holder's mapping.
  other.field_count = 1;
  EXPECT_FALSE(list_create(other));
  EXPECT_EQ(fs::file_size(path), 6444u);
  list_close(list);
  EXPECT_NE(list_map(other), nullptr);
  EXPECT_EQ(list_add_record(other), -1);  // a read-only list refuses every change
  list_close(other);
}

}  // namespace
