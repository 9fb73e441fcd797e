#include "commands/commands.h"

#include <mutex>

#include "catalog/catalog.h"
#include "catalog/finder.h"
#include "image/image.h"
#include "navigation/navigation.h"
#include "ports/associations.h"
#include "ports/desktop.h"
#include "ports/files.h"
#include "ports/folders.h"
#include "settings/settings.h"
#include "state/version.h"
#include "text/text.h"

namespace {

constexpr char kTrashQuestion[] = "Move this file to the trash?\n";

// Changes view_folder (under the lock the worker reads it with), then asks
// for the list to be rebuilt.
template <typename Change>
void view_and_rebuild(AppState& state, Change change) {
  {
    std::lock_guard<std::mutex> hold(state.viewer.texts);
    change(state.settings);
  }
  request_rebuild(state.viewer);
}

void set_text(AppState& state, char* field, const char* text) {
  std::lock_guard<std::mutex> hold(state.viewer.texts);
  copy_text(text, field);
}

void choose_recent_folder(AppState& state, std::uint32_t n) {
  char folder[kPathBytes];
  copy_text(state.settings.recent_folders[n], folder);
  promote_recent_folder(state.settings, n);
  view_and_rebuild(state, [&](SettingsBlock& block) {
    remember_folder(state.settings, block.view_folder);
    copy_text(folder, block.view_folder);
  });
}

void select_folder(AppState& state) {
  char chosen[kPathBytes];
  if (!desktop_choose_folder(state.viewer.window, chosen)) return;
  view_and_rebuild(state, [&](SettingsBlock& block) {
    remember_folder(state.settings, block.view_folder);
    copy_text(chosen, block.view_folder);
  });
}

void select_file(AppState& state) {
  char buffer[kPathBytes];
  {
    std::lock_guard<std::mutex> hold(state.viewer.texts);
    copy_text(state.settings.image_path, buffer);
  }
  // Opens at the current image, or in the documents folder when it is gone.
  if (!file_readable(buffer) && user_folder(UserFolder::documents, buffer, kPathBytes) < 0) {
    buffer[0] = '\0';
  }
  if (desktop_choose_file(state.viewer.window, buffer,
                          picture_patterns(state.settings, state.extra).c_str(),
                          &state.window.open_file_request.filter_index)) {
    open_image_file(state.viewer, state.settings, buffer);
  }
}

void toggle_translucency(AppState& state) {
  if (state.settings.translucent == 0) {
    set_translucency(state.viewer.window, state.settings.translucency_alpha);
    state.settings.translucent = 1;
  } else {
    desktop_set_opacity(state.viewer.window, 255);
    state.settings.translucent = 0;
  }
}

void toggle_full_screen(AppState& state) {
  if (state.settings.full_screen == 0) {
    state.settings.full_screen = 1;
    desktop_set_full_screen(state.viewer.window, 1);
    set_topmost(state.viewer.window, 1);
  } else {
    state.settings.full_screen = 0;
    desktop_set_full_screen(state.viewer.window, 0);
    set_topmost(state.viewer.window, state.settings.always_on_top);
  }
}

// The types named by their endings in capitals ("BMP"), as the
// associations are written: the new ones first, so that where one type has
// several endings (a desktop's default is per type) JPG, written last as
// always, is the one that stays.
std::vector<std::string> association_extensions(const AppState& state) {
  std::vector<std::string> extensions;
  for (const PictureEnding& row : kPictureEndings) {
    if (row.type < kTypeJpeg || !picture_type_listed(state.settings, state.extra, row.type))
      continue;
    std::string extension = row.ending + 1;
    for (char& c : extension) c = static_cast<char>(c - 'a' + 'A');
    extensions.push_back(extension);
  }
  for (const char* first : {"BMP", "GIF", "JPG"}) extensions.emplace_back(first);
  return extensions;
}

void set_associations(AppState& state) {
  const char* question = state.extra.more_picture_types.load()
                             ? "Set Tessmira to open all JPG, PNG, GIF, BMP, WebP,\n"
                               "TIFF, AVIF, HEIC and JPEG XL files?"
                             : "Set Tessmira to open all JPG\nBMP and GIF files?";
  if (!desktop_ask_yes_no(state.viewer.window, kProgramTitle, question)) return;
  char program[kPathBytes];
  copy_text(state.data.program_path, program);
  bool done = true;
  for (const std::string& extension : association_extensions(state)) {
    done = register_extension(program, extension.c_str(), (extension + " File").c_str()) && done;
  }
  if (!done) {
    desktop_show_error(state.viewer.window, kProgramTitle,
                       "The file associations could not be written.");
  }
}

}  // namespace

void set_translucency(PlatformWindow* window, std::uint32_t alpha) {
  desktop_set_opacity(window, alpha);
}

void set_topmost(PlatformWindow* window, std::uint32_t flag) {
  desktop_set_topmost(window, flag == 1 ? 1 : 0);
}

void set_advance_ticks(WorkerProtocol& worker, const SettingsBlock& settings) {
  // One second less than the menu says, counted in 500 ms ticks.
  static const std::uint32_t ticks[] = {0, 8, 18, 38, 58, 88, 118};
  const std::uint32_t setting = read_shared(settings.advance_setting);
  worker.advance_ticks = setting < 7 ? ticks[setting] : 2 * setting;
}

void show_context_menu(AppState& state) {
  const std::int32_t chosen = desktop_track_menu(state.viewer.window, build_context_menu(state));
  if (chosen != 0) desktop_post_command(state.viewer.window, chosen);
}

void open_help(const DataFolder& data) {
  // A missing page is still asked for: the opener tells the user it is not there.
  char path[kPathBytes];
  shipped_file_path(data, "ReadMe.htm", path);
  if (path[0] != '\0') desktop_open_with_default(path);
}

void delete_current_file(AppState& state) {
  // Held for the whole question: no step or auto-advance changes the
  // picture under it.
  if (!claim_loader_busy(state.viewer.worker)) return;
  char next[kPathBytes];
  char shown[kPathBytes];
  {
    std::lock_guard<std::mutex> hold(state.viewer.texts);
    copy_text(state.settings.view_folder, next);
    copy_text(state.settings.image_path, shown);
  }
  // The path is shorter than a slot, so the question always fits.
  char question[sizeof kTrashQuestion + kPathBytes];
  copy_text(kTrashQuestion, question);
  append_text(question, shown);
  // No changes nothing: the index moves on only once the answer is Yes.
  if (shown[0] != '\0' && desktop_ask_yes_no(state.viewer.window, kProgramTitle, question)) {
    if (length_of_text(next) >= shortest_root() &&
        state.viewer.worker.request_kind.load() == RequestKind::step) {
      // A linear pick of the same depth: never a draw.
      const SelectMode order =
          is_deep(select_mode_of(state.settings)) ? SelectMode::deep_linear : SelectMode::linear;
      const std::uint32_t index =
          static_cast<std::uint32_t>(state.viewer.worker.current_index.load()) + 1;
      state.viewer.worker.current_index =
          index >= state.viewer.worker.file_count.load() ? 0 : static_cast<std::int32_t>(index);
      // The file after the deleted one in list order, in every mode.
      const Pick pick{state.viewer, state.settings, state.extra, state.scans, take_ahead_pick};
      pick_file(pick, next, order, state.viewer.worker.current_index.load(), RequestKind::step);
    }
    if (desktop_move_to_trash(shown)) {
      if (next[0] != '\0') set_text(state, state.settings.image_path, next);
      request_rebuild(state.viewer);
    } else {
      desktop_show_error(state.viewer.window, kProgramTitle,
                         "The file could not be moved to the trash; it was not deleted.");
    }
  }
  state.viewer.worker.loader_busy.store(0, std::memory_order_release);
}

namespace {

// The commands' own steps, in the table's form: argument is the row's.

void show_about(AppState& state, std::uint32_t) {
  if (state.window.about_open != 0) return;
  state.window.about_open = 1;
  desktop_about_box(state.viewer.window, state.data.program_path, state.data.folder);
  state.window.about_open = 0;
}
void help(AppState& state, std::uint32_t) {
  open_help(state.data);
}
void exit_viewer(AppState& state, std::uint32_t) {
  // The worker stops within a tick and posts 2071, which saves and ends.
  if (state.viewer.worker.stop_counter.load() < kStopRequested) {
    state.viewer.worker.stop_counter = kStopRequested;
  }
  wake_worker(state.viewer.worker);
}
void view_current_folder(AppState& state, std::uint32_t) {
  view_and_rebuild(state, [](SettingsBlock& block) {
    copy_text(block.image_path, block.view_folder);
    strip_to_folder(block.view_folder);
  });
}
void show_catalog(AppState& state, std::uint32_t) {
  catalog_report(state.catalog, state.data, state.scans);
}
void read_matches(void* context, const char* pattern, std::vector<std::string>* paths) {
  *paths = find_paths(*static_cast<const FindIndex*>(context), pattern, kFindListed);
}
void find_file(AppState& state, std::uint32_t) {
  FindIndex index;
  std::string problem;
  if (!find_index_open(state.data, &index, &problem)) {
    desktop_show_error(state.viewer.window, "Find File",
                       ("Nothing can be found: " + problem).c_str());
    return;
  }
  const std::string chosen = desktop_find_file(state.viewer.window, read_matches, &index);
  find_index_close(&index);
  // Shown with its folder, which the steps then go through.
  if (!chosen.empty()) open_image_file(state.viewer, state.settings, chosen.c_str());
}
void view_lower_folder(AppState& state, std::uint32_t) {
  view_and_rebuild(state, [](SettingsBlock& block) { strip_to_folder(block.view_folder); });
}
void open_folder(AppState& state, std::uint32_t) {
  desktop_open_with_default(state.settings.view_folder);
}
void choose_folder(AppState& state, std::uint32_t) {
  select_folder(state);
}
void delete_file(AppState& state, std::uint32_t) {
  delete_current_file(state);
}
void execute_file(AppState& state, std::uint32_t) {
  desktop_open_with_default(state.settings.image_path);
}
void resync(AppState& state, std::uint32_t) {
  request_rebuild(state.viewer);
}
void transparent(AppState& state, std::uint32_t) {
  toggle_translucency(state);
}
void on_top(AppState& state, std::uint32_t) {
  state.settings.always_on_top = state.settings.always_on_top == 0 ? 1 : 0;
  set_topmost(state.viewer.window, state.settings.always_on_top);
}
void choose_advance(AppState& state, std::uint32_t setting) {
  write_shared(state.settings.advance_setting, setting);
  set_advance_ticks(state.viewer.worker, state.settings);
}
// The table's argument of a mode's row is the mode's stored number.
void choose_mode(AppState& state, std::uint32_t mode) {
  set_select_mode(state.settings, static_cast<SelectMode>(mode));
  request_rebuild(state.viewer);
}
void choose_recent(AppState& state, std::uint32_t n) {
  choose_recent_folder(state, n);
}
void save_and_destroy(AppState& state, std::uint32_t) {
  save_settings(state.settings, state.extra, state.data, state.viewer.texts, state.viewer.window);
  // Later posts from the worker find no window and are dropped.
  PlatformWindow* window = state.viewer.window.exchange(nullptr);
  desktop_destroy_window(window);
}
void more_types(AppState& state, std::uint32_t) {
  state.extra.more_picture_types = !state.extra.more_picture_types.load();
  request_rebuild(state.viewer);
}
void colour_management(AppState& state, std::uint32_t) {
  state.extra.colour_management = !state.extra.colour_management.load();
  request_recolour(state.viewer);
}
void associations(AppState& state, std::uint32_t) {
  set_associations(state);
}
void choose_file(AppState& state, std::uint32_t) {
  select_file(state);
}
void full_screen(AppState& state, std::uint32_t) {
  toggle_full_screen(state);
}

bool advance_is(const AppState& state, std::uint32_t setting) {
  return state.settings.advance_setting == setting;
}
bool mode_is(const AppState& state, std::uint32_t mode) {
  return select_mode_of(state.settings) == static_cast<SelectMode>(mode);
}
bool translucent(const AppState& state, std::uint32_t) {
  return state.settings.translucent == 1;
}
bool always_on_top(const AppState& state, std::uint32_t) {
  return state.settings.always_on_top == 1;
}
bool in_full_screen(const AppState& state, std::uint32_t) {
  return state.settings.full_screen == 1;
}
bool more_types_listed(const AppState& state, std::uint32_t) {
  return state.extra.more_picture_types.load();
}
bool colours_managed(const AppState& state, std::uint32_t) {
  return state.extra.colour_management.load();
}
const char* recent_folder(const AppState& state, std::uint32_t n) {
  return state.settings.recent_folders[n];
}

// One command: its id, where the context menu shows it and what it does.
struct CommandRow {
  std::int32_t id = 0;            // 0: a separator in the menu's top level
  const char* submenu = nullptr;  // the submenu holding the entry; null: the top level
  const char* text = nullptr;     // the entry's text; null with no label: not in the menu
  const char* (*label)(const AppState& state, std::uint32_t argument) = nullptr;  // read anew
  void (*action)(AppState& state, std::uint32_t argument) = nullptr;
  bool (*checked)(const AppState& state, std::uint32_t argument) = nullptr;  // null: no mark
  std::uint32_t argument = 0;  // which one of a family: a setting, a mode, a recent entry
};

constexpr CommandRow kSeparator = {};

// The rows of the three families: entry n of the recent folders, advance
// setting n and selection mode n, each with its id.
constexpr CommandRow recent(std::uint32_t n) {
  return {.id = kCommandRecentFirst + static_cast<std::int32_t>(n),
          .submenu = "Recent Folders",
          .label = recent_folder,
          .action = choose_recent,
          .argument = n};
}
// A checked choice n of a submenu whose ids start at first.
constexpr CommandRow choice(std::int32_t first, const char* submenu, std::uint32_t n,
                            const char* text, void (*action)(AppState&, std::uint32_t),
                            bool (*checked)(const AppState&, std::uint32_t)) {
  return {.id = first + static_cast<std::int32_t>(n),
          .submenu = submenu,
          .text = text,
          .action = action,
          .checked = checked,
          .argument = n};
}
constexpr CommandRow advance(std::uint32_t n, const char* text) {
  return choice(kCommandAdvanceFirst, "Auto Advance", n, text, choose_advance, advance_is);
}
constexpr CommandRow mode(std::uint32_t n, const char* text) {
  return choice(kCommandModeFirst, "Select Mode", n, text, choose_mode, mode_is);
}

// Every command, in the order of the context menu.
constexpr CommandRow kCommandTable[] = {
    {.id = kCommandAbout, .text = "About", .action = show_about},
    {.id = kCommandHelp, .text = "Help", .action = help},
    kSeparator,
    {.id = kCommandDelete, .text = "Delete File", .action = delete_file},
    {.id = kCommandExecute, .text = "Execute", .action = execute_file},
    kSeparator,
    {.id = kCommandSelectFile, .text = "Select File...", .action = choose_file},
    {.id = kCommandSelectFolder, .text = "Select Folder...", .action = choose_folder},
    recent(0),
    recent(1),
    recent(2),
    recent(3),
    recent(4),
    recent(5),
    recent(6),
    recent(7),
    recent(8),
    recent(9),
    {.id = kCommandCurrentFolder,
     .text = "Change to current directory",
     .action = view_current_folder},
    {.id = kCommandLowerFolder, .text = "Change to lower directory", .action = view_lower_folder},
    {.id = kCommandOpenFolder, .text = "Open Current Dir", .action = open_folder},
    {.id = kCommandResync, .text = "Resync List", .action = resync},
    kSeparator,
    advance(0, "Off"),
    advance(1, "5 Seconds"),
    advance(2, "10 Seconds"),
    advance(3, "20 Seconds"),
    advance(4, "30 Seconds"),
    advance(5, "45 Seconds"),
    advance(6, "60 Seconds"),
    mode(0, "Linear"),
    mode(1, "Deep Linear"),
    mode(2, "Random"),
    mode(3, "Deep Random"),
    kSeparator,
    {.id = kCommandTransparent,
     .text = "Transparent",
     .action = transparent,
     .checked = translucent},
    {.id = kCommandOnTop, .text = "On Top", .action = on_top, .checked = always_on_top},
    {.id = kCommandFullScreen,
     .text = "Full Screen",
     .action = full_screen,
     .checked = in_full_screen},
    {.id = kCommandMoreTypes,
     .text = "More Picture Types",
     .action = more_types,
     .checked = more_types_listed},
    {.id = kCommandColourManagement,
     .text = "Colour Management",
     .action = colour_management,
     .checked = colours_managed},
    {.id = kCommandAssociations,
     .submenu = "Settings",
     .text = "Set file associations",
     .action = associations},
    kSeparator,
    {.id = kCommandCatalog, .text = "Catalog", .action = show_catalog},
    {.id = kCommandFindFile, .text = "Find File...", .action = find_file},
    kSeparator,
    {.id = kCommandExit, .text = "Exit", .action = exit_viewer},
    {.id = kCommandWorkerStopped, .action = save_and_destroy},
};

}  // namespace

std::vector<MenuItem> build_context_menu(const AppState& state) {
  std::vector<MenuItem> menu;
  for (const CommandRow& row : kCommandTable) {
    const char* text = row.label != nullptr ? row.label(state, row.argument) : row.text;
    if (row.id != 0 && text == nullptr) continue;  // a command without an entry
    MenuItem item{row.id != 0 ? text : "",
                  row.id,
                  row.checked != nullptr && row.checked(state, row.argument),
                  {}};
    if (row.submenu == nullptr) {
      menu.push_back(std::move(item));
      continue;
    }
    if (menu.empty() || menu.back().items.empty() || menu.back().text != row.submenu) {
      menu.push_back(MenuItem{row.submenu, 0, false, {}});
    }
    menu.back().items.push_back(std::move(item));
  }
  return menu;
}

void handle_command(AppState& state, std::int32_t id) {
  if (id == 0) return;
  for (const CommandRow& row : kCommandTable) {
    if (row.id == id) {
      row.action(state, row.argument);
      return;
    }
  }
}
