// Win32 mapped files for the list store. The locks are the share modes of
// the open: our readers share reading only, so none opens beside a writer
// and no writer beside them; a writer shares reading only, so no second
// writer or reader of ours opens beside it, while other programs that share
// writing (a copy, a viewer) may still read the file. An open that would
// break them fails at once (a sharing violation) instead of waiting. Handles are rows of a table,
// since the core keeps a plain integer.
#include "ports/mapped_file.h"

#include <windows.h>

#include <mutex>
#include <vector>

#include "platform/win32/win32_files.h"

namespace {

std::mutex table_lock;
std::vector<HANDLE> table;

std::int32_t keep(HANDLE file) {
  std::lock_guard<std::mutex> hold(table_lock);
  for (std::size_t row = 0; row < table.size(); ++row) {
    if (table[row] == INVALID_HANDLE_VALUE) {
      table[row] = file;
      return static_cast<std::int32_t>(row);
    }
  }
  table.push_back(file);
  return static_cast<std::int32_t>(table.size() - 1);
}

HANDLE file_of(std::int32_t handle) {
  std::lock_guard<std::mutex> hold(table_lock);
  if (handle < 0 || static_cast<std::size_t>(handle) >= table.size()) return INVALID_HANDLE_VALUE;
  return table[static_cast<std::size_t>(handle)];
}

OpenFailure failure_of(DWORD error) {
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return OpenFailure::held;
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return OpenFailure::missing;
  return OpenFailure::failed;
}

// Opens the regular file at path; a folder or a device is not_regular.
std::int32_t open_regular(const char* path, DWORD access, DWORD share, DWORD disposition,
                          OpenFailure not_regular, OpenFailure* why) {
  *why = OpenFailure::none;
  const std::wstring wide = wide_path(path);
  const DWORD attributes = attributes_at(wide);
  // A new list is a file of its own, never reached through a link.
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
       (disposition != OPEN_EXISTING && is_reparse(attributes)))) {
    *why = not_regular;
    return -1;
  }
  HANDLE file = CreateFileW(wide.c_str(), access, share, nullptr, disposition,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *why = failure_of(GetLastError());
    return -1;
  }
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    *why = not_regular;
    return -1;
  }
  return keep(file);
}

bool set_length(HANDLE file, std::uint64_t length) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(length);
  return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

OVERLAPPED at_offset(std::uint64_t offset) {
  OVERLAPPED where{};
  where.Offset = static_cast<DWORD>(offset);
  where.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return where;
}

DWORD chunk_of(std::uint64_t size) {
  return size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
}

}  // namespace

std::int32_t open_locked(const char* path, bool writable, OpenFailure* why) {
  return writable ? open_regular(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING,
                                 OpenFailure::missing, why)
                  : open_regular(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                                 OpenFailure::missing, why);
}

std::int32_t create_locked(const char* path, OpenFailure* why) {
  const std::int32_t handle = open_regular(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                           OPEN_ALWAYS, OpenFailure::failed, why);
  if (handle < 0) return -1;
  // Cut only now, holding the file alone: never under another holder's mapping.
  if (!set_length(file_of(handle), 0)) {
    *why = OpenFailure::failed;
    close_handle(handle);
    return -1;
  }
  return handle;
}

void close_handle(std::int32_t handle) {
  HANDLE file = INVALID_HANDLE_VALUE;
  {
    std::lock_guard<std::mutex> hold(table_lock);
    if (handle < 0 || static_cast<std::size_t>(handle) >= table.size()) return;
    file = table[static_cast<std::size_t>(handle)];
    table[static_cast<std::size_t>(handle)] = INVALID_HANDLE_VALUE;
  }
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

std::int64_t handle_length(std::int32_t handle) {
  LARGE_INTEGER length;
  return GetFileSizeEx(file_of(handle), &length) ? length.QuadPart : -1;
}

bool read_at(std::int32_t handle, std::uint64_t offset, void* data, std::uint64_t size) {
  HANDLE file = file_of(handle);
  auto* into = static_cast<char*>(data);
  while (size > 0) {
    OVERLAPPED where = at_offset(offset);
    DWORD got = 0;
    if (!ReadFile(file, into, chunk_of(size), &got, &where) || got == 0) return false;
    into += got;
    offset += got;
    size -= got;
  }
  return true;
}

bool write_at(std::int32_t handle, std::uint64_t offset, const void* data, std::uint64_t size) {
  HANDLE file = file_of(handle);
  const auto* from = static_cast<const char*>(data);
  while (size > 0) {
    OVERLAPPED where = at_offset(offset);
    DWORD put = 0;
    if (!WriteFile(file, from, chunk_of(size), &put, &where) || put == 0) return false;
    from += put;
    offset += put;
    size -= put;
  }
  return true;
}

bool extend_to(std::int32_t handle, std::uint64_t length) {
  const std::int64_t now = handle_length(handle);
  if (now < 0) return false;
  if (static_cast<std::uint64_t>(now) >= length) return true;
  // A longer end of file has its clusters allocated at once (not sparse).
  return set_length(file_of(handle), length);
}

bool cut_to(std::int32_t handle, std::uint64_t length) {
  return set_length(file_of(handle), length);
}

std::uint8_t* map_handle(std::int32_t handle, std::uint64_t length, bool writable) {
  if (length == 0) return nullptr;
  HANDLE mapping =
      CreateFileMappingW(file_of(handle), nullptr, writable ? PAGE_READWRITE : PAGE_READONLY,
                         static_cast<DWORD>(length >> 32), static_cast<DWORD>(length), nullptr);
  if (mapping == nullptr) return nullptr;
  void* view = MapViewOfFile(mapping, writable ? FILE_MAP_READ | FILE_MAP_WRITE : FILE_MAP_READ, 0,
                             0, static_cast<SIZE_T>(length));
  // The view keeps the mapping alive.
  CloseHandle(mapping);
  return static_cast<std::uint8_t*>(view);
}

void prepare_pages(std::uint8_t*, std::uint64_t) {
  // Windows maps the pages in as they are first written.
}

void unmap(std::uint8_t* base, std::uint64_t) {
  if (base != nullptr) UnmapViewOfFile(base);
}
