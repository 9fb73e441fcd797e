// Files and folders for the core. Paths are zero-terminated byte texts.
#pragma once

#include <cstdint>

// Reads up to size bytes from the start of a regular file. Returns the count
// read (short for a short file), or -1 when the file cannot be opened or read.
std::int64_t file_read_start(const char* path, void* buffer, std::uint64_t size);
// Replaces the file's content with data: writes a temporary file beside it,
// flushes it and renames it over path. Returns 0, or -1 with path untouched.
int file_replace(const char* path, const void* data, std::uint64_t size);
// 1 when path is a regular file (or a link to one) that opens for reading, else 0.
int file_readable(const char* path);
// Creates every missing folder of path. Returns 0 when the folder exists afterwards.
int make_folders(const char* path);
// 1 when path lies on a removable medium (a removable block device, or a mount
// under /media or /run/media), else 0.
int volume_is_removable(const char* path);
