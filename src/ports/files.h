// Files and folders for the core. Paths are zero-terminated byte texts.
#pragma once

#include <cstdint>
#include <string>

// Tests stop a process part way through its changes to the disk: when set,
// seam is called before each rename, removal, folder creation and whole-file
// write that file_replace, rename_replacing and the backup target's moves
// make. Null by default.
using DiskChangeSeam = void (*)();
void set_disk_change_seam(DiskChangeSeam seam);
// Tests stand for a power cut: when set, seam is called each time the
// backup target's flush has made what it was given durable. Null by default.
void set_flush_seam(DiskChangeSeam seam);
// Tests change a file while it is being copied: when set, seam is called with
// the source's path after each piece (at most 1 MiB) a copy has read, so
// that a test can write between two reads. Null by default.
using CopySeam = void (*)(const char* source);
void set_copy_seam(CopySeam seam);
// Tests stand for a file system without unnamed temporary files: while
// refused is set, every copy is written under a temporary name first.
void set_unnamed_files_refused(bool refused);
// Tests stand for generations on two file systems: while set, every move of
// a backup's entry from one folder to another is refused as crossing them.
void set_renames_cross_devices(bool cross);

// Reads up to size bytes from the start of a regular file. Returns the count
// read (short for a short file), or -1 when the file cannot be opened or read.
std::int64_t file_read_start(const char* path, void* buffer, std::uint64_t size);
// Replaces the file's content with data: writes a temporary file beside it,
// flushes it and renames it over path. A path that is a symbolic link has
// the file it points to replaced. True, or false with path untouched.
bool file_replace(const char* path, const void* data, std::uint64_t size);
// Removes the temporary files an interrupted file_replace of path left.
void file_replace_cleanup(const char* path);
// True when anything (a dangling link too) is at path, else false.
bool path_taken(const char* path);
// Renames from to to, replacing a file at to; a link is renamed, never
// followed. True, or false.
bool rename_replacing(const char* from, const char* to);
// Removes the file (or link) at path, never a folder. True, or false.
bool remove_file(const char* path);
// Adds data at the end of the file at path, making it when missing; not
// flushed. True, or false.
bool file_append(const char* path, const void* data, std::uint64_t size);
// True when path is a regular file (or a link to one) that opens for reading, else false.
bool file_readable(const char* path);
// True when this process may create files in folder, else false.
bool folder_writable(const char* folder);
// Creates every missing folder of path. True when the folder exists afterwards.
bool make_folders(const char* path);
// True when path lies on a removable medium (a removable block device, or a mount
// under /media or /run/media), else false.
bool volume_is_removable(const char* path);

// An entry of a folder listing.
struct FolderEntry {
  std::string name;
  std::uint32_t kind;  // one of the kFolderEntry kinds
};
// A real folder (never a link to one), and a regular file.
constexpr std::uint32_t kFolderEntryFolder = 1;
constexpr std::uint32_t kFolderEntryFile = 2;
// Links, never followed by a walk (so no link can make it loop): to a
// folder, to nowhere, and to a regular file (which the viewer shows as its
// file). A backup keeps each as a link.
constexpr std::uint32_t kFolderEntryFolderLink = 3;
constexpr std::uint32_t kFolderEntryDanglingLink = 4;
constexpr std::uint32_t kFolderEntryFileLink = 6;
// Whatever is neither file, folder nor link (a FIFO, a socket, a device):
// nobody reads it; a backup names it.
constexpr std::uint32_t kFolderEntrySpecial = 5;
inline bool is_link_kind(std::uint32_t kind) {
  return kind == kFolderEntryFolderLink || kind == kFolderEntryDanglingLink ||
         kind == kFolderEntryFileLink;
}

// Which folder a listing read: its device and inode numbers.
struct FolderIdentity {
  std::uint64_t device;
  std::uint64_t inode;
};

// Error codes are the system's (errno on POSIX) and these of our own.
constexpr std::int32_t kErrorLink = -2;         // a symbolic link where a folder or file belongs
constexpr std::int32_t kErrorNotFolder = -3;    // something else where a folder belongs
constexpr std::int32_t kErrorPathTooLong = -4;  // a path that would not fit
constexpr std::int32_t kErrorNoFiles = -5;      // a pseudo file system (proc and the like)
constexpr std::int32_t kErrorMissing = -6;      // nothing there
constexpr std::int32_t kErrorNotName = -7;      // a name that is no single plain name
constexpr std::int32_t kErrorOtherDevice = -8;  // a rename that would cross file systems
// The error's text for a message, such as "Permission denied".
void describe_error(std::int32_t error, char* text, std::uint32_t size);

// A folder listed one entry at a time, so that no listing holds more than
// one name however large the folder.
struct FolderListing;
// Opens folder for listing; null with *error set (kErrorNoFiles for a pseudo
// file system).
FolderListing* listing_open(const char* folder, FolderIdentity* identity, std::int32_t* error);
// What listing_next gives: an entry, the end, or a failure.
enum class ListingStep { entry, end, failed };
// The next entry, of any kind; a failure sets *error.
ListingStep listing_next(FolderListing* listing, FolderEntry* entry, std::int32_t* error);
void listing_close(FolderListing* listing);
// Size and last-write time of the regular file (or link to one) name in the
// listing's folder; true, or false with *error set.
bool listing_file_facts(FolderListing* listing, const char* name, std::uint64_t* size,
                        std::uint64_t* write_time, std::int32_t* error);

// The link name's own size (its target text's length) and write time in the
// listing's folder, never followed; false with *error set.
bool listing_link_facts(FolderListing* listing, const char* name, std::uint64_t* size,
                        std::uint64_t* write_time, std::int32_t* error);
// The target text of the symbolic link at path (never followed) and the
// link's own write time; false with *error set when path is no link.
bool read_link(const char* path, std::string* target, std::uint64_t* write_time,
               std::int32_t* error);
// The identity of an existing folder; true, or false when it is no folder.
bool folder_identity(const char* folder, FolderIdentity* identity);
// Creates one folder; errors (it exists, no parent) are ignored.
void make_folder(const char* path);
// Last-write time of a regular file, in 100-ns units since 1601-01-01 UTC;
// true, or false when it cannot be read.
bool file_write_time(const char* path, std::uint64_t* time);
// What tells one version of a file from another: its size, write and
// change times, and which file it is. A file replaced by another of the same
// size and write time (a copy that kept the time) differs in the rest.
struct FileStamp {
  std::int64_t size = -1;
  std::uint64_t write_time = 0;
  std::uint64_t change_time = 0;  // of the contents or the file's own facts
  std::uint64_t device = 0;
  std::uint64_t file = 0;  // inode, or the file index
  bool operator==(const FileStamp&) const = default;
};
// The stamp of the regular file (or the file a link leads to) at path; 0,
// or false with *stamp left as it was.
bool file_stamp(const char* path, FileStamp* stamp);
// A file open for reading from its start; -1 for none.
using FileReader = std::int64_t;
// Opens the regular file at path (or the one a link leads to) for reading;
// -1 with *error set (kErrorMissing when nothing is there).
FileReader reader_open(const char* path, std::int32_t* error);
// Reads up to size bytes on from where the last read ended: the count, less
// than size only at the end of the file, or -1 with *error set.
std::int64_t reader_read(FileReader reader, char* data, std::uint32_t size, std::int32_t* error);
void reader_close(FileReader reader);
// The current time in the same units.
std::uint64_t system_time_now();
// True when path names an existing folder (links to folders count).
bool is_folder(const char* path);
// The current folder, absolute; its length, or -1 when it does not fit.
std::int32_t current_folder(char* destination, std::uint32_t size);
// The file's size in bytes, or -1 when it cannot be examined.
std::int64_t stat_file_size(const char* path);
