// Win32 folders: user_folder from the shell's known folders (never created
// here) and program_file from the module's own name.
#include "ports/folders.h"

#include <windows.h>
// After windows.h, which it needs.
#include <knownfolders.h>
#include <shlobj.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/win32_files.h"

namespace {

std::int32_t put(const std::string& text, char* destination, std::uint32_t size) {
  if (text.empty() || text.size() >= size) return -1;
  std::memcpy(destination, text.c_str(), text.size() + 1);
  return static_cast<std::int32_t>(text.size());
}

std::string known_folder(const KNOWNFOLDERID& id) {
  wchar_t* path = nullptr;
  std::string folder;
  if (SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, &path) == S_OK) folder = utf8_of(path);
  CoTaskMemFree(path);
  // A root keeps its separator ("C:\"); any other folder goes without.
  while (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
  return folder;
}

}  // namespace

std::int32_t user_folder(UserFolder which, char* destination, std::uint32_t size) {
  switch (which) {
    case UserFolder::home:
      return put(known_folder(FOLDERID_Profile), destination, size);
    case UserFolder::pictures:
      return put(known_folder(FOLDERID_Pictures), destination, size);
    case UserFolder::documents:
      return put(known_folder(FOLDERID_Documents), destination, size);
    case UserFolder::data_home:
      // The roaming application-data folder, where per-user settings live.
      return put(known_folder(FOLDERID_RoamingAppData), destination, size);
  }
  return -1;
}

std::int32_t program_file(char* destination, std::uint32_t size) {
  std::vector<wchar_t> wide(32768);
  const DWORD length = GetModuleFileNameW(nullptr, wide.data(), 32768);
  if (length == 0 || length >= 32768) return -1;
  std::string path = utf8_of(wide.data());
  // Without the prefix a long path may carry, as every other path reads.
  if (path.rfind("\\\\?\\UNC\\", 0) == 0) path = "\\\\" + path.substr(8);
  if (path.rfind("\\\\?\\", 0) == 0) path = path.substr(4);
  return put(path, destination, size);
}
