// Win32 files and folder listings through the wide API: the core's paths are
// UTF-8 and are converted here, so that any file name works.
#include "ports/files.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/common/seams.h"
#include "platform/common/temporary_names.h"
#include "platform/win32/win32_files.h"
#include "ports/clock.h"

namespace {

// Longer paths than this get the "\\?\" prefix (MAX_PATH less room for a
// file name the system may append).
constexpr std::size_t kPlainPathLimit = 240;

bool is_drive_root_pair(const std::wstring& path) {
  return path.size() == 2 && path[1] == L':';
}

HANDLE open_for_reading(const std::wstring& path) {
  return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

// Opens the regular file at path (a link to one too) for reading.
HANDLE open_regular(const char* path) {
  const std::wstring wide = wide_path(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return INVALID_HANDLE_VALUE;
  return open_for_reading(wide);
}

bool write_whole(HANDLE file, const char* data, std::uint64_t size) {
  while (size > 0) {
    const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(file, data, chunk, &written, nullptr) || written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

// The file a link at path leads to, or path itself.
std::wstring resolved_for_writing(const std::wstring& path) {
  if (!is_reparse(attributes_at(path))) return path;
  HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return path;
  std::vector<wchar_t> final(32768);
  const DWORD length = GetFinalPathNameByHandleW(file, final.data(), 32768, FILE_NAME_NORMALIZED);
  CloseHandle(file);
  return length > 0 && length < 32768 ? std::wstring(final.data(), length) : path;
}

std::wstring folder_of(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? L"." : path.substr(0, slash);
}

std::wstring name_of(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

void remove_temporaries_of(const std::wstring& path) {
  const std::wstring folder = folder_of(path);
  const std::string base = utf8_of(name_of(path).c_str());
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileExW(wide_join(folder, L"*").c_str(), FindExInfoBasic, &found,
                                   FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return;
  std::vector<std::wstring> leftovers;
  do {
    if (is_save_temporary(utf8_of(found.cFileName).c_str(), base))
      leftovers.push_back(wide_join(folder, found.cFileName));
  } while (FindNextFileW(search, &found));
  FindClose(search);
  for (const std::wstring& leftover : leftovers) DeleteFileW(leftover.c_str());
}

}  // namespace

std::wstring wide_text(const char* text) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  std::wstring wide(length > 0 ? static_cast<std::size_t>(length) : 1, L'\0');
  if (length > 0) MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), length);
  wide.resize(wide.size() - 1);
  return wide;
}

std::wstring wide_path(const char* path) {
  std::wstring wide = wide_text(path);
  for (wchar_t& c : wide) {
    if (c == L'/') c = L'\\';
  }
  if (wide.size() <= kPlainPathLimit || wide.rfind(L"\\\\?\\", 0) == 0) return wide;
  if (wide.size() > 2 && wide[1] == L':' && wide[2] == L'\\') return L"\\\\?\\" + wide;
  if (wide.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + wide.substr(2);
  return wide;
}

std::string utf8_of(const wchar_t* text) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string narrow(length > 0 ? static_cast<std::size_t>(length) : 1, '\0');
  if (length > 0)
    WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow.data(), length, nullptr, nullptr);
  narrow.resize(narrow.size() - 1);
  return narrow;
}

std::wstring wide_join(const std::wstring& folder, const std::wstring& name) {
  if (folder.empty() || folder.back() == L'\\') return folder + name;
  return folder + L'\\' + name;
}

std::uint64_t time_of(const FILETIME& time) {
  return static_cast<std::uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

std::int32_t last_error() {
  const DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return kErrorMissing;
  return static_cast<std::int32_t>(error);
}

DWORD attributes_at(const std::wstring& path) {
  return GetFileAttributesW(path.c_str());
}

bool is_reparse(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool file_facts(const std::wstring& path, std::uint64_t* size, std::uint64_t* write_time) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    // Those were the link's own: ask the file it leads to.
    HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &info);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (!known) return false;
    data.dwFileAttributes = info.dwFileAttributes;
    data.nFileSizeHigh = info.nFileSizeHigh;
    data.nFileSizeLow = info.nFileSizeLow;
    data.ftLastWriteTime = info.ftLastWriteTime;
  }
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    SetLastError(kErrorIsFolder);
    return false;
  }
  *size = static_cast<std::uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
  *write_time = time_of(data.ftLastWriteTime);
  return true;
}

std::int64_t file_read_start(const char* path, void* buffer, std::uint64_t size) {
  HANDLE file = open_regular(path);
  if (file == INVALID_HANDLE_VALUE) return -1;
  std::uint64_t total = 0;
  char* into = static_cast<char*>(buffer);
  while (total < size) {
    const std::uint64_t left = size - total;
    const DWORD chunk = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
    DWORD got = 0;
    if (!ReadFile(file, into + total, chunk, &got, nullptr)) {
      CloseHandle(file);
      return -1;
    }
    if (got == 0) break;
    total += got;
  }
  CloseHandle(file);
  return static_cast<std::int64_t>(total);
}

bool file_replace(const char* path, const void* data, std::uint64_t size) {
  const std::wstring real = resolved_for_writing(wide_path(path));
  for (int attempt = 0; attempt < 20; ++attempt) {
    std::uint64_t bits = 0;
    if (!random_bytes(&bits, sizeof bits)) bits = GetTickCount64() + attempt;
    const std::string name = utf8_of(real.c_str());
    const std::string drawn = temporary_name(name.c_str(), ".", bits);
    // Only a name the clean-up recognises (a capital or a digit among the six).
    const std::size_t base = name.find_last_of("\\/") + 1;
    if (!is_save_temporary(drawn.c_str() + base, name.substr(base))) continue;
    const std::wstring temporary = wide_path(drawn.c_str());
    disk_change();
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) continue;
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool written =
        write_whole(file, static_cast<const char*>(data), size) && FlushFileBuffers(file);
    const bool closed = CloseHandle(file) != 0;
    if (written && closed) disk_change();
    // Whole on disk before it takes the name; the move is written through.
    if (written && closed &&
        MoveFileExW(temporary.c_str(), real.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return true;
    }
    DeleteFileW(temporary.c_str());
    return false;
  }
  return false;
}

void file_replace_cleanup(const char* path) {
  const std::wstring wide = wide_path(path);
  remove_temporaries_of(wide);
  const std::wstring real = resolved_for_writing(wide);
  if (real != wide) remove_temporaries_of(real);
}

bool path_taken(const char* path) {
  return attributes_at(wide_path(path)) != INVALID_FILE_ATTRIBUTES;
}

bool rename_replacing(const char* from, const char* to) {
  disk_change();
  return MoveFileExW(wide_path(from).c_str(), wide_path(to).c_str(), MOVEFILE_REPLACE_EXISTING);
}

bool remove_file(const char* path) {
  disk_change();
  return DeleteFileW(wide_path(path).c_str()) != 0;
}

bool file_append(const char* path, const void* data, std::uint64_t size) {
  HANDLE file = CreateFileW(wide_path(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool written = write_whole(file, static_cast<const char*>(data), size);
  return CloseHandle(file) && written;
}

bool file_readable(const char* path) {
  HANDLE file = open_regular(path);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

bool folder_writable(const char* folder) {
  // Rights on Windows come from the folder's access list, which no attribute
  // shows: it is checked against this process's token, writing nothing. Only
  // a definite refusal counts; a check that cannot be made counts as allowed.
  const std::wstring path = wide_path(folder[0] == '\0' ? "." : folder);
  const SECURITY_INFORMATION parts =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  DWORD needed = 0;
  GetFileSecurityW(path.c_str(), parts, nullptr, 0, &needed);
  if (needed == 0) return true;
  std::vector<unsigned char> descriptor(needed);
  if (!GetFileSecurityW(path.c_str(), parts, descriptor.data(), needed, &needed)) return true;
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &token)) return true;
  HANDLE impersonation = nullptr;
  const BOOL duplicated = DuplicateToken(token, SecurityImpersonation, &impersonation);
  CloseHandle(token);
  if (!duplicated) return true;
  GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                          FILE_ALL_ACCESS};
  DWORD wanted = FILE_ADD_FILE;
  MapGenericMask(&wanted, &mapping);
  PRIVILEGE_SET privileges{};
  DWORD privileges_size = sizeof privileges;
  DWORD granted = 0;
  BOOL allowed = FALSE;
  const BOOL checked = AccessCheck(descriptor.data(), impersonation, wanted, &mapping, &privileges,
                                   &privileges_size, &granted, &allowed);
  CloseHandle(impersonation);
  return !checked || allowed;
}

bool make_folders(const char* path) {
  const std::wstring whole = wide_path(path);
  // Past the root: "C:\", "\\server\share\" or the "\\?\" forms of both.
  std::size_t at = 0;
  if (whole.rfind(L"\\\\?\\UNC\\", 0) == 0) {
    at = whole.find(L'\\', whole.find(L'\\', 8) + 1);
  } else if (whole.rfind(L"\\\\?\\", 0) == 0) {
    at = 7;
  } else if (whole.rfind(L"\\\\", 0) == 0) {
    at = whole.find(L'\\', whole.find(L'\\', 2) + 1);
  } else if (whole.size() >= 2 && whole[1] == L':') {
    at = 3;
  }
  while (at != std::wstring::npos && at < whole.size()) {
    const std::size_t next = whole.find(L'\\', at);
    const std::wstring partial = whole.substr(0, next);
    // Existing folders are fine; the final look decides.
    if (!partial.empty() && !is_drive_root_pair(partial))
      CreateDirectoryW(partial.c_str(), nullptr);
    at = next == std::wstring::npos ? next : next + 1;
  }
  const DWORD attributes = GetFileAttributesW(whole.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool volume_is_removable(const char* path) {
  wchar_t volume[MAX_PATH + 1];
  if (!GetVolumePathNameW(wide_path(path).c_str(), volume, MAX_PATH + 1)) return false;
  return GetDriveTypeW(volume) == DRIVE_REMOVABLE;
}

struct FolderListing {
  HANDLE search;
  WIN32_FIND_DATAW found;
  bool pending;  // found holds an entry not yet given out
  std::wstring folder;
};

namespace {

// "C:" stands for the drive's root, as "" does for "/" on POSIX: paths formed
// from it read "C:\name".
std::wstring listing_folder(const char* folder) {
  std::wstring wide = wide_path(folder);
  if (is_drive_root_pair(wide)) wide += L'\\';
  return wide;
}

bool identity_of(const std::wstring& folder, FolderIdentity* identity) {
  HANDLE handle =
      CreateFileW(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool known = GetFileInformationByHandle(handle, &info) != 0;
  CloseHandle(handle);
  if (!known || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return false;
  *identity =
      FolderIdentity{info.dwVolumeSerialNumber,
                     static_cast<std::uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow};
  return true;
}

// A folder (never a reparse point: folders behind links and junctions are
// not entered, so no link can make a scan loop), a file (a link to one
// too), a link to a folder, or a link that leads nowhere.
std::uint32_t kind_of(const std::wstring& folder, const WIN32_FIND_DATAW& found) {
  const DWORD attributes = found.dwFileAttributes;
  const bool reparse = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return reparse ? kFolderEntryFolderLink : kFolderEntryFolder;
  }
  if (!reparse) return kFolderEntryFile;
  std::uint64_t size = 0;
  std::uint64_t time = 0;
  return file_facts(wide_join(folder, found.cFileName), &size, &time) ? kFolderEntryFileLink
                                                                      : kFolderEntryDanglingLink;
}

}  // namespace

FolderListing* listing_open(const char* folder, FolderIdentity* identity, std::int32_t* error) {
  const std::wstring wide = listing_folder(folder);
  if (!identity_of(wide, identity)) {
    *error = last_error();
    if (*error == 0) *error = kErrorNotFolder;
    return nullptr;
  }
  auto* listing = new FolderListing{};
  listing->folder = wide;
  listing->search =
      FindFirstFileExW(wide_join(wide, L"*").c_str(), FindExInfoBasic, &listing->found,
                       FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (listing->search == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_NOT_FOUND) {
    *error = last_error();
    delete listing;
    return nullptr;
  }
  listing->pending = listing->search != INVALID_HANDLE_VALUE;
  return listing;
}

ListingStep listing_next(FolderListing* listing, FolderEntry* entry, std::int32_t* error) {
  for (;;) {
    if (!listing->pending) {
      if (listing->search == INVALID_HANDLE_VALUE) return ListingStep::end;
      if (!FindNextFileW(listing->search, &listing->found)) {
        const DWORD why = GetLastError();
        if (why == ERROR_NO_MORE_FILES) return ListingStep::end;
        *error = static_cast<std::int32_t>(why);
        return ListingStep::failed;
      }
    }
    listing->pending = false;
    const wchar_t* name = listing->found.cFileName;
    if (std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0) continue;
    entry->name = utf8_of(name);
    entry->kind = kind_of(listing->folder, listing->found);
    return ListingStep::entry;
  }
}

void listing_close(FolderListing* listing) {
  if (listing == nullptr) return;
  if (listing->search != INVALID_HANDLE_VALUE) FindClose(listing->search);
  delete listing;
}

bool listing_file_facts(FolderListing* listing, const char* name, std::uint64_t* size,
                        std::uint64_t* write_time, std::int32_t* error) {
  if (file_facts(wide_join(listing->folder, wide_path(name)), size, write_time)) return true;
  *error = last_error();
  return false;
}

void describe_error(std::int32_t error, char* text, std::uint32_t size) {
  const char* ours = error == kErrorLink          ? "a symbolic link or junction, not followed"
                     : error == kErrorNotFolder   ? "not a folder"
                     : error == kErrorPathTooLong ? "the path would be too long"
                     : error == kErrorNoFiles     ? "no files can be kept there"
                     : error == kErrorMissing     ? "No such file or directory"
                     : error == kErrorIsFolder    ? "a folder, not a file"
                     : error == kErrorNotName     ? "not a plain name"
                     : error == kErrorOtherDevice ? "on another file system"
                                                  : nullptr;
  std::string said = ours != nullptr ? ours : "";
  if (ours == nullptr) {
    wchar_t buffer[256];
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(error), 0, buffer, 256, nullptr);
    said = length > 0 ? utf8_of(buffer) : "error " + std::to_string(error);
    // The system's texts end in ".\r\n"; a message line goes on after it.
    while (!said.empty() && (said.back() == '\n' || said.back() == '\r' || said.back() == '.'))
      said.pop_back();
  }
  if (size > 0 && std::snprintf(text, size, "%s", said.c_str()) < 0) text[0] = '\0';
}

std::int64_t stat_file_size(const char* path) {
  std::uint64_t size = 0;
  std::uint64_t time = 0;
  return file_facts(wide_path(path), &size, &time) ? static_cast<std::int64_t>(size) : -1;
}

bool folder_identity(const char* folder, FolderIdentity* identity) {
  return identity_of(listing_folder(folder), identity);
}

void make_folder(const char* path) {
  CreateDirectoryW(wide_path(path).c_str(), nullptr);
}

bool file_stamp(const char* path, FileStamp* stamp) {
  HANDLE file = CreateFileW(wide_path(path).c_str(), 0,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  FILE_BASIC_INFO basic;
  const bool known = GetFileInformationByHandle(file, &info) &&
                     (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
                     GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic);
  CloseHandle(file);
  if (!known) return false;
  *stamp =
      FileStamp{static_cast<std::int64_t>(static_cast<std::uint64_t>(info.nFileSizeHigh) << 32 |
                                          info.nFileSizeLow),
                time_of(info.ftLastWriteTime),
                static_cast<std::uint64_t>(basic.ChangeTime.QuadPart), info.dwVolumeSerialNumber,
                static_cast<std::uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow};
  return true;
}

bool file_write_time(const char* path, std::uint64_t* time) {
  std::uint64_t size = 0;
  return file_facts(wide_path(path), &size, time);
}

std::uint64_t system_time_now() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return time_of(now);
}

bool is_folder(const char* path) {
  const DWORD attributes = attributes_at(wide_path(path));
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::int32_t current_folder(char* destination, std::uint32_t size) {
  std::vector<wchar_t> wide(32768);
  const DWORD length = GetCurrentDirectoryW(32768, wide.data());
  if (length == 0 || length >= 32768) return -1;
  const std::string folder = utf8_of(wide.data());
  if (folder.size() >= size) return -1;
  std::memcpy(destination, folder.c_str(), folder.size() + 1);
  return static_cast<std::int32_t>(folder.size());
}

HANDLE open_for_reading(const std::wstring& path, bool not_through_link, std::int32_t* error) {
  const DWORD flags =
      FILE_FLAG_SEQUENTIAL_SCAN | (not_through_link ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, flags, nullptr);
  BY_HANDLE_FILE_INFORMATION info;
  if (file == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    *error = file == INVALID_HANDLE_VALUE                                  ? last_error()
             : (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? kErrorLink
                                                                           : kErrorIsFolder;
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

namespace {

// Reads up to size bytes; the count, less only at the end of the file, or -1.
std::int64_t read_fully(HANDLE file, char* data, DWORD size) {
  DWORD done = 0;
  while (done < size) {
    DWORD got = 0;
    if (!ReadFile(file, data + done, size - done, &got, nullptr)) return -1;
    if (got == 0) break;
    done += got;
  }
  return done;
}

}  // namespace

FileReader reader_open(const char* path, std::int32_t* error) {
  HANDLE file = open_for_reading(wide_path(path), false, error);
  return file == INVALID_HANDLE_VALUE
             ? -1
             : static_cast<FileReader>(reinterpret_cast<std::intptr_t>(file));
}

std::int64_t reader_read(FileReader reader, char* data, std::uint32_t size, std::int32_t* error) {
  const std::int64_t got =
      read_fully(reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(reader)), data, size);
  if (got < 0) *error = last_error();
  return got;
}

void reader_close(FileReader reader) {
  if (reader >= 0) CloseHandle(reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(reader)));
}

bool listing_link_facts(FolderListing* listing, const char* name, std::uint64_t* size,
                        std::uint64_t* write_time, std::int32_t* error) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  // The attributes of a reparse point are its own: nothing is followed.
  if (!GetFileAttributesExW(wide_join(listing->folder, wide_path(name)).c_str(),
                            GetFileExInfoStandard, &data) ||
      !is_reparse(data.dwFileAttributes)) {
    *error = last_error();
    if (*error == 0) *error = kErrorNotFolder;
    return false;
  }
  *size = static_cast<std::uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
  *write_time = time_of(data.ftLastWriteTime);
  return true;
}

// Links are not made nor read back here (making one needs a privilege), so
// none is ever a copy.
bool read_link(const char*, std::string*, std::uint64_t*, std::int32_t* error) {
  *error = ERROR_NOT_SUPPORTED;
  return false;
}
