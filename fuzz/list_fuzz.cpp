// libFuzzer target: arbitrary bytes mapped as a list file, then the reading
// and writing operations run on whatever opened. Nothing may read or write
// outside the mapping, whatever the file holds.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "catalog/list_file.h"

namespace {

std::string fuzz_path() {
  return "/tmp/tessmira-fuzz-" + std::to_string(getpid()) + ".lbf";
}

void exercise(ListFile& list) {
  const std::uint32_t fields = list.field_count < 4 ? list.field_count : 4;
  for (std::uint32_t field = 1; field <= fields; ++field) {
    list_get_field(list, 0, field);
    list_get_field(list, list.capacity ? list.capacity - 1 : 0, field);
    list_set_search_key(list, "a");
    list_find(list, field);
    list_find_exact(list, field);
  }
  for (int i = 0; i < 3; ++i) {
    const std::int32_t slot = list_add_record(list);
    if (slot < 0) break;
    list_set_text(list, "Fuzzed/Text");
    list.number_value = -7;
    for (std::uint32_t field = 1; field <= fields; ++field) {
      list_put_field(list, static_cast<std::uint32_t>(slot), field);
    }
  }
  if (fields > 0) {
    list_sort(list, 1);
    list_set_search_key(list, "fuzzed/text");
    list_find(list, 1);
  }
  list_compact(list);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzz_path();
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);

  ListFile list;
  std::strncpy(list.path, path.c_str(), sizeof list.path - 1);
  list.writable = true;
  if (list_map(list) != nullptr) exercise(list);
  list_close(list);
  list.writable = false;
  if (list_open_stream(list)) list_close(list);
  if (list_map(list) != nullptr) exercise(list);  // read-only: changes refused
  list_close(list);
  unlink(path.c_str());
  return 0;
}
