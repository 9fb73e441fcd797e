// List files: a header, a field descriptor table and an array of fixed-size
// slots, used in place through a shared memory mapping. Field values pass
// through the record's exchange cells (number_value, text_value, search_key).
#pragma once

#include <cstdint>
#include <string_view>

#include "state/list_record.h"

// Field type codes; below 10 numbers, 10 and above texts.
enum ListFieldType : std::uint32_t {
  NUM1 = 0,
  NUM2 = 1,
  NUM4 = 2,
  NUM8 = 3,
  NUM16 = 4,
  TEXT4 = 10,
  TEXT16 = 11,
  TEXT64 = 12,
  TEXT300 = 13,
  TEXT1000 = 14,
  TEXT5000 = 15,
};

// Slot tags; a tag below 10 is free.
constexpr std::uint32_t SLOT_BLANK = 0;
constexpr std::uint32_t SLOT_FREED = 5;
constexpr std::uint32_t SLOT_RECORD = 10;

constexpr std::uint32_t kListHeaderBytes = 1444;

// Width in bytes of a field of the given type.
std::uint32_t list_type_width(std::uint32_t type);

// Maps path (read-only unless writable), checking that it is a sound list
// file. Returns the view, or null with the list closed and failure set.
std::uint8_t* list_map(ListFile& list);
// The type code of a field (from 1) of a mapped list, or UINT32_MAX.
std::uint32_t list_field_type(const ListFile& list, std::uint32_t field);
// Opens path for positioned reads and writes, checked like list_map.
// True, or false with the list closed and failure set.
bool list_open_stream(ListFile& list);
// Releases view, file and lock; clears writable.
void list_close(ListFile& list);
// Creates or replaces path with a header for field_count fields, capacity 10
// and 5,000 zero bytes; leaves it open for stream access. True, or false.
bool list_create(ListFile& list);
// Writes descriptor field (from 1) with type. True, or false when closed or field is 0.
bool list_define_field(ListFile& list, std::uint32_t field, std::uint32_t type);
// Fills the descriptor offsets and appends 15 blank slots. True, or false when closed.
bool list_lay_out(ListFile& list);
// Writes count blank slots at the stream position. True, or false when closed.
bool list_append_blank_slots(ListFile& list, std::uint32_t count);
// Writes a slot's tag. True, or false when not mapped for writing.
bool list_set_tag(ListFile& list, std::uint32_t slot, std::uint32_t tag);
// Number of slots tagged SLOT_RECORD (live_count).
std::uint32_t list_count_records(ListFile& list);
// Takes the first slot tagged 0 or 5 after rebalancing. Slot index, or -1.
std::int32_t list_add_record(ListFile& list);
// Grows or shrinks the slot area as the fill level asks. True when the list is
// open afterwards, else false.
bool list_rebalance(ListFile& list);
// Moves every occupied slot down, keeping their order. True, or false when nothing done.
bool list_compact(ListFile& list);
// Compacts, then orders the records stably by field under the locale's
// collation (numbers as decimal text). True, or false when nothing done.
bool list_sort(ListFile& list, std::uint32_t field);
// Highest slot whose field equals search_key (texts ignoring ASCII case,
// numbers by value). Slot index, or -1.
std::int32_t list_find(ListFile& list, std::uint32_t field);
// Highest slot whose text field equals search_key byte for byte. Slot, or -1.
std::int32_t list_find_exact(ListFile& list, std::uint32_t field);
// Whether the slot holds a record (tag SLOT_RECORD) of a mapped list.
bool list_holds_record(const ListFile& list, std::uint32_t slot);
// A text field's stored text, in place (valid until the list changes); ""
// when not mapped or not a text field.
std::string_view list_text_of(const ListFile& list, std::uint32_t slot, std::uint32_t field);
// Fetches a field into number_value or text_value. Type code, or -1.
std::int32_t list_get_field(ListFile& list, std::uint32_t slot, std::uint32_t field);
// Stores number_value or text_value into a field; empties text_value. Type code, or -1.
std::int32_t list_put_field(ListFile& list, std::uint32_t slot, std::uint32_t field);
// Frees, emptied, every slot whose tag is none of the three a list holds and
// every record whose text field is no terminated, non-empty text. Returns how
// many of them claimed to hold a record (tag above 9).
std::uint32_t list_drop_damaged(ListFile& list, std::uint32_t text_field);

// Puts text into text_value / search_key, cut to kListTextBytes - 1 characters.
void list_set_text(ListFile& list, const char* text);
void list_set_search_key(ListFile& list, const char* text);
