// The store against a plain reference: every operation done the slow, literal
// way (linear finds, restarting compaction, bubble sort) on an in-memory copy
// of the slots, and the two compared byte for byte after every step.
#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "catalog/list_file.h"
#include "list_test_support.h"
#include "text/text.h"

namespace fs = std::filesystem;
using namespace list_test;

namespace {

// Layout of the lists under test: TEXT16 at slot offset 4, NUM4 at 20.
constexpr std::uint32_t kRecordSize = 24;
constexpr std::uint32_t kTextAt = 4;
constexpr std::uint32_t kTextLimit = 15;
constexpr std::uint32_t kNumberAt = 20;

struct Model {
  std::vector<std::vector<std::uint8_t>> slots;
  std::int32_t number_value = 0;
  char text_value[kListTextBytes] = {};

  std::uint32_t tag(std::size_t slot) const { return u32(slot, 0); }
  std::uint32_t u32(std::size_t slot, std::size_t at) const {
    std::uint32_t value;
    std::memcpy(&value, slots[slot].data() + at, 4);
    return value;
  }
  void set_u32(std::size_t slot, std::size_t at, std::uint32_t value) {
    std::memcpy(slots[slot].data() + at, &value, 4);
  }
  std::uint32_t count(bool live) const {
    std::uint32_t n = 0;
    for (std::size_t s = 0; s < slots.size(); ++s) n += live ? tag(s) == 10 : tag(s) > 9;
    return n;
  }
  std::string text(std::size_t slot) const {
    const char* at = reinterpret_cast<const char*>(slots[slot].data() + kTextAt);
    return std::string(at, strnlen(at, kTextLimit));
  }
  void get(std::size_t slot, std::uint32_t field) {
    if (field == 1) {
      std::memcpy(text_value, slots[slot].data() + kTextAt, kTextLimit);
      text_value[kTextLimit] = '\0';
    } else {
      number_value = static_cast<std::int32_t>(u32(slot, kNumberAt));
    }
  }
  void put(std::size_t slot, std::uint32_t field) {
    if (field == 1) {
      std::memcpy(slots[slot].data() + kTextAt, text_value, kTextLimit);
      slots[slot][kTextAt + kTextLimit] = 0;
      text_value[0] = '\0';
    } else {
      set_u32(slot, kNumberAt, static_cast<std::uint32_t>(number_value));
    }
  }
  void compact() {
    if (count(true) == 0) return;
    for (bool moved = true; moved;) {
      moved = false;
      long last_free = -1;
      for (std::size_t s = 0; s < slots.size(); ++s) {
        if (tag(s) < 10) {
          last_free = static_cast<long>(s);
        } else if (last_free >= 0) {
          const std::uint32_t moved_tag = tag(s);
          slots[last_free] = slots[s];
          set_u32(last_free, 0, moved_tag);
          set_u32(s, 0, 5);
          moved = true;
          break;
        }
      }
    }
  }
  void rebalance() {
    const std::uint32_t live = count(true);
    if (live == 0) return;
    const std::uint32_t capacity = static_cast<std::uint32_t>(slots.size());
    const std::uint32_t occupied = count(false);
    const std::uint32_t percent = occupied * 100 / capacity;
    if (percent > 90 || capacity - occupied < 10) {
      const std::uint32_t n = occupied / 16 > 10 ? occupied / 16 : 10;
      slots.resize(capacity + n, std::vector<std::uint8_t>(kRecordSize, 0));
    } else if (percent < 70 && capacity > 50) {
      compact();
      slots.resize(capacity - 10);
    }
  }
  std::int32_t add() {
    rebalance();
    for (std::size_t s = 0; s < slots.size(); ++s) {
      if (tag(s) == 0 || tag(s) == 5) {
        set_u32(s, 0, 10);
        return static_cast<std::int32_t>(s);
      }
    }
    return -1;
  }
  std::string key(std::size_t slot, std::uint32_t field) {
    if (field == 1) return text(slot);
    char number[12];
    number_to_text(static_cast<std::int32_t>(u32(slot, kNumberAt)), number);
    return number;
  }
  void sort(std::uint32_t field) {
    if (slots.size() <= 2 || count(true) == 0) return;
    compact();
    for (std::size_t limit = slots.size() - 1; limit > 0;) {
      std::size_t last_swap = 0;
      for (std::size_t i = 1; i <= limit; ++i) {
        if (tag(i - 1) < 10 || tag(i) < 10) continue;
        if (std::strcoll(key(i - 1, field).c_str(), key(i, field).c_str()) > 0) {
          std::swap(slots[i - 1], slots[i]);
          last_swap = i;
        }
      }
      limit = last_swap;
    }
  }
  static std::string fold(std::string text) {
    lower_text(text.data());
    return text;
  }
  std::int32_t find(std::uint32_t field, const char* search_key, bool exact) {
    if (count(true) == 0) return -1;
    for (std::size_t s = slots.size(); s-- > 0;) {
      get(s, field);
      const bool match =
          field == 2 ? static_cast<std::uint32_t>(number_value) == text_to_number(search_key)
          : exact    ? std::string(text_value) == search_key
                     : fold(text_value) == fold(search_key);
      if (match) return static_cast<std::int32_t>(s);
    }
    return -1;
  }
};

void expect_same(const ListFile& list, const Model& model, int step) {
  ASSERT_EQ(list.capacity, model.slots.size()) << "step " << step;
  ASSERT_EQ(list.live_count, model.count(true)) << "step " << step;
  for (std::size_t s = 0; s < model.slots.size(); ++s) {
    ASSERT_EQ(std::memcmp(list.base + list.records_offset + s * kRecordSize, model.slots[s].data(),
                          kRecordSize),
              0)
        << "slot " << s << " step " << step;
  }
}

void run_against_model(std::uint32_t seed, int use_index) {
  std::setlocale(LC_COLLATE, "C");
  const fs::path folder = make_temp_folder();
  const fs::path path = folder / "model.lbf";
  ASSERT_TRUE(create_list(path, {TEXT16, NUM4}));
  ListFile list;
  list.use_index = use_index;
  open_for_writing(list, path);
  ASSERT_EQ(list.record_size, kRecordSize);
  Model model;
  model.slots.assign(10, std::vector<std::uint8_t>(kRecordSize, 0));

  const char* texts[] = {
      "",    "a",  "A", "ab", "AB", "aB", "b", "\xC9", "\xE9", "B", "abcdefghijklmnopq",
      "x/y", "10", "9"};
  std::mt19937 random(seed);
  int grew = 0;
  int shrank = 0;
  auto pick = [&](std::size_t n) { return static_cast<std::uint32_t>(random() % n); };
  for (int step = 0; step < 3000; ++step) {
    // Fill for the first half, then free more than is added so lists shrink.
    const bool filling = step < 1500;
    const std::uint32_t capacity = list.capacity;
    const std::uint32_t roll = pick(100);
    const std::uint32_t adds = filling ? 40 : 10;
    const std::uint32_t puts = adds + 20;
    const std::uint32_t tags = puts + (filling ? 10 : 40);
    if (roll < adds) {
      ASSERT_EQ(list_add_record(list), model.add()) << "step " << step;
    } else if (roll < puts) {
      const std::uint32_t slot = pick(capacity);
      if (pick(2) == 0) {
        const char* text = texts[pick(std::size(texts))];
        list_set_text(list, text);
        std::strncpy(model.text_value, text, kListTextBytes - 1);
        const std::int32_t live = static_cast<std::int32_t>(model.count(true));
        const std::int32_t type = list_put_field(list, slot, 1);
        ASSERT_EQ(type, live ? static_cast<std::int32_t>(TEXT16) : -1);
        if (live) model.put(slot, 1);
      } else {
        list.number_value = model.number_value = static_cast<std::int32_t>(pick(21)) - 10;
        if (list_put_field(list, slot, 2) >= 0) model.put(slot, 2);
      }
    } else if (roll < tags) {
      const std::uint32_t slot = pick(capacity);
      const std::uint32_t tag = filling ? std::uint32_t{pick(3) * 5} : SLOT_FREED;
      list_set_tag(list, slot, tag);
      model.set_u32(slot, 0, tag);
    } else if (roll < tags + 3) {
      const std::uint32_t from = pick(capacity);
      const std::uint32_t to = pick(capacity);
      list_copy_slot(list, from, to);
      model.slots[to] = model.slots[from];
    } else if (roll < tags + 5) {
      list_compact(list);
      model.compact();
    } else if (roll < tags + 7) {
      const std::uint32_t field = 1 + pick(2);
      list_sort(list, field);
      model.sort(field);
    } else {
      const std::uint32_t field = pick(4) == 0 ? 2 : 1;
      const bool exact = pick(2) == 0;
      std::string key = field == 1 ? texts[pick(std::size(texts))] : std::to_string(pick(11));
      if (field == 1 && key.size() > kTextLimit) key.resize(kTextLimit);
      list_set_search_key(list, key.c_str());
      const std::int32_t found = exact ? list_find_exact(list, field) : list_find(list, field);
      ASSERT_EQ(found, model.find(field, key.c_str(), exact)) << "step " << step << " key " << key;
      if (field == 1 && model.count(true) > 0) {
        ASSERT_STREQ(list.text_value, model.text_value);
      }
      if (field == 2 && model.count(true) > 0) {
        ASSERT_EQ(list.number_value, model.number_value);
      }
    }
    grew += list.capacity > capacity;
    shrank += list.capacity < capacity;
    expect_same(list, model, step);
    if (::testing::Test::HasFatalFailure()) break;
  }
  // The run is only worth something if it went through both resizes.
  EXPECT_GT(grew, 5);
  EXPECT_GT(shrank, 2);
  list_close(list);
  fs::remove_all(folder);
}

TEST(ListModel, IndexedStoreMatchesTheLiteralAlgorithms) {
  for (std::uint32_t seed = 1; seed <= 4; ++seed) {
    SCOPED_TRACE(seed);
    run_against_model(seed, 1);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

TEST(ListModel, LinearStoreMatchesTheLiteralAlgorithms) {
  run_against_model(99, 0);
}

}  // namespace
