// The in-memory record of one list file, open or closed. The state holds the
// catalog's; the operations on it are the list store's (catalog/list_file.h).
#pragma once

#include <cstdint>

#include "ports/mapped_file.h"
#include "ports/paths.h"

// Exchange buffers; a longer text is cut to kListTextBytes - 1 characters.
constexpr std::uint32_t kListTextBytes = 1024;

struct ListIndex;  // the store's lookup index, private to it

// One list, open or closed. Zero/default-initialised it is closed.
struct ListFile {
  char path[kPathBytes] = {};
  std::uint8_t* base = nullptr;     // the view while mapped
  std::int32_t file_handle = -1;    // the open file, mapped or in stream access
  std::uint64_t mapped_length = 0;  // bytes of the view
  std::uint32_t field_count = 0;
  std::uint32_t capacity = 0;
  std::uint32_t live_count = 0;  // slots tagged SLOT_RECORD
  std::uint32_t descriptor_offset = 0;
  std::uint32_t records_offset = 0;
  std::uint32_t record_size = 0;
  std::int32_t number_value = 0;
  char text_value[kListTextBytes] = {};
  char search_key[kListTextBytes] = {};
  bool writable = false;  // set before an open that may write; every close clears it

  OpenFailure failure = OpenFailure::none;  // why the last open failed
  std::uint32_t occupied_count = 0;         // slots tagged above 9
  std::uint32_t take_from = 0;              // no slot below it is tagged 0 or 5
  std::uint64_t stream_position = 0;        // where stream appends write
  // Measurement switch for the benchmark: 0 answers finds by linear passes.
  std::int32_t use_index = 1;
  ListIndex* index = nullptr;
};
