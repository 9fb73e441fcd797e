// What the Win32 file layers share: the core's UTF-8 paths turned into the
// wide paths of the system calls and back, and file times.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// ERROR_DIRECTORY_NOT_SUPPORTED, which the MinGW headers lack: a folder where
// a file belongs.
constexpr std::int32_t kErrorIsFolder = 336;

// The wide form of a UTF-8 path, with '/' turned into '\'. A long absolute
// path gets the "\\?\" prefix that lifts the 260-character limit.
std::wstring wide_path(const char* path);
// A UTF-8 text (a title, a menu item) in its wide form, unchanged otherwise.
std::wstring wide_text(const char* text);
// A wide text as UTF-8.
std::string utf8_of(const wchar_t* text);
// path + '\' + name (no doubled separator).
std::wstring wide_join(const std::wstring& folder, const std::wstring& name);
// The 64-bit value of a FILETIME: 100-ns units since 1601-01-01 UTC.
std::uint64_t time_of(const FILETIME& time);

// GetLastError, with the missing-file errors as kErrorMissing.
std::int32_t last_error();
// The attributes of what is at path itself (a link is not followed), or
// INVALID_FILE_ATTRIBUTES.
DWORD attributes_at(const std::wstring& path);
// Whether attributes name a symbolic link, junction or other reparse point.
bool is_reparse(DWORD attributes);
// Size and last-write time of the regular file at path, following links.
// False when it is no file or cannot be examined (GetLastError tells why).
// Opens the regular file at path for reading (with FILE_FLAG_OPEN_REPARSE_POINT
// when not_through_link); INVALID_HANDLE_VALUE with *error set.
HANDLE open_for_reading(const std::wstring& path, bool not_through_link, std::int32_t* error);
bool file_facts(const std::wstring& path, std::uint64_t* size, std::uint64_t* write_time);
