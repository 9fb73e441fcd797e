// Helpers shared by the list-store tests: header words and list building.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "catalog/list_file.h"
#include "support.h"

namespace list_test {

using namespace test_support;

inline std::uint32_t u32_at(const Bytes& bytes, std::size_t offset) {
  std::uint32_t value;
  std::memcpy(&value, bytes.data() + offset, 4);
  return value;
}

inline void set_u32_at(Bytes& bytes, std::size_t offset, std::uint32_t value) {
  std::memcpy(bytes.data() + offset, &value, 4);
}

// Creates a list file with the given field types, as the store's callers do;
// with a capacity, the header claims that many slots and the file holds them.
inline bool create_list(const fs::path& path, std::initializer_list<std::uint32_t> types,
                        std::uint32_t capacity = 0) {
  ListFile list;
  std::strcpy(list.path, path.c_str());
  list.field_count = static_cast<std::uint32_t>(types.size());
  if (!list_create(list)) return false;
  std::uint32_t field = 1;
  for (const std::uint32_t type : types) list_define_field(list, field++, type);
  list_lay_out(list);
  const std::size_t slots_at = list.records_offset;
  const std::size_t record_size = list.record_size;
  list_close(list);
  if (capacity == 0) return true;
  auto bytes = read_bytes(path);
  set_u32_at(bytes, 1360, capacity);
  bytes.resize(slots_at + capacity * record_size, 0);
  write_bytes(path, bytes);
  return true;
}

inline void open_for_writing(ListFile& list, const fs::path& path) {
  std::strcpy(list.path, path.c_str());
  list.writable = 1;
  list_map(list);
}

}  // namespace list_test
