// Helpers shared by the test programs: a temporary folder that goes away with
// its test, whole-file reads and writes, and a guard that puts the process's
// environment and working folder back.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace test_support {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

struct TempFolder {
  fs::path path;
  TempFolder() {
    char pattern[] = "/tmp/tessmira-test-XXXXXX";
    if (mkdtemp(pattern) != nullptr) path = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
};

inline Bytes read_bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Writes the file whole, making its folders first.
inline void write_text(const fs::path& path, const std::string& text) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

inline void write_bytes(const fs::path& path, const Bytes& bytes) {
  write_text(path, std::string(bytes.begin(), bytes.end()));
}

class ProcessGuard {
 public:
  ProcessGuard() {
    char here[4096];
    if (getcwd(here, sizeof here) != nullptr) folder_ = here;
  }
  ~ProcessGuard() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) set(it->first, it->second);
    if (!folder_.empty() && chdir(folder_.c_str()) != 0) abort();
  }
  ProcessGuard(const ProcessGuard&) = delete;
  ProcessGuard& operator=(const ProcessGuard&) = delete;

  // Sets the variable, or unsets it without a value; put back at the end.
  void change(const std::string& name, std::optional<std::string> value) {
    const char* old = getenv(name.c_str());
    saved_.emplace_back(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
    set(name, value);
  }
  // Changes into folder; 0 on success, as chdir.
  int enter(const fs::path& folder) { return chdir(folder.c_str()); }

 private:
  static void set(const std::string& name, const std::optional<std::string>& value) {
    if (value) {
      setenv(name.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name.c_str());
    }
  }
  std::string folder_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace test_support
