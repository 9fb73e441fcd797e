// Helpers shared by the list-store tests: temporary folders and list building.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "catalog/list_file.h"

namespace list_test {

inline std::filesystem::path make_temp_folder() {
  char pattern[] = "/tmp/tessmira-list-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return {};
  return pattern;
}

inline std::vector<std::uint8_t> file_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void put_file_bytes(const std::filesystem::path& path,
                           const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

inline std::uint32_t u32_at(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  std::uint32_t value;
  std::memcpy(&value, bytes.data() + offset, 4);
  return value;
}

inline void set_u32_at(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value) {
  std::memcpy(bytes.data() + offset, &value, 4);
}

// Creates a list file with the given field types, as the store's callers do.
inline bool create_list(const std::filesystem::path& path,
                        std::initializer_list<std::uint32_t> types) {
  ListFile list;
  std::strcpy(list.path, path.c_str());
  list.field_count = static_cast<std::uint32_t>(types.size());
  if (!list_create(list)) return false;
  std::uint32_t field = 1;
  for (const std::uint32_t type : types) list_define_field(list, field++, type);
  list_lay_out(list);
  list_close(list);
  return true;
}

// A list file whose header claims capacity slots, the file holding exactly them.
inline bool create_list_with_capacity(const std::filesystem::path& path,
                                      std::initializer_list<std::uint32_t> types,
                                      std::uint32_t capacity) {
  if (!create_list(path, types)) return false;
  auto bytes = file_bytes(path);
  std::uint32_t record_size = 4;
  for (const std::uint32_t type : types) record_size += list_type_width(type);
  const std::uint32_t records_offset =
      kListHeaderBytes + 8 * static_cast<std::uint32_t>(types.size());
  set_u32_at(bytes, 1360, capacity);
  bytes.resize(records_offset + static_cast<std::size_t>(capacity) * record_size, 0);
  put_file_bytes(path, bytes);
  return true;
}

inline void open_for_writing(ListFile& list, const std::filesystem::path& path) {
  std::strcpy(list.path, path.c_str());
  list.writable = 1;
  list_map(list);
}

}  // namespace list_test
