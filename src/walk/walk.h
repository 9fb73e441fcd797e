// The tree walk below the viewer's list and the catalog: a folder's entries
// in name order, each file handed to the walk's visit, each subfolder entered
// when the walk takes it. Every walk carries its own state.
#pragma once

#include <cstdint>

#include "ports/files.h"

// A walk stops at this count, and enters no folder once past kFolderLimit
// (the view list's bounds: 99,990 entries, no folder met above 99,980).
constexpr std::uint32_t kListLimit = 99990;
constexpr std::uint32_t kFolderLimit = 99980;

struct Walk {
  // Visits one file: its folder, bare name and the count so far; returns
  // the new count (kListLimit ends the walk).
  std::uint32_t (*file)(void* context, const char* folder, const char* name,
                        std::uint32_t count) = nullptr;
  // Asked first of every subfolder, entered or not: whether it may be
  // entered. Null: every one may.
  bool (*admit)(void* context, const char* name) = nullptr;
  void* context = nullptr;
  bool deep = false;         // subfolders are entered (when admitted)
  std::uint64_t device = 0;  // while not 0, the walk stays on this file system
  // The listing of the folder whose file is visited, for the file's facts.
  FolderListing* listing = nullptr;
};

// Walks folder (no trailing separator; "" is the root) from count on.
// Returns the new count.
std::uint32_t walk_folder(Walk& walk, std::uint32_t count, const char* folder);
// One entry (kind from the listing, bare name) of folder. Returns the new count.
std::uint32_t walk_entry(Walk& walk, std::uint32_t kind, const char* name, std::uint32_t count,
                         const char* folder);
// Whether a subfolder is one the walks leave to chance: "." or ".." never
// (false), "low" in any letter case only on a draw (1..50) above 40.
bool low_folder(const char* name);
bool dot_folder(const char* name);
// The file's size (low 32 bits), 0 when it cannot be examined.
std::uint32_t file_size(const char* path);
