// What the list store's files share: the index's record, the header's
// offsets, the slot and field accessors, and the bookkeeping every change of
// a tag or a field goes through (list_file.cpp); only the list store
// includes it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "catalog/list_file.h"

// Finds by text are answered from an index per text field, built on the
// first find and kept exact by every change of field bytes or tags. It maps a
// hash of the ASCII-folded text of every record (free slots never answer a
// find) to the record's slot; a find checks the text itself. An open-address
// table: one array, probed in a row from the hash, so that a lookup in a
// catalog of a million records costs a cache miss or two.
struct HashEntry {
  std::uint64_t hash;
  std::uint32_t slot;  // or kEmptyEntry, kErasedEntry
};
inline constexpr std::uint32_t kEmptyEntry = UINT32_MAX;
inline constexpr std::uint32_t kErasedEntry = UINT32_MAX - 1;
struct FieldIndex {
  bool built = false;
  std::vector<HashEntry> table;  // a power of two long, at most half used
  std::size_t used = 0;          // entries not empty, erased ones too
  std::size_t live = 0;
};

inline void index_insert(FieldIndex& index, std::uint64_t hash, std::uint32_t slot);

inline void index_grow(FieldIndex& index) {
  std::size_t size = 16;
  while (size < 4 * (index.live + 1)) size *= 2;
  std::vector<HashEntry> old = std::move(index.table);
  index.table.assign(size, HashEntry{0, kEmptyEntry});
  index.used = 0;
  index.live = 0;
  for (const HashEntry& entry : old) {
    if (entry.slot < kErasedEntry) index_insert(index, entry.hash, entry.slot);
  }
}

inline void index_insert(FieldIndex& index, std::uint64_t hash, std::uint32_t slot) {
  if (2 * (index.used + 1) > index.table.size()) index_grow(index);
  const std::size_t mask = index.table.size() - 1;
  std::size_t at = hash & mask;
  // An erased entry is taken again: a record's slot that is noted, forgotten
  // and noted anew as its text is written keeps reusing one entry.
  while (index.table[at].slot < kErasedEntry) at = (at + 1) & mask;
  if (index.table[at].slot == kEmptyEntry) ++index.used;
  index.table[at] = HashEntry{hash, slot};
  ++index.live;
}

// Calls visit(entry) for every live entry of hash until it returns true.
template <typename Visit>
void index_probe(FieldIndex& index, std::uint64_t hash, Visit visit) {
  if (index.table.empty()) return;
  const std::size_t mask = index.table.size() - 1;
  for (std::size_t at = hash & mask; index.table[at].slot != kEmptyEntry; at = (at + 1) & mask) {
    HashEntry& entry = index.table[at];
    if (entry.hash == hash && entry.slot < kErasedEntry && visit(entry)) return;
  }
}

inline void index_erase(FieldIndex& index, std::uint64_t hash, std::uint32_t slot) {
  index_probe(index, hash, [&](HashEntry& entry) {
    if (entry.slot != slot) return false;
    entry.slot = kErasedEntry;
    --index.live;
    return true;
  });
}
struct ListIndex {
  std::vector<FieldIndex> fields;  // by field number - 1
};

namespace list_slots {

inline constexpr std::uint32_t kVersionOffset = 4;
inline constexpr std::uint32_t kFieldCountOffset = 1356;
inline constexpr std::uint32_t kCapacityOffset = 1360;
inline constexpr std::uint32_t kNewCapacity = 10;
inline constexpr std::uint32_t kNewSlack = 5000;
inline constexpr std::uint32_t kLaidOutSlots = 15;

inline std::uint32_t read32(const std::uint8_t* at) {
  std::uint32_t value;
  std::memcpy(&value, at, 4);
  return value;
}
inline void write32(std::uint8_t* at, std::uint32_t value) {
  std::memcpy(at, &value, 4);
}

inline bool is_mapped(const ListFile& list) {
  return list.base != nullptr;
}
inline bool in_stream(const ListFile& list) {
  return list.base == nullptr && list.file_handle >= 0;
}
inline bool can_write(const ListFile& list) {
  return list.base != nullptr && list.writable;
}
inline bool is_text_type(std::uint32_t type) {
  return type >= 10;
}
inline bool takeable(std::uint32_t tag) {
  return tag == SLOT_BLANK || tag == SLOT_FREED;
}

inline std::uint8_t* slot_at(const ListFile& list, std::uint32_t slot) {
  return list.base + list.records_offset + static_cast<std::uint64_t>(slot) * list.record_size;
}
inline std::uint32_t tag_of(const ListFile& list, std::uint32_t slot) {
  return read32(slot_at(list, slot));
}
inline std::uint32_t type_of(const ListFile& list, std::uint32_t field) {
  return read32(list.base + kListHeaderBytes + 8ull * (field - 1));
}
inline std::uint8_t* field_at(const ListFile& list, std::uint32_t slot, std::uint32_t field) {
  const std::uint32_t offset = read32(list.base + kListHeaderBytes + 8ull * (field - 1) + 4);
  return list.base + offset + static_cast<std::uint64_t>(slot) * list.record_size;
}
inline bool valid_field(const ListFile& list, std::uint32_t field) {
  return field != 0 && field <= list.field_count;
}

// Characters a text field can hand over: width - 1, and never more than the
// exchange buffer holds.
inline std::uint32_t text_limit(std::uint32_t type) {
  return std::min(list_type_width(type) - 1, kListTextBytes - 1);
}

inline std::string stored_text(const ListFile& list, std::uint32_t slot, std::uint32_t field) {
  const auto* at = reinterpret_cast<const char*>(field_at(list, slot, field));
  const std::uint32_t limit = text_limit(type_of(list, field));
  const void* end = std::memchr(at, '\0', limit);
  return std::string(at, end ? static_cast<const char*>(end) - at : limit);
}

inline char fold_char(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

inline std::string folded(std::string text) {
  for (char& c : text) c = fold_char(c);
  return text;
}

// --- kept in list_file.cpp ---------------------------------------------------

// The live and occupied counts for a tag coming (+1) or going (-1).
void count_tag(ListFile& list, std::uint32_t tag, int sign);
// Writes a slot's tag, keeping the counts, the index and the take hint.
void write_tag(ListFile& list, std::uint32_t slot, std::uint32_t tag);
// The index forgets the slot's text, or notes it.
void index_forget(ListFile& list, std::uint32_t slot);
void index_note(ListFile& list, std::uint32_t slot);
// The index of a text field, built on first use; null without memory.
FieldIndex* index_for(ListFile& list, std::uint32_t field);
// Grows the slot area by slots, or shrinks it by ten after compacting.
void grow(ListFile& list, std::uint32_t slots);
void shrink(ListFile& list);
// A number field's value, and the text a sort orders a field by.
std::int32_t stored_number(const ListFile& list, std::uint32_t slot, std::uint32_t field);
std::string sort_key(const ListFile& list, std::uint32_t slot, std::uint32_t field);
// The FNV-1a hash of a field's folded text, as the index keeps it.
std::uint64_t folded_hash(const char* text, std::uint32_t limit);

}  // namespace list_slots
