// The backup's side of the disk: folders below the backup root, each opened
// from the root down and never through a symbolic link; copies that get their
// name only once they are whole; the moves of the generations.
#pragma once

#include <cstdint>
#include <string>

#include "ports/files.h"

// An open folder below the backup root; -1 for none.
using TargetFolder = std::int64_t;

// Opens the backup root, creating it when create is 1. A root that is a link
// the user made is resolved here, once. The folder or -1 with *error set
// (kErrorMissing for a missing root when create is 0).
TargetFolder target_open_root(const char* root, int create, std::int32_t* error);
// Opens folder name inside parent, creating it when create is 1; a link or a
// file in its place is refused. The folder, or -1 with *error set.
TargetFolder target_open_folder(TargetFolder parent, const char* name, int create,
                                std::int32_t* error);
void target_close(TargetFolder folder);

// The source's facts when it was copied: what a later run compares.
struct CopiedFile {
  std::uint64_t size;
  std::uint64_t write_time;  // 100-ns units since 1601-01-01 UTC
};
// Where a copy failed.
constexpr std::int32_t kCopyDone = 0;
constexpr std::int32_t kCopyReadFailed = 1;    // the source
constexpr std::int32_t kCopyWriteFailed = 2;   // the copy
constexpr std::int32_t kCopyNotSupported = 3;  // no links can be made here
// Copies the regular file source (its contents, permissions and modification
// time) to name inside folder: written unnamed, or under a temporary name
// where the file system has no unnamed files, and only then renamed over
// name. A link at name is replaced by the rename, never written through.
std::int32_t target_copy_file(const char* source, TargetFolder folder, const char* name,
                              CopiedFile* copied, std::int32_t* error);
// What is at name inside folder, never following a link.
enum class TargetEntry { none, file, folder, link, other };
TargetEntry target_entry(TargetFolder folder, const char* name);
// Whether the file at path and the regular file name inside folder (never
// reached through a link) hold the same bytes: true with the answer in
// *same, false with *error set when either cannot be read.
bool target_same_bytes(const char* path, TargetFolder folder, const char* name, bool* same,
                       std::int32_t* error);
// Makes name inside folder a symbolic link with the target text of the link
// at source (never followed) and its write time: made under a temporary name,
// then renamed over name (a file or a link, never a folder). copied gets the
// text's length and the time. kCopyNotSupported where links cannot be made.
std::int32_t target_copy_link(const char* source, TargetFolder folder, const char* name,
                              CopiedFile* copied, std::int32_t* error);
// The target text of the link name inside folder; false with *error set.
bool target_read_link(TargetFolder folder, const char* name, std::string* target,
                      std::int32_t* error);
// Removes the temporary copies an interrupted run left in folder, except
// those whose names keep(context, name) is true for.
void target_remove_leftovers(TargetFolder folder, bool (*keep)(void* context, const char* name),
                             void* context);

// Told of each entry a move could not handle: its path below the root as
// "F1/Photos/a.jpg" and the error.
using MoveProblem = void (*)(void* context, const char* path, std::int32_t error);
// Moves every entry of generation folder from into generation folder to
// (both inside root, names such as "F1"), creating to when needed: folders
// merge, entries of the same relative path are replaced. A link is moved or
// replaced as the entry it is, never followed; leftover temporary copies
// stay behind.
// True when everything moved, else false.
bool target_move_generation(TargetFolder root, const char* from, const char* to,
                            MoveProblem problem, void* context);
