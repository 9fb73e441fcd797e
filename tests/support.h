// Helpers shared by the test programs: a temporary folder that goes away with
// its test, whole-file reads and writes, and a guard that puts the process's
// environment and working folder back.
#pragma once

#include <stdlib.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace test_support {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// Polls (up to 30 s) for a condition another thread makes true.
template <typename Condition>
bool eventually(Condition condition) {
  for (int i = 0; i < 3000; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

struct TempFolder {
  fs::path path;
  TempFolder() {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
      const fs::path tried =
          fs::temp_directory_path() / ("tessmira-test-" + std::to_string(random()));
      std::error_code taken;
      if (fs::create_directory(tried, taken)) {
        path = tried;
        return;
      }
    }
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
};

inline std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline Bytes read_bytes(const fs::path& path) {
  const std::string text = read_text(path);
  return {text.begin(), text.end()};
}

// Writes the file whole, making its folders first.
inline void write_text(const fs::path& path, const std::string& text) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

inline void write_bytes(const fs::path& path, const Bytes& bytes) {
  write_text(path, std::string(bytes.begin(), bytes.end()));
}

// A JPEG with an EXIF orientation tag inserted after its start marker.
inline Bytes with_exif_orientation(const Bytes& jpeg, std::uint8_t orientation) {
  // Little-endian TIFF: header, one IFD entry (orientation, SHORT, 1 value), no next IFD.
  const char tiff[] = "II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0?\0\0\0\0\0\0\0";
  Bytes app1 = {0xFF, 0xE1, 0, 8 + sizeof tiff - 1, 'E', 'x', 'i', 'f', 0, 0};
  app1.insert(app1.end(), tiff, tiff + sizeof tiff - 1);
  app1[10 + 18] = orientation;
  Bytes out = jpeg;
  out.insert(out.begin() + 2, app1.begin(), app1.end());
  return out;
}

struct ProcessGuard {
  std::string folder = fs::current_path().string();
  std::vector<std::pair<std::string, std::optional<std::string>>> saved;
  // Sets the variable, or unsets it without a value, until the guard ends.
  void change(const std::string& name, const std::optional<std::string>& value) {
    const char* old = getenv(name.c_str());
    saved.emplace_back(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
    set(name, value);
  }
  // Changes into folder; 0 on success, as chdir.
  int enter(const fs::path& where) {
    std::error_code failed;
    fs::current_path(where, failed);
    return failed ? -1 : 0;
  }
  ~ProcessGuard() {
    for (auto it = saved.rbegin(); it != saved.rend(); ++it) set(it->first, it->second);
    if (enter(folder) != 0) abort();
  }
  static void set(const std::string& name, const std::optional<std::string>& value) {
#ifdef _WIN32
    _putenv_s(name.c_str(), value ? value->c_str() : "");
#else
    if (value) setenv(name.c_str(), value->c_str(), 1);
    if (!value) unsetenv(name.c_str());
#endif
  }
};

#ifdef _WIN32
// Runs this test program again, only its disabled tests matching filter, in
// a process of its own: its exit status (97, 98 when it could not start).
inline unsigned long run_own_disabled_tests(const char* filter) {
  char command[MAX_PATH + 120] = "\"";
  if (GetModuleFileNameA(nullptr, command + 1, MAX_PATH) == 0) return 98;
  std::strcat(command, "\" --gtest_also_run_disabled_tests --gtest_filter=");
  std::strcat(command, filter);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &child)) {
    return 97;
  }
  WaitForSingleObject(child.hProcess, INFINITE);
  DWORD status = 99;
  GetExitCodeProcess(child.hProcess, &status);
  CloseHandle(child.hProcess);
  CloseHandle(child.hThread);
  return status;
}
#endif

// A private home with the program in <home>/prog and the XDG variables
// pointing into it, so nothing touches the real user's files.
struct PrivateHome {
  TempFolder temp;
  const fs::path& root = temp.path;
  fs::path program_dir = root / "prog";
  ProcessGuard process;
  void enter_home() {
    fs::create_directories(program_dir);
    process.change("HOME", root.string());
    process.change("XDG_DATA_HOME", std::nullopt);
    process.change("XDG_CONFIG_HOME", std::nullopt);
  }
  std::string program() const { return (program_dir / "tessmira").string(); }
};

}  // namespace test_support
