// Headless desktop: every desktop_* call recorded instead of shown, so the
// core's window handling runs in tests without a display.
#include <chrono>
#include <mutex>

#include <cstring>

#include <thread>

#include "platform/headless/headless_desktop.h"
#include "ports/desktop.h"
#include "state/settings_block.h"

namespace {

std::mutex record_lock;
std::vector<std::string> titles;
std::vector<std::int32_t> commands;
std::vector<std::string> calls;
int repaints = 0;
PlatformWindow* the_window = reinterpret_cast<PlatformWindow*>(&titles);

void note(const std::string& call) {
  std::lock_guard<std::mutex> hold(record_lock);
  calls.push_back(call);
}

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

bool desktop_open(int, char**, char* reason) {
  reason[0] = '\0';
  return true;
}

void desktop_screen_size(std::int32_t* width, std::int32_t* height) {
  *width = 1024;
  *height = 768;
}

PlatformWindow* desktop_create_window(AppState&, std::int32_t x, std::int32_t y, std::int32_t width,
                                      std::int32_t height) {
  note("create " + std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(width) + "x" +
       std::to_string(height));
  return the_window;
}

bool desktop_show_window(PlatformWindow*, const WindowPlacement* placement,
                         std::uint32_t full_screen) {
  note(std::string("show") + (placement != nullptr ? " placed" : "") +
       (full_screen == 1 ? " full" : ""));
  return placement != nullptr;
}

void desktop_run() {
  note("run");
}

void desktop_destroy_window(PlatformWindow*) {
  note("destroy");
}

bool desktop_read_placement(const PlatformWindow*, WindowPlacement*) {
  return false;
}

void desktop_set_opacity(PlatformWindow*, std::uint32_t alpha) {
  note("opacity " + std::to_string(alpha));
}

void desktop_set_topmost(PlatformWindow*, std::uint32_t on_top) {
  note("topmost " + std::to_string(on_top));
}

void desktop_set_full_screen(PlatformWindow*, std::uint32_t full_screen) {
  note("full screen " + std::to_string(full_screen));
}

PlatformWindow* headless_window() {
  return the_window;
}

std::vector<std::string> headless_titles() {
  std::lock_guard<std::mutex> hold(record_lock);
  return titles;
}

std::vector<std::int32_t> headless_commands() {
  std::lock_guard<std::mutex> hold(record_lock);
  return commands;
}

std::vector<std::string> headless_calls() {
  std::lock_guard<std::mutex> hold(record_lock);
  return calls;
}

int headless_repaints() {
  std::lock_guard<std::mutex> hold(record_lock);
  return repaints;
}

void headless_reset() {
  headless_script(0, true, true, "");
  std::lock_guard<std::mutex> hold(record_lock);
  titles.clear();
  commands.clear();
  calls.clear();
  repaints = 0;
}

namespace {

std::int32_t menu_choice = 0;
std::vector<MenuItem> last_menu;
bool answer_yes = true;
bool trash_works = true;
std::string chosen_path;
void (*while_asking)(void*) = nullptr;
void* while_asking_context = nullptr;

}  // namespace

std::int32_t desktop_track_menu(PlatformWindow*, const std::vector<MenuItem>& items) {
  std::lock_guard<std::mutex> hold(record_lock);
  last_menu = items;
  return menu_choice;
}

bool desktop_open_with_default(const char* path) {
  note(std::string("open ") + path);
  return true;
}

bool desktop_choose_folder(PlatformWindow*, char* destination) {
  note("choose folder");
  if (chosen_path.empty() || chosen_path.size() >= kPathBytes) return false;
  std::strcpy(destination, chosen_path.c_str());
  return true;
}

bool desktop_choose_file(PlatformWindow*, char* buffer, const char* image_patterns,
                         std::int32_t* filter_index) {
  note(std::string("choose file at ") + buffer + " filter " + std::to_string(*filter_index) +
       " images " + image_patterns);
  if (chosen_path.empty() || chosen_path.size() >= kPathBytes) return false;
  std::strcpy(buffer, chosen_path.c_str());
  return true;
}

bool desktop_ask_yes_no(PlatformWindow*, const char* title, const char* text) {
  note(std::string("ask ") + title + ": " + text);
  if (while_asking != nullptr) while_asking(while_asking_context);
  return answer_yes;
}

void desktop_show_error(PlatformWindow*, const char* title, const char* text) {
  note(std::string("error ") + title + ": " + text);
}

bool desktop_notify(const char* title, const char* text) {
  note(std::string("notify ") + title + ": " + text);
  return true;
}

bool desktop_move_to_trash(const char* path) {
  note(std::string("trash ") + path);
  return trash_works;
}

void desktop_about_box(PlatformWindow*, const char* program_folder, const char* data_folder) {
  note(std::string("about ") + program_folder + " " + data_folder);
}

std::string desktop_find_file(PlatformWindow*, FindReader read, void* context) {
  // The script's chosen text is typed; the first match is chosen.
  std::string typed;
  {
    std::lock_guard<std::mutex> hold(record_lock);
    typed = chosen_path;
  }
  std::vector<std::string> paths;
  read(context, typed.c_str(), &paths);
  note("find " + typed + ": " + std::to_string(paths.size()));
  return paths.empty() ? std::string() : paths.front();
}

void desktop_catalog_report(ReportReader read, void* context) {
  // Read as the dialog would until the build says it has ended.
  ReportSnapshot snapshot{};
  std::string log;
  do {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    read(context, &snapshot);
    if (snapshot.log_changed) log = snapshot.log;
  } while (!snapshot.finished);
  note("report " + snapshot.status + ":" + log);
}

void headless_while_asking(void (*during)(void* context), void* context) {
  while_asking = during;
  while_asking_context = context;
}

void headless_script(std::int32_t menu, bool yes, bool trash, const std::string& chosen) {
  std::lock_guard<std::mutex> hold(record_lock);
  menu_choice = menu;
  answer_yes = yes;
  trash_works = trash;
  chosen_path = chosen;
}

std::vector<MenuItem> headless_last_menu() {
  std::lock_guard<std::mutex> hold(record_lock);
  return last_menu;
}
