// Headless desktop: desktop_set_title recorded instead of shown.
#include <mutex>

#include "platform/desktop.h"
#include "platform/headless/headless_desktop.h"

namespace {

std::mutex record_lock;
std::vector<std::string> titles;

}  // namespace

void desktop_set_title(PlatformWindow*, const char* title) {
  std::lock_guard<std::mutex> hold(record_lock);
  titles.emplace_back(title);
}

std::vector<std::string> headless_titles() {
  std::lock_guard<std::mutex> hold(record_lock);
  return titles;
}

void headless_reset() {
  std::lock_guard<std::mutex> hold(record_lock);
  titles.clear();
}
