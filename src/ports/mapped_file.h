// Locked files and memory mappings for the list store. A handle is a plain
// integer, -1 for none.
#pragma once

#include <cstdint>

// Why an open failed.
enum class OpenFailure : std::int32_t {
  none = 0,
  missing,   // no such file, or not a regular file
  held,      // another holder locked it (a writer, or readers when we write)
  failed,    // any other system error
  not_list,  // opened, but its content is not acceptable (set by the caller)
};

// Opens an existing regular file for reading (shared lock) or reading and
// writing (exclusive lock), without waiting for a lock. Returns the handle or
// -1 with *why set.
std::int32_t open_locked(const char* path, bool writable, OpenFailure* why);
// Opens or creates path for reading and writing (never through a symbolic
// link), takes the exclusive lock and only then cuts the file to zero bytes. Returns the handle or
// -1 with *why set.
std::int32_t create_locked(const char* path, OpenFailure* why);
// Releases the lock and closes the handle.
void close_handle(std::int32_t handle);
// The file's length in bytes, or -1.
std::int64_t handle_length(std::int32_t handle);
// Positioned read and write of exactly size bytes; true when done.
bool read_at(std::int32_t handle, std::uint64_t offset, void* data, std::uint64_t size);
bool write_at(std::int32_t handle, std::uint64_t offset, const void* data, std::uint64_t size);
// Lengthens the file to length with zero bytes whose disk space is reserved
// now, so later writes through a mapping cannot fail. True when done.
bool extend_to(std::int32_t handle, std::uint64_t length);
// Cuts the file to length bytes. True when done.
bool cut_to(std::int32_t handle, std::uint64_t length);
// Maps the first length bytes with shared writes (read-only unless writable).
// Returns the address or null.
std::uint8_t* map_handle(std::int32_t handle, std::uint64_t length, bool writable);
void unmap(std::uint8_t* base, std::uint64_t length);
// Readies the pages of a writable view that are about to be written, in one
// call rather than a fault each; a hint, nothing when the system cannot.
void prepare_pages(std::uint8_t* at, std::uint64_t length);
