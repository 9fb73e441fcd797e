// POSIX folders: user_folder (home, XDG pictures/documents/data) and program_file.
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/posix/posix_files.h"
#include "ports/folders.h"

namespace {

std::string home_folder() {
  // NOLINTNEXTLINE(concurrency-mt-unsafe): the environment is only set before threads start
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return home;
  passwd entry{};
  passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr)
    return "";
  return entry.pw_dir != nullptr ? entry.pw_dir : "";
}

// A folder below home; "" when home is unknown. A home of "/" is not doubled.
std::string below_home(const char* name) {
  const std::string home = home_folder();
  if (home.empty()) return "";
  return home == "/" ? std::string(name) : home + name;
}

// An XDG base folder from its variable, which counts only when absolute.
std::string xdg_base(const char* variable, const char* fallback_below_home) {
  // NOLINTNEXTLINE(concurrency-mt-unsafe): the environment is only set before threads start
  const char* value = std::getenv(variable);
  if (value != nullptr && value[0] == '/') return value;
  return below_home(fallback_below_home);
}

// A folder named in user-dirs.dirs, as xdg-user-dirs writes it:
// XDG_PICTURES_DIR="$HOME/Pictures" or an absolute path. "" when not set.
std::string xdg_user_dir(const char* key) {
  const std::string config = xdg_base("XDG_CONFIG_HOME", "/.config");
  if (config.empty()) return "";
  std::ifstream file(config + "/user-dirs.dirs");
  const std::string prefix = std::string(key) + "=\"";
  std::string line;
  while (std::getline(file, line)) {
    if (line.rfind(prefix, 0) != 0) continue;
    const auto end = line.find('"', prefix.size());
    if (end == std::string::npos) return "";
    std::string value = line.substr(prefix.size(), end - prefix.size());
    if (value.rfind("$HOME", 0) == 0) value = home_folder() + value.substr(5);
    while (value.size() > 1 && value.back() == '/') value.pop_back();
    // A folder set to home itself means the folder is disabled.
    if (value.empty() || value[0] != '/' || value == home_folder()) return "";
    return value;
  }
  return "";
}

std::int32_t put(const std::string& text, char* destination, std::uint32_t size) {
  if (text.empty() || text.size() >= size) return -1;
  std::memcpy(destination, text.c_str(), text.size() + 1);
  return static_cast<std::int32_t>(text.size());
}

}  // namespace

std::string config_home() {
  return xdg_base("XDG_CONFIG_HOME", "/.config");
}

std::int32_t user_folder(UserFolder which, char* destination, std::uint32_t size) {
  std::string folder;
  switch (which) {
    case UserFolder::home:
      folder = home_folder();
      break;
    case UserFolder::pictures:
      folder = xdg_user_dir("XDG_PICTURES_DIR");
      if (folder.empty()) folder = below_home("/Pictures");
      break;
    case UserFolder::documents:
      folder = xdg_user_dir("XDG_DOCUMENTS_DIR");
      if (folder.empty()) folder = below_home("/Documents");
      break;
    case UserFolder::data_home:
      folder = xdg_base("XDG_DATA_HOME", "/.local/share");
      break;
  }
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return put(folder, destination, size);
}

std::int32_t program_file(char* destination, std::uint32_t size) {
  if (size == 0) return -1;
  const ssize_t length = readlink("/proc/self/exe", destination, size);
  // A result that fills the whole buffer may have been cut.
  if (length <= 0 || static_cast<std::uint32_t>(length) >= size) return -1;
  destination[length] = '\0';
  return static_cast<std::int32_t>(length);
}
