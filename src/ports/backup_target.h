// The backup's side of the disk: folders below the backup root, each opened
// from the root down and never through a symbolic link; copies that get their
// name only once they are whole; the moves of the generations.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ports/files.h"

// An open folder below the backup root; -1 for none.
using TargetFolder = std::int64_t;

// Opens the backup root, creating it when create is 1. A root that is a link
// the user made is resolved here, once. The folder or -1 with *error set
// (kErrorMissing for a missing root when create is 0).
TargetFolder target_open_root(const char* root, int create, std::int32_t* error);
// Opens folder name inside parent, creating it when create is 1; a link or a
// file in its place is refused, and so is a name that is not one plain name
// (empty, ".", ".." or holding a separator: kErrorNotName). The folder, or -1
// with *error set.
TargetFolder target_open_folder(TargetFolder parent, const char* name, int create,
                                std::int32_t* error);
void target_close(TargetFolder folder);
// Which folder an open folder is.
bool target_folder_identity(TargetFolder folder, FolderIdentity* identity);
// The identities of folder and of every folder above it as the file system
// reaches them (each one's parent, whatever path the folder was opened by),
// up to the top of the file system's tree. False when a parent cannot be
// opened.
bool target_folder_chain(TargetFolder folder, std::vector<FolderIdentity>* chain);

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
constexpr std::int32_t kCopyChanged = 4;       // the source changed while it was read
// A copy written whole under a temporary name that has not taken its own
// name yet: what target_name_staged needs to give it.
struct StagedCopy {
  TargetFolder within = -1;  // the folder holding the temporary
  std::string temporary;
  TargetFolder folder = -1;  // the folder it is named in
  std::string name;
  std::int64_t file = -1;  // the temporary held open, where it is flushed file by file
};
// Where a copy is written before it takes its name, and what is asked of it
// first. A temporary is made in scratch, a folder of the program's own, when
// it lies on the destination's file system; else beside the destination,
// its name told to record first (when given) so that a later run can remove
// what a stopped one left.
struct CopyPlace {
  TargetFolder scratch = -1;
  void (*record)(void* context, const char* name) = nullptr;
  // Asked once the copy's bytes are written, before it takes its name:
  // false when the source changed meanwhile, and the copy is then dropped
  // (kCopyChanged). Null: not asked.
  bool (*held_still)(void* context) = nullptr;
  void* context = nullptr;
  // Set: the whole copy is left under its temporary name, told here, for
  // the caller to make durable and name with the others of its batch.
  StagedCopy* staged = nullptr;
};
// Copies the regular file source (its contents, permissions and modification
// time) to name inside folder: written unnamed where the file system allows,
// else under a temporary name (see CopyPlace), and only then named. A link at
// name is replaced by the rename, never written through.
std::int32_t target_copy_file(const char* source, TargetFolder folder, const char* name,
                              const CopyPlace& place, CopiedFile* copied, std::int32_t* error);
// What is at name inside folder, never following a link; unreadable with
// *error set when that cannot be told.
enum class TargetEntry { none, file, folder, link, other, unreadable };
TargetEntry target_entry(TargetFolder folder, const char* name, std::int32_t* error);
// Opens the regular file name inside folder for reading, never through a
// link (kErrorLink); -1 with *error set.
FileReader target_reader_open(TargetFolder folder, const char* name, std::int32_t* error);
// Makes name inside folder a symbolic link with the target text of the link
// at source (never followed) and its write time: made under a temporary name
// (see CopyPlace), then renamed over name (a file or a link, never a folder).
// copied gets the text's length and the time. kCopyNotSupported where links
// cannot be made.
std::int32_t target_copy_link(const char* source, TargetFolder folder, const char* name,
                              const CopyPlace& place, CopiedFile* copied, std::int32_t* error);
// The target text of the link name inside folder; false with *error set.
bool target_read_link(TargetFolder folder, const char* name, std::string* target,
                      std::int32_t* error);
// Makes the bytes of every copy in staged and the names of every copy in
// named (given by target_name_staged) durable: on the disk, a power cut
// past this keeps them. One flush for each file system they lie on where
// the platform has one, else one for each file and each folder. False with
// *error set when the disk cannot say so.
bool target_flush(std::vector<StagedCopy>& staged, const std::vector<StagedCopy>& named,
                  std::int32_t* error);
// Gives a staged copy its name, replacing a file or a link there (never a
// folder); false with *error set, the temporary removed.
bool target_name_staged(StagedCopy& staged, std::int32_t* error);
// Removes a staged copy's temporary: it is not to be named.
void target_drop_staged(StagedCopy& staged);
// Removes every file and link in scratch, the program's own folder of
// temporaries: what stopped runs left there.
void target_clear_scratch(TargetFolder scratch);

// The names inside folder, "." and ".." left out; none when it cannot be
// listed.
std::vector<std::string> target_names(TargetFolder folder);
// Makes the folder name inside parent; true when it is there, false with
// *error set (kErrorLink or kErrorNotFolder for something else in its
// place).
bool target_make_folder(TargetFolder parent, const char* name, std::int32_t* error);
// Removes the file, link or empty folder name inside folder; true when
// nothing is left there, false with *error set.
bool target_remove(TargetFolder folder, const char* name, std::int32_t* error);
// Moves name inside from to the same name inside to, replacing a file or a
// link there (never a folder); false with *error set, kErrorOtherDevice when
// the two lie on different file systems.
bool target_rename(TargetFolder from, const char* name, TargetFolder to, std::int32_t* error);
// Copies the regular file name inside from to the same name inside to, as
// target_copy_file does; a link is copied as the link it is, never followed.
std::int32_t target_copy_between(TargetFolder from, const char* name, TargetFolder to,
                                 const CopyPlace& place, std::int32_t* error);
// Whether links are kept as links here: where none is ever made, a link in
// a generation is none of the program's and is left alone.
bool target_makes_links();
