// Headless desktop: desktop_set_title, desktop_request_repaint and
// desktop_post_command recorded instead of shown; desktop_shift_held as set.
#include <atomic>
#include <mutex>

#include "platform/desktop.h"
#include "platform/headless/headless_desktop.h"

namespace {

std::mutex record_lock;
std::vector<std::string> titles;
std::vector<std::int32_t> commands;
int repaints = 0;
std::atomic<int> shift_held{0};

}  // namespace

void desktop_set_title(PlatformWindow*, const char* title) {
  std::lock_guard<std::mutex> hold(record_lock);
  titles.emplace_back(title);
}

void desktop_request_repaint(PlatformWindow*) {
  std::lock_guard<std::mutex> hold(record_lock);
  ++repaints;
}

void desktop_post_command(PlatformWindow*, std::int32_t command) {
  std::lock_guard<std::mutex> hold(record_lock);
  commands.push_back(command);
}

int desktop_shift_held() {
  return shift_held.load();
}

std::vector<std::string> headless_titles() {
  std::lock_guard<std::mutex> hold(record_lock);
  return titles;
}

std::vector<std::int32_t> headless_commands() {
  std::lock_guard<std::mutex> hold(record_lock);
  return commands;
}

int headless_repaints() {
  std::lock_guard<std::mutex> hold(record_lock);
  return repaints;
}

void headless_set_shift(int held) {
  shift_held = held;
}

void headless_reset() {
  std::lock_guard<std::mutex> hold(record_lock);
  titles.clear();
  commands.clear();
  repaints = 0;
  shift_held = 0;
}
