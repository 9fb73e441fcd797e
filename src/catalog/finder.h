// Finding files in the catalog: its index "TesmiCat.idx" beside it, and the
// patterns "--find=" and the "Find File" dialog answer.
//
// The index holds the paths of the catalog's records not marked gone, split
// into folder runs and names, each also ASCII-folded, so that a search reads
// a few tens of bytes a file instead of the catalog's 1,040. It is derived
// from the catalog alone and carries the stamp of the catalog it was made
// from; one whose stamp, layout or checksum does not agree is made anew.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "state/app_state.h"

inline constexpr char kCatalogIndexName[] = "TesmiCat.idx";

// An index open for answering: mapped from its file, or made in memory.
struct FindIndex {
  std::vector<std::uint8_t> made;  // the bytes, when made here
  std::uint8_t* mapped = nullptr;  // the file's view, when read
  std::uint64_t mapped_length = 0;
  std::int32_t handle = -1;
  const std::uint8_t* bytes = nullptr;
  std::uint64_t length = 0;
  bool from_before = false;  // the catalog is being written: answers from before it
};

// Whether a pattern matches a path: without '*' or '?', when the path
// contains it; with them, when it matches the whole path as a shell glob
// ('*' any run of characters, separators too; '?' any one, of however many
// bytes in UTF-8). ASCII letter case is ignored. An empty pattern matches
// nothing.
bool pattern_matches(const char* pattern, const char* path);

// Writes the index of the open catalog (mapped) beside it, stamped with the
// catalog as it stands now; clears catalog.answers_changed. True when
// written.
bool catalog_index_write(Catalog& catalog, const DataFolder& data);
// With the catalog open: writes the index unless the one there is sound and
// of this catalog.
void catalog_index_refresh(Catalog& catalog, const DataFolder& data);

// Opens the index for answering, reading only: the file when it is sound and
// of the catalog as it stands, else one made from the catalog (and written,
// where the data folder allows). When the catalog is being written by
// another process, a sound index of it is used as it is (from_before). False
// with *problem set when there is nothing to answer from.
bool find_index_open(const DataFolder& data, FindIndex* index, std::string* problem);
void find_index_close(FindIndex* index);
// The paths matching pattern, in path order (byte order), at most limit of
// them (the first limit in that order).
std::vector<std::string> find_paths(const FindIndex& index, const char* pattern,
                                    std::uint32_t limit);
