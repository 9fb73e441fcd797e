#include "catalog/list_file.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <numeric>
#include <string>
#include <unordered_map>
#include <vector>

#include "text/text.h"

// Finds by text are answered from an index per text field, built on the
// first find and kept exact by every change of field bytes or tags. It maps a
// hash of the ASCII-folded text of every record (free slots never answer a
// find) to the record's slot; a find checks the text itself.
struct FieldIndex {
  bool built = false;
  std::unordered_multimap<std::uint64_t, std::uint32_t> slots_by_hash;
};
struct ListIndex {
  std::vector<FieldIndex> fields;  // by field number - 1
};

namespace {

constexpr std::uint32_t kVersionOffset = 4;
constexpr std::uint32_t kFieldCountOffset = 1356;
constexpr std::uint32_t kCapacityOffset = 1360;
constexpr std::uint32_t kNewCapacity = 10;
constexpr std::uint32_t kNewSlack = 5000;
constexpr std::uint32_t kLaidOutSlots = 15;

std::uint32_t read32(const std::uint8_t* at) {
  std::uint32_t value;
  std::memcpy(&value, at, 4);
  return value;
}
void write32(std::uint8_t* at, std::uint32_t value) {
  std::memcpy(at, &value, 4);
}

bool is_mapped(const ListFile& list) {
  return list.base != nullptr;
}
bool in_stream(const ListFile& list) {
  return list.base == nullptr && list.file_handle >= 0;
}
bool can_write(const ListFile& list) {
  return list.base != nullptr && list.writable != 0;
}
bool is_text_type(std::uint32_t type) {
  return type >= 10;
}
bool takeable(std::uint32_t tag) {
  return tag == SLOT_BLANK || tag == SLOT_FREED;
}

std::uint8_t* slot_at(const ListFile& list, std::uint32_t slot) {
  return list.base + list.records_offset + static_cast<std::uint64_t>(slot) * list.record_size;
}
std::uint32_t tag_of(const ListFile& list, std::uint32_t slot) {
  return read32(slot_at(list, slot));
}
std::uint32_t type_of(const ListFile& list, std::uint32_t field) {
  return read32(list.base + kListHeaderBytes + 8ull * (field - 1));
}
std::uint8_t* field_at(const ListFile& list, std::uint32_t slot, std::uint32_t field) {
  const std::uint32_t offset = read32(list.base + kListHeaderBytes + 8ull * (field - 1) + 4);
  return list.base + offset + static_cast<std::uint64_t>(slot) * list.record_size;
}
bool valid_field(const ListFile& list, std::uint32_t field) {
  return field != 0 && field <= list.field_count;
}

// Characters a text field can hand over: width - 1, and never more than the
// exchange buffer holds.
std::uint32_t text_limit(std::uint32_t type) {
  return std::min(list_type_width(type) - 1, kListTextBytes - 1);
}

std::string stored_text(const ListFile& list, std::uint32_t slot, std::uint32_t field) {
  const auto* at = reinterpret_cast<const char*>(field_at(list, slot, field));
  const std::uint32_t limit = text_limit(type_of(list, field));
  const void* end = std::memchr(at, '\0', limit);
  return std::string(at, end ? static_cast<const char*>(end) - at : limit);
}

char fold_char(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

std::string folded(std::string text) {
  for (char& c : text) c = fold_char(c);
  return text;
}

// --- counts and the take hint -------------------------------------------

void count_tag(ListFile& list, std::uint32_t tag, int sign) {
  if (tag == SLOT_RECORD) list.live_count += sign;
  if (tag > 9) list.occupied_count += sign;
}

void index_forget(ListFile& list, std::uint32_t slot);
void index_note(ListFile& list, std::uint32_t slot);

void write_tag(ListFile& list, std::uint32_t slot, std::uint32_t tag) {
  index_forget(list, slot);
  count_tag(list, tag_of(list, slot), -1);
  write32(slot_at(list, slot), tag);
  count_tag(list, tag, +1);
  index_note(list, slot);
  if (takeable(tag)) list.take_from = std::min(list.take_from, slot);
}

void count_slots(ListFile& list, std::uint32_t from, std::uint32_t to, int sign) {
  for (std::uint32_t slot = from; slot < to; ++slot) count_tag(list, tag_of(list, slot), sign);
}

// --- the index -----------------------------------------------------------

// FNV-1a over the folded text, up to its end or limit.
std::uint64_t folded_hash(const char* text, std::uint32_t limit) {
  std::uint64_t hash = 14695981039346656037ull;
  for (std::uint32_t i = 0; i < limit && text[i] != '\0'; ++i) {
    hash = (hash ^ static_cast<unsigned char>(fold_char(text[i]))) * 1099511628211ull;
  }
  return hash;
}

std::uint64_t slot_hash(const ListFile& list, std::uint32_t slot, std::uint32_t field) {
  return folded_hash(reinterpret_cast<const char*>(field_at(list, slot, field)),
                     text_limit(type_of(list, field)));
}

void index_forget(ListFile& list, std::uint32_t slot) {
  if (list.index == nullptr || tag_of(list, slot) != SLOT_RECORD) return;
  for (std::uint32_t f = 1; f <= list.index->fields.size(); ++f) {
    FieldIndex& field = list.index->fields[f - 1];
    if (!field.built) continue;
    auto [at, end] = field.slots_by_hash.equal_range(slot_hash(list, slot, f));
    for (; at != end; ++at) {
      if (at->second == slot) {
        field.slots_by_hash.erase(at);
        break;
      }
    }
  }
}

void index_note(ListFile& list, std::uint32_t slot) {
  if (list.index == nullptr || tag_of(list, slot) != SLOT_RECORD) return;
  for (std::uint32_t f = 1; f <= list.index->fields.size(); ++f) {
    FieldIndex& field = list.index->fields[f - 1];
    if (field.built) field.slots_by_hash.emplace(slot_hash(list, slot, f), slot);
  }
}

FieldIndex* index_for(ListFile& list, std::uint32_t field) {
  if (!list.use_index) return nullptr;
  if (list.index == nullptr) {
    list.index = new (std::nothrow) ListIndex;
    if (list.index == nullptr) return nullptr;
    list.index->fields.resize(list.field_count);
  }
  FieldIndex& index = list.index->fields[field - 1];
  if (!index.built) {
    index.built = true;
    index.slots_by_hash.reserve(list.live_count + list.live_count / 4);
    for (std::uint32_t slot = 0; slot < list.capacity; ++slot) {
      if (tag_of(list, slot) == SLOT_RECORD)
        index.slots_by_hash.emplace(slot_hash(list, slot, field), slot);
    }
  }
  return &index;
}

void drop_index(ListFile& list) {
  delete list.index;
  list.index = nullptr;
}

// --- opening ---------------------------------------------------------------

struct Layout {
  std::uint32_t field_count;
  std::uint32_t capacity;
  std::uint32_t records_offset;
  std::uint32_t record_size;
};

// Header bytes of a file of the given length: the magic, and descriptor
// offsets that follow the widths, everything inside the file.
bool read_layout(const std::uint8_t* bytes, std::uint64_t available, std::uint64_t length,
                 Layout* layout) {
  if (length < kListHeaderBytes || available < kListHeaderBytes) return false;
  if (std::memcmp(bytes, "DATA", 4) != 0 || std::memcmp(bytes + kVersionOffset, "1000", 4) != 0) {
    return false;
  }
  const std::uint32_t field_count = read32(bytes + kFieldCountOffset);
  const std::uint64_t records_offset = kListHeaderBytes + 8ull * field_count;
  if (field_count == 0 || records_offset > length || records_offset > available ||
      records_offset > UINT32_MAX) {
    return false;
  }
  std::uint64_t record_size = 4;
  for (std::uint32_t k = 0; k < field_count; ++k) {
    const std::uint8_t* descriptor = bytes + kListHeaderBytes + 8ull * k;
    if (read32(descriptor + 4) != records_offset + record_size) return false;
    record_size += list_type_width(read32(descriptor));
    if (record_size > length) return false;
  }
  const std::uint32_t capacity = read32(bytes + kCapacityOffset);
  // Every list holds slot 0 at least: one of no slots could never take a
  // record, since growing goes by what it holds.
  if (capacity == 0) return false;
  // record_size <= length < 2^63 and capacity < 2^32: checked arithmetic.
  std::uint64_t slot_area = 0;
  if (__builtin_mul_overflow(static_cast<std::uint64_t>(capacity), record_size, &slot_area) ||
      __builtin_add_overflow(slot_area, records_offset, &slot_area) || slot_area > length) {
    return false;
  }
  *layout = Layout{field_count, capacity, static_cast<std::uint32_t>(records_offset),
                   static_cast<std::uint32_t>(record_size)};
  return true;
}

void take_layout(ListFile& list, const Layout& layout) {
  list.field_count = layout.field_count;
  list.capacity = layout.capacity;
  list.descriptor_offset = kListHeaderBytes;
  list.records_offset = layout.records_offset;
  list.record_size = layout.record_size;
}

std::uint8_t* refuse(ListFile& list, OpenFailure why) {
  list_close(list);
  list.failure = why;
  return nullptr;
}

// Maps the whole file again after its length changed; closes the list when
// that fails.
bool remap(ListFile& list) {
  unmap(list.base, list.mapped_length);
  list.base = nullptr;
  const std::int64_t length = handle_length(list.file_handle);
  if (length > 0) list.base = map_handle(list.file_handle, static_cast<std::uint64_t>(length), 1);
  if (list.base == nullptr) {
    list_close(list);
    return false;
  }
  list.mapped_length = static_cast<std::uint64_t>(length);
  return true;
}

void grow(ListFile& list, std::uint32_t slots) {
  const std::int64_t length = handle_length(list.file_handle);
  std::uint32_t capacity = 0;
  if (length < 0 || __builtin_add_overflow(list.capacity, slots, &capacity)) return;
  // Blank slots first, the new capacity after: an interrupted grow leaves a
  // file that opens with its old capacity and every record.
  const std::uint64_t added = static_cast<std::uint64_t>(slots) * list.record_size;
  if (!extend_to(list.file_handle, static_cast<std::uint64_t>(length) + added)) return;
  write32(list.base + kCapacityOffset, capacity);
  const std::uint32_t old_capacity = list.capacity;
  list.capacity = capacity;
  if (!remap(list)) return;
  count_slots(list, old_capacity, capacity, +1);
  for (std::uint32_t slot = old_capacity; slot < capacity; ++slot) {
    index_note(list, slot);
    if (takeable(tag_of(list, slot))) list.take_from = std::min(list.take_from, slot);
  }
}

void shrink(ListFile& list) {
  list_compact(list);
  const std::uint32_t capacity = list.capacity - 10;
  for (std::uint32_t slot = capacity; slot < list.capacity; ++slot) index_forget(list, slot);
  count_slots(list, capacity, list.capacity, -1);
  // The header first: a file longer than its slot area is sound, a shorter one is not.
  write32(list.base + kCapacityOffset, capacity);
  list.capacity = capacity;
  list.take_from = std::min(list.take_from, capacity);
  // Unmapped first: Windows refuses to cut a file while a view of it is mapped.
  unmap(list.base, list.mapped_length);
  list.base = nullptr;
  cut_to(list.file_handle,
         list.records_offset + static_cast<std::uint64_t>(capacity) * list.record_size);
  remap(list);
}

std::int32_t stored_number(const ListFile& list, std::uint32_t slot, std::uint32_t field) {
  const std::uint32_t type = type_of(list, field);
  const std::uint8_t* at = field_at(list, slot, field);
  if (type == NUM1) return at[0];
  if (type == NUM2) return at[0] | (at[1] << 8);
  return static_cast<std::int32_t>(read32(at));
}

std::string sort_key(const ListFile& list, std::uint32_t slot, std::uint32_t field) {
  if (is_text_type(type_of(list, field))) return stored_text(list, slot, field);
  char number[12];
  number_to_text(stored_number(list, slot, field), number);
  return number;
}

}  // namespace

std::uint32_t list_type_width(std::uint32_t type) {
  static const std::uint32_t widths[16] = {1,  2,  4, 8,  16, 64,  64,   64,
                                           64, 64, 4, 16, 64, 300, 1000, 5000};
  return type < 16 ? widths[type] : 64;
}

std::uint32_t list_field_type(const ListFile& list, std::uint32_t field) {
  return is_mapped(list) && valid_field(list, field) ? type_of(list, field) : UINT32_MAX;
}

std::uint8_t* list_map(ListFile& list) {
  const int writable = list.writable;
  list_close(list);
  OpenFailure why = OpenFailure::none;
  list.file_handle = open_locked(list.path, writable, &why);
  if (list.file_handle < 0) return refuse(list, why);
  list.writable = writable;
  const std::int64_t length = handle_length(list.file_handle);
  if (length < kListHeaderBytes) return refuse(list, OpenFailure::not_list);
  list.base = map_handle(list.file_handle, static_cast<std::uint64_t>(length), writable);
  if (list.base == nullptr) return refuse(list, OpenFailure::failed);
  list.mapped_length = static_cast<std::uint64_t>(length);
  Layout layout{};
  if (!read_layout(list.base, list.mapped_length, list.mapped_length, &layout)) {
    return refuse(list, OpenFailure::not_list);
  }
  take_layout(list, layout);
  list.live_count = 0;
  list.occupied_count = 0;
  list.take_from = 0;
  count_slots(list, 0, list.capacity, +1);
  list.failure = OpenFailure::none;
  return list.base;
}

std::int32_t list_open_stream(ListFile& list) {
  const int writable = list.writable;
  list_close(list);
  OpenFailure why = OpenFailure::none;
  list.file_handle = open_locked(list.path, writable, &why);
  if (list.file_handle < 0) {
    refuse(list, why);
    return 0;
  }
  list.writable = writable;
  const std::int64_t length = handle_length(list.file_handle);
  std::vector<std::uint8_t> header(kListHeaderBytes);
  if (length < kListHeaderBytes || !read_at(list.file_handle, 0, header.data(), header.size())) {
    refuse(list, OpenFailure::not_list);
    return 0;
  }
  // Read the descriptor table too, when the file can hold it.
  const std::uint64_t table = kListHeaderBytes + 8ull * read32(header.data() + kFieldCountOffset);
  if (table <= static_cast<std::uint64_t>(length)) {
    header.resize(table);
    read_at(list.file_handle, 0, header.data(), table);
  }
  Layout layout{};
  if (!read_layout(header.data(), header.size(), static_cast<std::uint64_t>(length), &layout)) {
    refuse(list, OpenFailure::not_list);
    return 0;
  }
  take_layout(list, layout);
  list.stream_position = static_cast<std::uint64_t>(length);
  list.failure = OpenFailure::none;
  return 1;
}

void list_close(ListFile& list) {
  drop_index(list);
  unmap(list.base, list.mapped_length);
  close_handle(list.file_handle);
  list.base = nullptr;
  list.mapped_length = 0;
  list.file_handle = -1;
  list.writable = 0;
}

std::int32_t list_create(ListFile& list) {
  list_close(list);
  const std::uint64_t records_offset = kListHeaderBytes + 8ull * list.field_count;
  if (list.field_count == 0 || records_offset > UINT32_MAX) {
    list.failure = OpenFailure::failed;
    return 0;
  }
  OpenFailure why = OpenFailure::none;
  list.file_handle = create_locked(list.path, &why);
  if (list.file_handle < 0) {
    refuse(list, why);
    return 0;
  }
  list.writable = 1;
  std::vector<std::uint8_t> bytes(kListHeaderBytes + kNewSlack, 0);
  std::memcpy(bytes.data(), "DATA1000", 8);
  write32(bytes.data() + 608, 1);
  write32(bytes.data() + 1352, 2);
  write32(bytes.data() + kFieldCountOffset, list.field_count);
  write32(bytes.data() + kCapacityOffset, kNewCapacity);
  write32(bytes.data() + 1364, 2);
  write_at(list.file_handle, 0, bytes.data(), bytes.size());
  list.capacity = kNewCapacity;
  list.descriptor_offset = kListHeaderBytes;
  list.records_offset = static_cast<std::uint32_t>(records_offset);
  list.record_size = 0;
  list.live_count = 0;
  list.occupied_count = 0;
  list.stream_position = bytes.size();
  list.failure = OpenFailure::none;
  return 1;
}

std::int32_t list_define_field(ListFile& list, std::uint32_t field, std::uint32_t type) {
  // A field past the table would write into the slot area.
  if (!in_stream(list) || !valid_field(list, field)) return 0;
  const std::uint32_t descriptor[2] = {type, 0};
  write_at(list.file_handle, kListHeaderBytes + 8ull * (field - 1), descriptor, sizeof descriptor);
  return 1;
}

std::int32_t list_lay_out(ListFile& list) {
  if (!in_stream(list)) return 0;
  std::vector<std::uint32_t> table(2ull * list.field_count);
  read_at(list.file_handle, kListHeaderBytes, table.data(), table.size() * 4);
  std::uint64_t record_size = 4;
  for (std::uint32_t k = 0; k < list.field_count; ++k) {
    table[2ull * k + 1] = static_cast<std::uint32_t>(list.records_offset + record_size);
    record_size += list_type_width(table[2ull * k]);
  }
  if (record_size > UINT32_MAX) return 0;
  write_at(list.file_handle, kListHeaderBytes, table.data(), table.size() * 4);
  list.record_size = static_cast<std::uint32_t>(record_size);
  list.stream_position = list.records_offset;
  return list_append_blank_slots(list, kLaidOutSlots);
}

std::int32_t list_append_blank_slots(ListFile& list, std::uint32_t count) {
  if (!in_stream(list)) return 0;
  static const std::uint8_t zeros[65536] = {};
  std::uint64_t left = static_cast<std::uint64_t>(count) * list.record_size;
  while (left > 0) {
    const std::uint64_t piece = std::min<std::uint64_t>(left, sizeof zeros);
    write_at(list.file_handle, list.stream_position, zeros, piece);
    list.stream_position += piece;
    left -= piece;
  }
  return 1;
}

std::int32_t list_set_tag(ListFile& list, std::uint32_t slot, std::uint32_t tag) {
  if (!can_write(list) || slot >= list.capacity) return 0;
  write_tag(list, slot, tag);
  return 1;
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

std::int32_t list_rebalance(ListFile& list) {
  if (!can_write(list) || list.live_count == 0) return 0;
  const std::uint32_t occupied = list.occupied_count;
  const std::uint32_t free = list.capacity - occupied;
  const std::uint64_t percent = static_cast<std::uint64_t>(occupied) * 100 / list.capacity;
  if (percent > 90 || free < 10) {
    grow(list, std::max<std::uint32_t>(occupied / 16, 10));
  } else if (percent < 70 && list.capacity > 50) {
    shrink(list);
  }
  return is_mapped(list) ? 1 : 0;
}

std::int32_t list_compact(ListFile& list) {
  if (!can_write(list) || list.live_count == 0) return 0;
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
  if (!moved) return 1;
  for (std::uint32_t slot = next; slot <= highest; ++slot) {
    index_forget(list, slot);
    if (slot < highest) std::memcpy(slot_at(list, slot), slot_at(list, highest), list.record_size);
  }
  for (std::uint32_t slot = next; slot <= highest; ++slot) write32(slot_at(list, slot), SLOT_FREED);
  // Tags only moved, so the counts stand; the first free slot is now next.
  list.take_from = next;
  return 1;
}

std::int32_t list_sort(ListFile& list, std::uint32_t field) {
  if (!can_write(list) || list.capacity <= 2 || !valid_field(list, field) || list.live_count == 0) {
    return 0;
  }
  list_compact(list);
  const std::uint32_t count = list.occupied_count;
  std::vector<std::string> keys(count);
  for (std::uint32_t slot = 0; slot < count; ++slot) keys[slot] = sort_key(list, slot, field);
  std::vector<std::uint32_t> order(count);
  std::iota(order.begin(), order.end(), 0u);
  // Stable, and swapping only on "greater": the order a bubble sort gives.
  std::stable_sort(order.begin(), order.end(), [&keys](std::uint32_t a, std::uint32_t b) {
    return std::strcoll(keys[a].c_str(), keys[b].c_str()) < 0;
  });
  std::uint8_t* spare = new (std::nothrow) std::uint8_t[list.record_size];
  if (spare == nullptr) return 0;
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
  return 1;
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
    auto [at, end] = index->slots_by_hash.equal_range(folded_hash(key.c_str(), kListTextBytes));
    for (; at != end; ++at) {
      if (static_cast<std::int32_t>(at->second) > found && matches(at->second)) {
        found = static_cast<std::int32_t>(at->second);
      }
    }
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
