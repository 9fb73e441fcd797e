// Win32 backup target: every folder below the root is looked at before it is
// entered and refused when it is a reparse point (a symbolic link, a junction,
// a mount point), then held open without delete sharing for as long as it is
// used, so that it cannot be swapped for a link meanwhile. Copies are written
// under a temporary name, in the backup root's folder of temporaries where it
// is on the same volume, and only then moved over the old copy.
#include "ports/backup_target.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/common/seams.h"
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

// Where a copy into folder makes its temporaries: the scratch folder when it
// is on the same volume, else beside the copy, each name recorded first.
struct Temporaries {
  std::wstring folder;
  TargetFolder within;
  bool beside;
  const CopyPlace& place;
  // A fresh name's path, told to the record first when it lies beside; the
  // name alone in *drawn_name.
  std::wstring draw(const char* name, std::string* drawn_name) const {
    std::wstring path;
    for (int drawn = 0; drawn < 20; ++drawn) {
      std::uint64_t bits = 0;
      if (!random_bytes(&bits, sizeof bits)) bits = GetTickCount64() + drawn;
      *drawn_name = temporary_name(name, kCopyMark, bits);
      path = wide_join(folder, wide_path(drawn_name->c_str()));
      if (kind_at(path) != Kind::nothing) continue;
      if (beside && place.record != nullptr) place.record(place.context, drawn_name->c_str());
      break;
    }
    return path;
  }
};

DWORD volume_of(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileInformationByHandle(handle, &info) ? info.dwVolumeSerialNumber : 0;
}

Temporaries temporaries_for(const CopyPlace& place, TargetFolder folder) {
  const OpenFolder* scratch = place.scratch >= 0 ? folder_of(place.scratch) : nullptr;
  const OpenFolder& there = *folder_of(folder);
  const bool same = scratch != nullptr && volume_of(scratch->pin) == volume_of(there.pin);
  return Temporaries{same ? scratch->path : there.path, same ? place.scratch : folder, !same,
                     place};
}

// Copies up to size bytes of in into out, a piece at a time; a source that
// shrank meanwhile ends the copy early. 0, else kCopyReadFailed or
// kCopyWriteFailed.
std::int32_t copy_contents(HANDLE in, HANDLE out, std::uint64_t size, const char* source,
                           std::int32_t* error) {
  std::vector<char> buffer(1 << 20);
  while (size > 0) {
    const DWORD want = size < buffer.size() ? static_cast<DWORD>(size) : 1u << 20;
    DWORD got = 0;
    if (!ReadFile(in, buffer.data(), want, &got, nullptr)) {
      *error = last_error();
      return kCopyReadFailed;
    }
    DWORD put = 0;
    for (DWORD done = 0; done < got; done += put) {
      if (!WriteFile(out, buffer.data() + done, got - done, &put, nullptr) || put == 0) {
        *error = last_error();
        return kCopyWriteFailed;
      }
    }
    copy_piece_read(source);
    if (got == 0) return kCopyDone;
    size -= got;
  }
  return kCopyDone;
}

// Copies the open source in (with info) to name in folder: whole under a
// temporary name, then moved over whatever file is there (never over a link
// or a folder).
std::int32_t copy_open_file(HANDLE in, const BY_HANDLE_FILE_INFORMATION& info, TargetFolder folder,
                            const char* name, const CopyPlace& place, const char* source,
                            std::int32_t* error) {
  const std::wstring target = wide_join(folder_of(folder)->path, wide_path(name));
  const Kind there = kind_at(target);
  if (there == Kind::link || there == Kind::folder || there == Kind::unknown) {
    *error = there == Kind::link     ? kErrorLink
             : there == Kind::folder ? kErrorIsFolder
                                     : last_error();
    return kCopyWriteFailed;
  }
  const Temporaries temporaries = temporaries_for(place, folder);
  std::string temporary_name;
  const std::wstring temporary = temporaries.draw(name, &temporary_name);
  disk_change();
  HANDLE out = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (out == INVALID_HANDLE_VALUE) {
    *error = last_error();
    return kCopyWriteFailed;
  }
  const std::uint64_t size =
      static_cast<std::uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
  std::int32_t result = copy_contents(in, out, size, source, error);
  if (result == kCopyDone &&
      !SetFileTime(out, nullptr, &info.ftLastAccessTime, &info.ftLastWriteTime)) {
    *error = last_error();
    result = kCopyWriteFailed;
  }
  if (result == kCopyDone && place.held_still != nullptr && !place.held_still(place.context)) {
    result = kCopyChanged;
  }
  // A staged copy stays open until its batch is flushed.
  if (result == kCopyDone && place.staged != nullptr) {
    *place.staged = StagedCopy{temporaries.within, temporary_name, folder, name,
                               static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(out))};
    return kCopyDone;
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

bool plain_name(const char* name) {
  return name[0] != '\0' && std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0 &&
         std::strpbrk(name, "\\/:") == nullptr;
}

// Characters of a final path's top: "\\?\C:\", "\\?\UNC\server\share\" or
// "\\?\Volume{...}\".
std::size_t top_length(const std::wstring& path) {
  const bool share = path.rfind(L"\\\\?\\UNC\\", 0) == 0;
  std::size_t at = path.find(L'\\', share ? 8 : 4);
  if (share && at != std::wstring::npos) at = path.find(L'\\', at + 1);
  return at == std::wstring::npos ? path.size() : at + 1;
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
  if (!plain_name(name)) {
    *error = kErrorNotName;
    return -1;
  }
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

bool target_folder_identity(TargetFolder folder, FolderIdentity* identity) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(folder_of(folder)->pin, &info)) return false;
  *identity =
      FolderIdentity{info.dwVolumeSerialNumber,
                     static_cast<std::uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow};
  return true;
}

bool target_folder_chain(TargetFolder folder, std::vector<FolderIdentity>* chain) {
  chain->clear();
  // The folder as the system reached it, whatever spelling opened it.
  std::vector<wchar_t> final(32768);
  const DWORD length =
      GetFinalPathNameByHandleW(folder_of(folder)->pin, final.data(), 32768, FILE_NAME_NORMALIZED);
  if (length == 0 || length >= 32768) return false;
  std::wstring path(final.data(), length);
  const std::size_t top = top_length(path);
  for (;;) {
    FolderIdentity identity{};
    if (!folder_identity(utf8_of(path.c_str()).c_str(), &identity)) return false;
    chain->push_back(identity);
    const std::size_t cut = path.find_last_of(L'\\', path.size() - 2);
    if (path.size() <= top || cut == std::wstring::npos) return true;
    path.resize(cut < top ? top : cut);
  }
}

std::int32_t target_copy_file(const char* source, TargetFolder folder, const char* name,
                              const CopyPlace& place, CopiedFile* copied, std::int32_t* error) {
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
  const std::int32_t result = copy_open_file(in, info, folder, name, place, source, error);
  CloseHandle(in);
  return result;
}

// Making a symbolic link needs a privilege most users lack: links are told
// as not copied rather than copied as the files they lead to.
std::int32_t target_copy_link(const char*, TargetFolder, const char*, const CopyPlace&, CopiedFile*,
                              std::int32_t* error) {
  *error = ERROR_PRIVILEGE_NOT_HELD;
  return kCopyNotSupported;
}

bool target_read_link(TargetFolder, const char*, std::string*, std::int32_t* error) {
  *error = ERROR_NOT_SUPPORTED;
  return false;
}

TargetEntry target_entry(TargetFolder folder, const char* name, std::int32_t* error) {
  switch (kind_at(wide_join(folder_of(folder)->path, wide_path(name)))) {
    case Kind::unknown:
      *error = last_error();
      return TargetEntry::unreadable;
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

FileReader target_reader_open(TargetFolder folder, const char* name, std::int32_t* error) {
  HANDLE file = open_for_reading(wide_join(folder_of(folder)->path, wide_path(name)), true, error);
  return file == INVALID_HANDLE_VALUE
             ? -1
             : static_cast<FileReader>(reinterpret_cast<std::intptr_t>(file));
}

void target_clear_scratch(TargetFolder scratch) {
  const std::wstring& path = folder_of(scratch)->path;
  for (const std::wstring& name : names_in(path)) {
    const std::wstring inner = wide_join(path, name);
    const Kind kind = kind_at(inner);
    if (kind == Kind::file || kind == Kind::link) {
      if (!DeleteFileW(inner.c_str())) RemoveDirectoryW(inner.c_str());
    }
  }
}

std::vector<std::string> target_names(TargetFolder folder) {
  std::vector<std::string> names;
  for (const std::wstring& name : names_in(folder_of(folder)->path))
    names.push_back(utf8_of(name.c_str()));
  return names;
}

bool target_make_folder(TargetFolder parent, const char* name, std::int32_t* error) {
  const std::wstring path = wide_join(folder_of(parent)->path, wide_path(name));
  disk_change();
  if (CreateDirectoryW(path.c_str(), nullptr)) return true;
  *error = last_error();
  if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
  const Kind kind = kind_at(path);
  *error = kind == Kind::link ? kErrorLink : kErrorNotFolder;
  return kind == Kind::folder;
}

bool target_remove(TargetFolder folder, const char* name, std::int32_t* error) {
  const std::wstring path = wide_join(folder_of(folder)->path, wide_path(name));
  const DWORD attributes = attributes_at(path);
  if (attributes == INVALID_FILE_ATTRIBUTES && kind_at(path) == Kind::nothing) return true;
  disk_change();
  // A link to a folder is removed as a folder: the link itself, never what
  // it leads to.
  const bool removed = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? RemoveDirectoryW(path.c_str())
                                                                    : DeleteFileW(path.c_str());
  if (removed || kind_at(path) == Kind::nothing) return true;
  *error = last_error();
  return false;
}

bool target_rename(TargetFolder from, const char* name, TargetFolder to, std::int32_t* error) {
  if (renames_cross_devices()) {
    *error = kErrorOtherDevice;
    return false;
  }
  const std::wstring wide = wide_path(name);
  disk_change();
  if (MoveFileExW(wide_join(folder_of(from)->path, wide).c_str(),
                  wide_join(folder_of(to)->path, wide).c_str(), MOVEFILE_REPLACE_EXISTING))
    return true;
  *error = GetLastError() == ERROR_NOT_SAME_DEVICE ? kErrorOtherDevice : last_error();
  return false;
}

std::int32_t target_copy_between(TargetFolder from, const char* name, TargetFolder to,
                                 const CopyPlace& place, std::int32_t* error) {
  HANDLE in = open_for_reading(wide_join(folder_of(from)->path, wide_path(name)), true, error);
  BY_HANDLE_FILE_INFORMATION info;
  if (in == INVALID_HANDLE_VALUE) return kCopyReadFailed;
  if (!GetFileInformationByHandle(in, &info)) {
    *error = last_error();
    CloseHandle(in);
    return kCopyReadFailed;
  }
  disk_change();
  const std::int32_t result = copy_open_file(in, info, to, name, place, "", error);
  CloseHandle(in);
  return result;
}

// Making a link needs a privilege an ordinary account lacks: none is made.
bool target_makes_links() {
  return false;
}

namespace {

HANDLE handle_of(std::int64_t file) {
  return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(file));
}

void close_staged(StagedCopy& staged) {
  if (staged.file != -1) CloseHandle(handle_of(staged.file));
  staged.file = -1;
}

std::wstring staged_path(const StagedCopy& staged) {
  return wide_join(folder_of(staged.within)->path, wide_path(staged.temporary.c_str()));
}

// Flushes a folder's entries: opened for writing, as FlushFileBuffers asks.
bool flush_folder(const std::wstring& path, std::int32_t* error) {
  HANDLE folder = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  const bool flushed = folder != INVALID_HANDLE_VALUE && FlushFileBuffers(folder);
  if (!flushed) *error = last_error();
  if (folder != INVALID_HANDLE_VALUE) CloseHandle(folder);
  return flushed;
}

}  // namespace

bool target_flush(std::vector<StagedCopy>& staged, const std::vector<StagedCopy>& named,
                  std::int32_t* error) {
  // No volume-wide flush without administrator rights: each file, then each
  // folder the names were given in, once.
  bool flushed = true;
  for (StagedCopy& copy : staged) {
    if (flushed && copy.file != -1 && !FlushFileBuffers(handle_of(copy.file))) {
      *error = last_error();
      flushed = false;
    }
    close_staged(copy);
  }
  std::vector<TargetFolder> folders;
  for (const StagedCopy& copy : named) {
    if (!flushed || std::find(folders.begin(), folders.end(), copy.folder) != folders.end())
      continue;
    folders.push_back(copy.folder);
    flushed = flush_folder(folder_of(copy.folder)->path, error);
  }
  if (flushed) disk_flushed();
  return flushed;
}

bool target_name_staged(StagedCopy& staged, std::int32_t* error) {
  close_staged(staged);
  const std::wstring target =
      wide_join(folder_of(staged.folder)->path, wide_path(staged.name.c_str()));
  const Kind there = kind_at(target);
  if (there == Kind::link || there == Kind::folder) {
    *error = there == Kind::link ? kErrorLink : kErrorIsFolder;
  } else {
    disk_change();
    if (MoveFileExW(staged_path(staged).c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING))
      return true;
    *error = last_error();
  }
  target_drop_staged(staged);
  return false;
}

void target_drop_staged(StagedCopy& staged) {
  close_staged(staged);
  disk_change();
  DeleteFileW(staged_path(staged).c_str());
}
