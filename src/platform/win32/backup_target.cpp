// Win32 backup target: every folder below the root is looked at before it is
// entered and refused when it is a reparse point (a symbolic link, a junction,
// a mount point), then held open without delete sharing for as long as it is
// used, so that it cannot be swapped for a link meanwhile. Copies are written
// under a temporary name and only then moved over the old copy.
#include "ports/backup_target.h"

#include <windows.h>

#include <string>
#include <vector>

#include "platform/common/temporary_names.h"
#include "platform/win32/win32_files.h"
#include "ports/clock.h"

namespace {

struct OpenFolder {
  std::wstring path;  // with the "\\?\" prefix, so no length limit applies
  HANDLE pin;
};

OpenFolder* folder_of(TargetFolder folder) {
  return reinterpret_cast<OpenFolder*>(static_cast<std::intptr_t>(folder));
}

TargetFolder keep(const std::wstring& path, HANDLE pin) {
  return static_cast<TargetFolder>(reinterpret_cast<std::intptr_t>(new OpenFolder{path, pin}));
}

// What is at path, never following a link.
enum class Kind { nothing, file, folder, link, unknown };

Kind kind_at(const std::wstring& path) {
  const DWORD attributes = attributes_at(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Kind::nothing
                                                                          : Kind::unknown;
  }
  if (is_reparse(attributes)) return Kind::link;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Kind::folder : Kind::file;
}

// Holds the folder at path open; the handle, or INVALID_HANDLE_VALUE with
// *error set. A reparse point in its place is refused.
HANDLE pin_folder(const std::wstring& path, std::int32_t* error) {
  const Kind kind = kind_at(path);
  if (kind != Kind::folder) {
    *error = kind == Kind::link      ? kErrorLink
             : kind == Kind::file    ? kErrorNotFolder
             : kind == Kind::nothing ? kErrorMissing
                                     : last_error();
    return INVALID_HANDLE_VALUE;
  }
  HANDLE pin = CreateFileW(path.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  BY_HANDLE_FILE_INFORMATION info;
  if (pin == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(pin, &info)) {
    *error = last_error();
    if (pin != INVALID_HANDLE_VALUE) CloseHandle(pin);
    return INVALID_HANDLE_VALUE;
  }
  // Swapped for a link between the look and the open.
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    *error = kErrorLink;
    CloseHandle(pin);
    return INVALID_HANDLE_VALUE;
  }
  return pin;
}

std::wstring temporary_of(const std::wstring& path) {
  std::uint64_t bits = 0;
  if (!random_bytes(&bits, sizeof bits)) bits = GetTickCount64();
  return wide_path(temporary_name(utf8_of(path.c_str()).c_str(), kCopyMark, bits).c_str());
}

// Copies up to size bytes of in into out; a source that shrank meanwhile
// ends the copy early. 0, else kCopyReadFailed or kCopyWriteFailed.
std::int32_t copy_contents(HANDLE in, HANDLE out, std::uint64_t size, std::int32_t* error) {
  std::vector<char> buffer(1 << 20);
  while (size > 0) {
    const DWORD want = size < buffer.size() ? static_cast<DWORD>(size) : 1u << 20;
    DWORD got = 0;
    if (!ReadFile(in, buffer.data(), want, &got, nullptr)) {
      *error = last_error();
      return kCopyReadFailed;
    }
    if (got == 0) return kCopyDone;
    DWORD put = 0;
    for (DWORD done = 0; done < got; done += put) {
      if (!WriteFile(out, buffer.data() + done, got - done, &put, nullptr) || put == 0) {
        *error = last_error();
        return kCopyWriteFailed;
      }
    }
    size -= got;
  }
  return kCopyDone;
}

// Copies the open source in (with info) to target: whole under a temporary
// name beside it, then moved over whatever file is there (never over a link
// or a folder).
std::int32_t copy_open_file(HANDLE in, const BY_HANDLE_FILE_INFORMATION& info,
                            const std::wstring& target, std::int32_t* error) {
  const Kind there = kind_at(target);
  if (there == Kind::link || there == Kind::folder || there == Kind::unknown) {
    *error = there == Kind::link     ? kErrorLink
             : there == Kind::folder ? kErrorIsFolder
                                     : last_error();
    return kCopyWriteFailed;
  }
  std::wstring temporary;
  HANDLE out = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 20 && out == INVALID_HANDLE_VALUE; ++attempt) {
    temporary = temporary_of(target);
    out = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (out == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (out == INVALID_HANDLE_VALUE) {
    *error = last_error();
    return kCopyWriteFailed;
  }
  const std::uint64_t size =
      static_cast<std::uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
  std::int32_t result = copy_contents(in, out, size, error);
  if (result == kCopyDone &&
      !SetFileTime(out, nullptr, &info.ftLastAccessTime, &info.ftLastWriteTime)) {
    *error = last_error();
    result = kCopyWriteFailed;
  }
  if (!CloseHandle(out) && result == kCopyDone) {
    *error = last_error();
    result = kCopyWriteFailed;
  }
  if (result == kCopyDone &&
      !MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    *error = last_error();
    result = kCopyWriteFailed;
  }
  if (result != kCopyDone) DeleteFileW(temporary.c_str());
  return result;
}

std::vector<std::wstring> names_in(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileExW(wide_join(folder, L"*").c_str(), FindExInfoBasic, &found,
                                   FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if (std::wcscmp(found.cFileName, L".") != 0 && std::wcscmp(found.cFileName, L"..") != 0)
      names.emplace_back(found.cFileName);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

bool is_leftover(const std::wstring& name) {
  return is_copy_leftover(utf8_of(name.c_str()).c_str());
}

// A move's context: where problems go.
struct Mover {
  MoveProblem problem;
  void* context;
  bool report(const std::string& path, std::int32_t error) const {
    if (problem != nullptr) problem(context, path.c_str(), error);
    return false;
  }
};

bool remove_tree(const std::wstring& path) {
  if (kind_at(path) != Kind::folder)
    return DeleteFileW(path.c_str()) || kind_at(path) == Kind::nothing;
  bool removed = true;
  for (const std::wstring& name : names_in(path))
    removed = remove_tree(wide_join(path, name)) && removed;
  return RemoveDirectoryW(path.c_str()) && removed;
}

// Whether the folder holds a leftover temporary anywhere below it (such a
// folder is merged entry by entry, not moved whole).
bool holds_leftovers(const std::wstring& folder) {
  for (const std::wstring& name : names_in(folder)) {
    const std::wstring inner = wide_join(folder, name);
    if (is_leftover(name) || (kind_at(inner) == Kind::folder && holds_leftovers(inner)))
      return true;
  }
  return false;
}

bool merge(const Mover& mover, const std::wstring& from, const std::wstring& to,
           const std::string& from_path, const std::string& to_path);

bool move_entry(const Mover& mover, const std::wstring& from, const std::wstring& to,
                const std::string& from_path, const std::string& to_path) {
  const Kind source = kind_at(from);
  const Kind target = kind_at(to);
  if (source == Kind::unknown || source == Kind::nothing)
    return mover.report(from_path, last_error());
  if (target == Kind::unknown) return mover.report(to_path, last_error());
  if (source == Kind::link) return mover.report(from_path, kErrorLink);
  if (target == Kind::link) return mover.report(to_path, kErrorLink);
  if (source == Kind::folder && (target == Kind::folder || holds_leftovers(from))) {
    std::int32_t error = 0;
    if (target == Kind::nothing) {
      disk_change();
      CreateDirectoryW(to.c_str(), nullptr);
    }
    HANDLE from_pin = pin_folder(from, &error);
    if (from_pin == INVALID_HANDLE_VALUE) return mover.report(from_path, error);
    HANDLE to_pin = pin_folder(to, &error);
    if (to_pin == INVALID_HANDLE_VALUE) {
      CloseHandle(from_pin);
      return mover.report(to_path, error);
    }
    const bool merged = merge(mover, from, to, from_path, to_path);
    CloseHandle(from_pin);
    CloseHandle(to_pin);
    // Leftover temporaries keep a merged folder from going: no failure.
    disk_change();
    RemoveDirectoryW(from.c_str());
    return merged;
  }
  // A folder replaces a file and a file a folder, as a move over it would.
  if (target != Kind::nothing && (source == Kind::folder) != (target == Kind::folder)) {
    disk_change();
    if (!remove_tree(to)) return mover.report(to_path, last_error());
  }
  disk_change();
  // A file may cross volumes (copied, then removed); a folder cannot here,
  // as no mount point inside the root is ever entered.
  if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED))
    return true;
  return mover.report(from_path, last_error());
}

bool merge(const Mover& mover, const std::wstring& from, const std::wstring& to,
           const std::string& from_path, const std::string& to_path) {
  bool moved = true;
  for (const std::wstring& name : names_in(from)) {
    if (is_leftover(name)) continue;
    const std::string relative = utf8_of(name.c_str());
    moved = move_entry(mover, wide_join(from, name), wide_join(to, name),
                       from_path + '\\' + relative, to_path + '\\' + relative) &&
            moved;
  }
  return moved;
}

}  // namespace

TargetFolder target_open_root(const char* root, int create, std::int32_t* error) {
  if (create == 1 && !make_folders(root)) {
    *error = last_error();
    return -1;
  }
  // A root that is a link the user made is resolved here, once.
  HANDLE handle =
      CreateFileW(wide_path(root).c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *error = last_error();
    return -1;
  }
  std::vector<wchar_t> final(32768);
  const DWORD length = GetFinalPathNameByHandleW(handle, final.data(), 32768, FILE_NAME_NORMALIZED);
  BY_HANDLE_FILE_INFORMATION info;
  if (length == 0 || length >= 32768 || !GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    *error = length == 0 ? last_error() : kErrorNotFolder;
    CloseHandle(handle);
    return -1;
  }
  return keep(std::wstring(final.data(), length), handle);
}

TargetFolder target_open_folder(TargetFolder parent, const char* name, int create,
                                std::int32_t* error) {
  const std::wstring path = wide_join(folder_of(parent)->path, wide_path(name));
  if (create == 1 && !CreateDirectoryW(path.c_str(), nullptr) &&
      GetLastError() != ERROR_ALREADY_EXISTS) {
    *error = last_error();
    return -1;
  }
  HANDLE pin = pin_folder(path, error);
  return pin == INVALID_HANDLE_VALUE ? -1 : keep(path, pin);
}

void target_close(TargetFolder folder) {
  if (folder < 0) return;
  OpenFolder* open = folder_of(folder);
  CloseHandle(open->pin);
  delete open;
}

std::int32_t target_copy_file(const char* source, TargetFolder folder, const char* name,
                              CopiedFile* copied, std::int32_t* error) {
  HANDLE in = CreateFileW(wide_path(source).c_str(), GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  BY_HANDLE_FILE_INFORMATION info;
  if (in == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(in, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    *error = in == INVALID_HANDLE_VALUE ? last_error() : kErrorIsFolder;
    if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
    return kCopyReadFailed;
  }
  *copied = CopiedFile{static_cast<std::uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow,
                       time_of(info.ftLastWriteTime)};
  const std::int32_t result =
      copy_open_file(in, info, wide_join(folder_of(folder)->path, wide_path(name)), error);
  CloseHandle(in);
  return result;
}

// Making a symbolic link needs a privilege most users lack: links are told
// as not copied rather than copied as the files they lead to.
std::int32_t target_copy_link(const char*, TargetFolder, const char*, CopiedFile*,
                              std::int32_t* error) {
  *error = ERROR_PRIVILEGE_NOT_HELD;
  return kCopyNotSupported;
}

bool target_read_link(TargetFolder, const char*, std::string*, std::int32_t* error) {
  *error = ERROR_NOT_SUPPORTED;
  return false;
}

TargetEntry target_entry(TargetFolder folder, const char* name) {
  switch (kind_at(wide_join(folder_of(folder)->path, wide_path(name)))) {
    case Kind::nothing:
      return TargetEntry::none;
    case Kind::file:
      return TargetEntry::file;
    case Kind::folder:
      return TargetEntry::folder;
    case Kind::link:
      return TargetEntry::link;
    default:
      return TargetEntry::other;
  }
}

bool target_same_bytes(const char* path, TargetFolder folder, const char* name, bool* same,
                       std::int32_t* error) {
  HANDLE there = open_for_reading(wide_join(folder_of(folder)->path, wide_path(name)), true, error);
  if (there == INVALID_HANDLE_VALUE) return false;
  HANDLE in = open_for_reading(wide_path(path), false, error);
  if (in == INVALID_HANDLE_VALUE) {
    CloseHandle(there);
    return false;
  }
  const bool compared = same_handles(in, there, same, error);
  CloseHandle(in);
  CloseHandle(there);
  return compared;
}

void target_remove_leftovers(TargetFolder folder,
                             bool (*keep_name)(void* context, const char* name), void* context) {
  const std::wstring& path = folder_of(folder)->path;
  for (const std::wstring& name : names_in(path)) {
    const std::wstring inner = wide_join(path, name);
    if (!is_leftover(name) || kind_at(inner) != Kind::file) continue;
    if (keep_name != nullptr && keep_name(context, utf8_of(name.c_str()).c_str())) continue;
    DeleteFileW(inner.c_str());
  }
}

bool target_move_generation(TargetFolder root, const char* from, const char* to,
                            MoveProblem problem, void* context) {
  const Mover mover{problem, context};
  const std::wstring& base = folder_of(root)->path;
  const std::wstring source = wide_join(base, wide_path(from));
  const std::wstring target = wide_join(base, wide_path(to));
  std::int32_t error = 0;
  HANDLE source_pin = pin_folder(source, &error);
  if (source_pin == INVALID_HANDLE_VALUE) {
    if (error == kErrorMissing) return true;  // no such generation: nothing to move
    mover.report(from, error);
    return false;
  }
  bool moved = true;
  if (!names_in(source).empty()) {
    disk_change();
    CreateDirectoryW(target.c_str(), nullptr);
    HANDLE target_pin = pin_folder(target, &error);
    moved = target_pin != INVALID_HANDLE_VALUE ? merge(mover, source, target, from, to)
                                               : mover.report(to, error);
    if (target_pin != INVALID_HANDLE_VALUE) CloseHandle(target_pin);
  }
  CloseHandle(source_pin);
  return moved;
}
