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

// Which folder a listing read: its device and inode numbers.
struct FolderIdentity {
  std::uint64_t device;
  std::uint64_t inode;
};

// Lists the folder's folders and regular files (no ".", "..", devices, FIFOs,
// sockets or dangling links), in the order the file system gives them.
// Returns 0, or -1 when it cannot be listed or lies on a pseudo file system
// (proc, sysfs, devtmpfs and the like).
int read_folder(const char* folder, std::vector<FolderEntry>* entries, FolderIdentity* identity);
// The identity of an existing folder; 0, or -1 when it is no folder.
int folder_identity(const char* folder, FolderIdentity* identity);
// Creates one folder; errors (it exists, no parent) are ignored.
void make_folder(const char* path);
// Last-write time of a regular file, in 100-ns units since 1601-01-01 UTC;
// 0, or -1 when it cannot be read.
int file_write_time(const char* path, std::uint64_t* time);
// The current time in the same units.
std::uint64_t system_time_now();
// Copies a regular file's contents, permissions and modification time into a
// temporary file beside destination, then renames it over destination, so an
// interrupted copy never damages an earlier one. 0, or -1.
int copy_file_replacing(const char* source, const char* destination);
// Moves every entry of folder from into folder to, creating it when needed:
// subfolders merge, entries of the same relative path are replaced (renamed
// where possible, copied and removed across file systems). 0 when all moved.
int move_merging(const char* from, const char* to);
// 1 when path names an existing folder (links to folders count).
int is_folder(const char* path);
// The current folder, absolute; its length, or -1 when it does not fit.
std::int32_t current_folder(char* destination, std::uint32_t size);
// The file's size in bytes, or -1 when it cannot be examined.
std::int64_t stat_file_size(const char* path);
