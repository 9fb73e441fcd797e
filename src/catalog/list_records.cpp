// The list store's records: tags, adding, growing and shrinking by the fill
// level, compacting and sorting, finding, reading and writing fields, and
// dropping what is damaged.
#include <algorithm>
#include <cstring>
#include <new>
#include <numeric>
#include <string>
#include <vector>

#include "catalog/list_file.h"
#include "catalog/list_slots.h"
#include "text/text.h"

using namespace list_slots;

bool list_set_tag(ListFile& list, std::uint32_t slot, std::uint32_t tag) {
  if (!can_write(list) || slot >= list.capacity) return false;
  write_tag(list, slot, tag);
  return true;
}

std::uint32_t list_count_records(ListFile& list) {
  // Kept exact by every tag change, so no pass over the slots is needed.
  return is_mapped(list) ? list.live_count : 0;
}

std::int32_t list_add_record(ListFile& list) {
  if (!can_write(list)) return -1;
  list_rebalance(list);
  if (!is_mapped(list)) return -1;
  for (std::uint32_t slot = list.take_from; slot < list.capacity; ++slot) {
    if (takeable(tag_of(list, slot))) {
      // A new record starts empty: nothing of the record that left a freed
      // slot (a backup time, say) may pass to it. Blank slots are empty.
      if (tag_of(list, slot) == SLOT_FREED) {
        std::memset(slot_at(list, slot) + 4, 0, list.record_size - 4);
      }
      write_tag(list, slot, SLOT_RECORD);
      list.take_from = slot + 1;
      return static_cast<std::int32_t>(slot);
    }
  }
  list.take_from = list.capacity;
  return -1;
}

bool list_rebalance(ListFile& list) {
  if (!can_write(list) || list.live_count == 0) return false;
  const std::uint32_t occupied = list.occupied_count;
  const std::uint32_t free = list.capacity - occupied;
  const std::uint64_t percent = static_cast<std::uint64_t>(occupied) * 100 / list.capacity;
  if (percent > 90 || free < 10) {
    grow(list, std::max<std::uint32_t>(occupied / 16, 10));
  } else if (percent < 70 && list.capacity > 50) {
    shrink(list);
  }
  return is_mapped(list);
}

bool list_compact(ListFile& list) {
  if (!can_write(list) || list.live_count == 0) return false;
  // Occupied slots move down in order; each vacated slot keeps the bytes of
  // the last record that passed through it, which is the highest one.
  std::uint32_t next = 0;
  std::uint32_t highest = 0;
  bool moved = false;
  for (std::uint32_t slot = 0; slot < list.capacity; ++slot) {
    if (tag_of(list, slot) <= 9) continue;
    highest = slot;
    if (slot != next) {
      index_forget(list, next);
      std::memcpy(slot_at(list, next), slot_at(list, slot), list.record_size);
      index_note(list, next);
      moved = true;
    }
    ++next;
  }
  if (!moved) return true;
  for (std::uint32_t slot = next; slot <= highest; ++slot) {
    index_forget(list, slot);
    if (slot < highest) std::memcpy(slot_at(list, slot), slot_at(list, highest), list.record_size);
  }
  for (std::uint32_t slot = next; slot <= highest; ++slot) write32(slot_at(list, slot), SLOT_FREED);
  // Tags only moved, so the counts stand; the first free slot is now next.
  list.take_from = next;
  return true;
}

namespace {

// Whether the first count slots are in order already, as a build leaves
// them: told by comparing neighbours in place, without copying a key.
bool already_sorted(const ListFile& list, std::uint32_t field, std::uint32_t count) {
  if (!is_text_type(type_of(list, field))) return false;
  const char* previous = nullptr;
  for (std::uint32_t slot = 0; slot < count; ++slot) {
    const std::string_view text = list_text_of(list, slot, field);
    // A text that fills its whole limit has no terminator there to stop at.
    if (text.data() == nullptr || text.data()[text.size()] != '\0') return false;
    if (previous != nullptr && std::strcoll(previous, text.data()) > 0) return false;
    previous = text.data();
  }
  return true;
}

}  // namespace

bool list_sort(ListFile& list, std::uint32_t field) {
  if (!can_write(list) || list.capacity <= 2 || !valid_field(list, field) || list.live_count == 0) {
    return false;
  }
  list_compact(list);
  const std::uint32_t count = list.occupied_count;
  if (already_sorted(list, field, count)) return true;
  std::vector<std::string> keys(count);
  for (std::uint32_t slot = 0; slot < count; ++slot) keys[slot] = sort_key(list, slot, field);
  std::vector<std::uint32_t> order(count);
  std::iota(order.begin(), order.end(), 0u);
  // Stable, and swapping only on "greater": the order a bubble sort gives.
  std::stable_sort(order.begin(), order.end(), [&keys](std::uint32_t a, std::uint32_t b) {
    return std::strcoll(keys[a].c_str(), keys[b].c_str()) < 0;
  });
  std::uint8_t* spare = new (std::nothrow) std::uint8_t[list.record_size];
  if (spare == nullptr) return false;
  for (std::uint32_t slot = 0; slot < count; ++slot) {
    if (order[slot] != slot) index_forget(list, slot);
  }
  // Apply the permutation cycle by cycle: slot i receives the record from order[i].
  std::vector<bool> placed(count, false);
  for (std::uint32_t start = 0; start < count; ++start) {
    if (placed[start] || order[start] == start) continue;
    std::memcpy(spare, slot_at(list, start), list.record_size);
    std::uint32_t slot = start;
    while (order[slot] != start) {
      std::memcpy(slot_at(list, slot), slot_at(list, order[slot]), list.record_size);
      placed[slot] = true;
      slot = order[slot];
    }
    std::memcpy(slot_at(list, slot), spare, list.record_size);
    placed[slot] = true;
  }
  delete[] spare;
  for (std::uint32_t slot = 0; slot < count; ++slot) {
    if (order[slot] != slot) index_note(list, slot);
  }
  return true;
}

namespace {

// The highest slot matching search_key, by the index or by a backward pass;
// the exchange cells then hold the last slot examined, as the pass leaves them.
std::int32_t find_text_slot(ListFile& list, std::uint32_t field, bool exact) {
  list.search_key[kListTextBytes - 1] = '\0';
  const std::string key = list.search_key;
  const std::string folded_key = folded(key);
  const std::uint32_t limit = text_limit(type_of(list, field));
  // Compared in place: the stored text ends at its first NUL or at the limit.
  // Only records answer: a free slot's bytes belong to nobody.
  auto matches = [&](std::uint32_t slot) {
    if (tag_of(list, slot) != SLOT_RECORD) return false;
    const auto* at = reinterpret_cast<const char*>(field_at(list, slot, field));
    if (key.size() > limit || (key.size() < limit && at[key.size()] != '\0')) return false;
    for (std::size_t i = 0; i < key.size(); ++i) {
      const char stored = exact ? at[i] : fold_char(at[i]);
      if (stored != (exact ? key[i] : folded_key[i])) return false;
    }
    return true;
  };
  std::int32_t found = -1;
  if (FieldIndex* index = index_for(list, field)) {
    index_probe(*index, folded_hash(key.c_str(), kListTextBytes), [&](const HashEntry& entry) {
      if (static_cast<std::int32_t>(entry.slot) > found && matches(entry.slot)) {
        found = static_cast<std::int32_t>(entry.slot);
      }
      return false;
    });
  } else {
    for (std::uint32_t slot = list.capacity; slot-- > 0;) {
      if (matches(slot)) {
        found = static_cast<std::int32_t>(slot);
        break;
      }
    }
  }
  if (list.capacity > 0) list_get_field(list, found >= 0 ? found : 0, field);
  return found;
}

}  // namespace

std::int32_t list_find(ListFile& list, std::uint32_t field) {
  if (!is_mapped(list) || !valid_field(list, field) || list.live_count == 0) return -1;
  if (is_text_type(type_of(list, field))) return find_text_slot(list, field, false);
  const std::uint32_t key = text_to_number(list.search_key);
  for (std::uint32_t slot = list.capacity; slot-- > 0;) {
    if (tag_of(list, slot) != SLOT_RECORD) continue;
    list_get_field(list, slot, field);
    if (static_cast<std::uint32_t>(list.number_value) == key)
      return static_cast<std::int32_t>(slot);
  }
  return -1;
}

std::int32_t list_find_exact(ListFile& list, std::uint32_t field) {
  if (!is_mapped(list) || !valid_field(list, field) || list.live_count == 0) return -1;
  if (!is_text_type(type_of(list, field))) return list_find(list, field);
  return find_text_slot(list, field, true);
}

bool list_holds_record(const ListFile& list, std::uint32_t slot) {
  return is_mapped(list) && slot < list.capacity && tag_of(list, slot) == SLOT_RECORD;
}

std::string_view list_text_of(const ListFile& list, std::uint32_t slot, std::uint32_t field) {
  if (!is_mapped(list) || !valid_field(list, field) || slot >= list.capacity ||
      !is_text_type(type_of(list, field))) {
    return {};
  }
  const auto* at = reinterpret_cast<const char*>(field_at(list, slot, field));
  const std::uint32_t limit = text_limit(type_of(list, field));
  const void* end = std::memchr(at, '\0', limit);
  return {at, end ? static_cast<std::size_t>(static_cast<const char*>(end) - at) : limit};
}

std::int32_t list_get_field(ListFile& list, std::uint32_t slot, std::uint32_t field) {
  if (!is_mapped(list) || !valid_field(list, field) || list.live_count == 0 ||
      slot >= list.capacity) {
    return -1;
  }
  const std::uint32_t type = type_of(list, field);
  const std::uint8_t* at = field_at(list, slot, field);
  if (is_text_type(type)) {
    const std::uint32_t limit = text_limit(type);
    std::memcpy(list.text_value, at, limit);
    list.text_value[limit] = '\0';
  } else {
    list.number_value = stored_number(list, slot, field);
  }
  return static_cast<std::int32_t>(type);
}

std::int32_t list_put_field(ListFile& list, std::uint32_t slot, std::uint32_t field) {
  if (!can_write(list) || !valid_field(list, field) || list.live_count == 0 ||
      slot >= list.capacity) {
    return -1;
  }
  const std::uint32_t type = type_of(list, field);
  std::uint8_t* at = field_at(list, slot, field);
  const auto value = static_cast<std::uint32_t>(list.number_value);
  if (is_text_type(type)) {
    index_forget(list, slot);
    const std::uint32_t limit = text_limit(type);
    list.text_value[kListTextBytes - 1] = '\0';
    std::memcpy(at, list.text_value, limit);
    at[limit] = '\0';
    list.text_value[0] = '\0';
    index_note(list, slot);
  } else if (type == NUM1) {
    at[0] = static_cast<std::uint8_t>(value);
  } else if (type == NUM2) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
  } else {
    write32(at, value);
  }
  return static_cast<std::int32_t>(type);
}

std::uint32_t list_drop_damaged(ListFile& list, std::uint32_t text_field) {
  if (!can_write(list) || !valid_field(list, text_field) ||
      !is_text_type(type_of(list, text_field))) {
    return 0;
  }
  const std::uint32_t width = list_type_width(type_of(list, text_field));
  std::uint32_t dropped = 0;
  for (std::uint32_t slot = 0; slot < list.capacity; ++slot) {
    const std::uint32_t tag = tag_of(list, slot);
    if (tag == SLOT_BLANK || tag == SLOT_FREED) continue;
    const std::uint8_t* text = field_at(list, slot, text_field);
    if (tag == SLOT_RECORD && text[0] != '\0' && std::memchr(text, '\0', width) != nullptr) {
      continue;
    }
    if (tag > 9) ++dropped;
    index_forget(list, slot);
    std::memset(slot_at(list, slot) + 4, 0, list.record_size - 4);
    write_tag(list, slot, SLOT_FREED);
  }
  return dropped;
}

void list_set_text(ListFile& list, const char* text) {
  std::strncpy(list.text_value, text, kListTextBytes - 1);
  list.text_value[kListTextBytes - 1] = '\0';
}

void list_set_search_key(ListFile& list, const char* text) {
  std::strncpy(list.search_key, text, kListTextBytes - 1);
  list.search_key[kListTextBytes - 1] = '\0';
}
