// Keeps a test's changes to the process's environment and working folder from
// leaking into the tests after it: everything set through the guard is put
// back when it goes out of scope.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

class ProcessGuard {
 public:
  ProcessGuard() {
    char here[4096];
    if (getcwd(here, sizeof here) != nullptr) folder_ = here;
  }
  ~ProcessGuard() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) {
        setenv(it->first.c_str(), it->second->c_str(), 1);
      } else {
        unsetenv(it->first.c_str());
      }
    }
    if (!folder_.empty() && chdir(folder_.c_str()) != 0) abort();
  }
  ProcessGuard(const ProcessGuard&) = delete;
  ProcessGuard& operator=(const ProcessGuard&) = delete;

  // Sets the variable, or unsets it when value is null.
  void set(const std::string& name, const char* value) {
    const char* old = getenv(name.c_str());
    saved_.emplace_back(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
    if (value != nullptr) {
      setenv(name.c_str(), value, 1);
    } else {
      unsetenv(name.c_str());
    }
  }
  void set(const std::string& name, const std::string& value) { set(name, value.c_str()); }
  // Changes into folder; 0 on success, as chdir.
  int enter(const std::string& folder) { return chdir(folder.c_str()); }

 private:
  std::string folder_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};
