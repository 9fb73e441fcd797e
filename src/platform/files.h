// Files and folders for the core. Paths are zero-terminated byte texts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// An entry of a folder listing.
struct FolderEntry {
  std::string name;
  std::uint32_t kind;  // kFolderEntryFolder or kFolderEntryFile
};
// A real folder (never a link to one), and a regular file or a link to one.
constexpr std::uint32_t kFolderEntryFolder = 1;
constexpr std::uint32_t kFolderEntryFile = 2;

// Lists the folder's folders and regular files (no ".", "..", devices, FIFOs,
// sockets or dangling links), in the order the file system gives them.
// Returns 0, or -1 when it cannot be listed or lies on a pseudo file system
// (proc, sysfs, devtmpfs and the like).
int read_folder(const char* folder, std::vector<FolderEntry>* entries);
// The file's size in bytes, or -1 when it cannot be examined.
std::int64_t stat_file_size(const char* path);
