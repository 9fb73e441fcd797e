#include "catalog/list_file.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <numeric>
#include <string>
#include <unordered_map>
#include <vector>

#include "catalog/list_slots.h"
#include "text/text.h"

namespace list_slots {

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
    index_erase(field, slot_hash(list, slot, f), slot);
  }
}

void index_note(ListFile& list, std::uint32_t slot) {
  if (list.index == nullptr || tag_of(list, slot) != SLOT_RECORD) return;
  for (std::uint32_t f = 1; f <= list.index->fields.size(); ++f) {
    FieldIndex& field = list.index->fields[f - 1];
    if (field.built) index_insert(field, slot_hash(list, slot, f), slot);
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
    index.live = list.live_count;
    index_grow(index);
    for (std::uint32_t slot = 0; slot < list.capacity; ++slot) {
      if (tag_of(list, slot) == SLOT_RECORD)
        index_insert(index, slot_hash(list, slot, field), slot);
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
  if (length > 0)
    list.base = map_handle(list.file_handle, static_cast<std::uint64_t>(length), true);
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
  // Slots in the bytes the file held beyond its slot area are read as they
  // are; those in the bytes just added are blank, so they are not read: that
  // spares a fault on each new page before its first write.
  const std::uint64_t held = static_cast<std::uint64_t>(length) - list.records_offset;
  const auto read_to = static_cast<std::uint32_t>(
      std::min<std::uint64_t>(capacity, (held + list.record_size - 1) / list.record_size));
  count_slots(list, old_capacity, std::max(old_capacity, read_to), +1);
  for (std::uint32_t slot = old_capacity; slot < read_to; ++slot) {
    index_note(list, slot);
    if (takeable(tag_of(list, slot))) list.take_from = std::min(list.take_from, slot);
  }
  if (read_to < capacity)
    list.take_from = std::min(list.take_from, std::max(old_capacity, read_to));
  prepare_pages(list.base + length, added);
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

}  // namespace list_slots

using namespace list_slots;

std::uint32_t list_type_width(std::uint32_t type) {
  static const std::uint32_t widths[16] = {1,  2,  4, 8,  16, 64,  64,   64,
                                           64, 64, 4, 16, 64, 300, 1000, 5000};
  return type < 16 ? widths[type] : 64;
}

std::uint32_t list_field_type(const ListFile& list, std::uint32_t field) {
  return is_mapped(list) && valid_field(list, field) ? type_of(list, field) : UINT32_MAX;
}

std::uint8_t* list_map(ListFile& list) {
  const bool writable = list.writable;
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

bool list_open_stream(ListFile& list) {
  const bool writable = list.writable;
  list_close(list);
  OpenFailure why = OpenFailure::none;
  list.file_handle = open_locked(list.path, writable, &why);
  if (list.file_handle < 0) {
    refuse(list, why);
    return false;
  }
  list.writable = writable;
  const std::int64_t length = handle_length(list.file_handle);
  std::vector<std::uint8_t> header(kListHeaderBytes);
  if (length < kListHeaderBytes || !read_at(list.file_handle, 0, header.data(), header.size())) {
    refuse(list, OpenFailure::not_list);
    return false;
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
    return false;
  }
  take_layout(list, layout);
  list.stream_position = static_cast<std::uint64_t>(length);
  list.failure = OpenFailure::none;
  return true;
}

void list_close(ListFile& list) {
  drop_index(list);
  unmap(list.base, list.mapped_length);
  close_handle(list.file_handle);
  list.base = nullptr;
  list.mapped_length = 0;
  list.file_handle = -1;
  list.writable = false;
}

bool list_create(ListFile& list) {
  list_close(list);
  const std::uint64_t records_offset = kListHeaderBytes + 8ull * list.field_count;
  if (list.field_count == 0 || records_offset > UINT32_MAX) {
    list.failure = OpenFailure::failed;
    return false;
  }
  OpenFailure why = OpenFailure::none;
  list.file_handle = create_locked(list.path, &why);
  if (list.file_handle < 0) {
    refuse(list, why);
    return false;
  }
  list.writable = true;
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
  return true;
}

bool list_define_field(ListFile& list, std::uint32_t field, std::uint32_t type) {
  // A field past the table would write into the slot area.
  if (!in_stream(list) || !valid_field(list, field)) return false;
  const std::uint32_t descriptor[2] = {type, 0};
  write_at(list.file_handle, kListHeaderBytes + 8ull * (field - 1), descriptor, sizeof descriptor);
  return true;
}

bool list_lay_out(ListFile& list) {
  if (!in_stream(list)) return false;
  std::vector<std::uint32_t> table(2ull * list.field_count);
  read_at(list.file_handle, kListHeaderBytes, table.data(), table.size() * 4);
  std::uint64_t record_size = 4;
  for (std::uint32_t k = 0; k < list.field_count; ++k) {
    table[2ull * k + 1] = static_cast<std::uint32_t>(list.records_offset + record_size);
    record_size += list_type_width(table[2ull * k]);
  }
  if (record_size > UINT32_MAX) return false;
  write_at(list.file_handle, kListHeaderBytes, table.data(), table.size() * 4);
  list.record_size = static_cast<std::uint32_t>(record_size);
  list.stream_position = list.records_offset;
  return list_append_blank_slots(list, kLaidOutSlots);
}

bool list_append_blank_slots(ListFile& list, std::uint32_t count) {
  if (!in_stream(list)) return false;
  static const std::uint8_t zeros[65536] = {};
  std::uint64_t left = static_cast<std::uint64_t>(count) * list.record_size;
  while (left > 0) {
    const std::uint64_t piece = std::min<std::uint64_t>(left, sizeof zeros);
    write_at(list.file_handle, list.stream_position, zeros, piece);
    list.stream_position += piece;
    left -= piece;
  }
  return true;
}
