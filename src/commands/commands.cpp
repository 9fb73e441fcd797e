#include "commands/commands.h"

#include <mutex>

#include "image/image.h"
#include "navigation/navigation.h"
#include "platform/associations.h"
#include "platform/desktop.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "settings/settings.h"
#include "shell/shell.h"
#include "text/text.h"

namespace {

constexpr char kProgramTitle[] = "Tessmira 1.0";
constexpr char kTrashQuestion[] = "Move this file to the trash?\n";

// Changes view_folder (under the lock the worker reads it with), then asks
// for the list to be rebuilt.
template <typename Change>
void view_and_rebuild(AppState& state, Change change) {
  {
    std::lock_guard<std::mutex> hold(state.shared_text_lock);
    change(state.settings);
  }
  request_rebuild(state);
}

void set_text(AppState& state, char* field, const char* text) {
  std::lock_guard<std::mutex> hold(state.shared_text_lock);
  copy_text(text, field);
}

void choose_recent_folder(AppState& state, std::uint32_t n) {
  char folder[kPathBytes];
  copy_text(state.settings.recent_folders[n], folder);
  promote_recent_folder(state, n);
  view_and_rebuild(state, [&](SettingsBlock& block) {
    remember_folder(state, block.view_folder);
    copy_text(folder, block.view_folder);
  });
}

void select_folder(AppState& state) {
  char chosen[kPathBytes];
  if (!desktop_choose_folder(state.main_window, chosen)) return;
  view_and_rebuild(state, [&](SettingsBlock& block) {
    remember_folder(state, block.view_folder);
    copy_text(chosen, block.view_folder);
  });
}

void select_file(AppState& state) {
  char buffer[kPathBytes];
  {
    std::lock_guard<std::mutex> hold(state.shared_text_lock);
    copy_text(state.settings.image_path, buffer);
  }
  // Opens at the current image, or in the documents folder when it is gone.
  if (!file_readable(buffer) && user_folder(UserFolder::documents, buffer, kPathBytes) < 0) {
    buffer[0] = '\0';
  }
  if (desktop_choose_file(state.main_window, buffer, &state.open_file_request.filter_index)) {
    open_image_file(state, buffer);
  }
}

void toggle_translucency(AppState& state) {
  if (state.settings.translucent == 0) {
    set_translucency(state, state.settings.translucency_alpha);
    state.settings.translucent = 1;
  } else {
    desktop_set_opacity(state.main_window, 255);
    state.settings.translucent = 0;
  }
}

void toggle_full_screen(AppState& state) {
  if (state.settings.full_screen == 0) {
    state.settings.full_screen = 1;
    desktop_set_full_screen(state.main_window, 1);
    set_topmost(state, 1);
  } else {
    state.settings.full_screen = 0;
    desktop_set_full_screen(state.main_window, 0);
    set_topmost(state, state.settings.always_on_top);
  }
}

void set_associations(AppState& state) {
  if (!desktop_ask_yes_no(state.main_window, kProgramTitle,
                          "Set Tessmira to open all JPG\nBMP and GIF files?")) {
    return;
  }
  char program[kPathBytes];
  copy_text(state.program_path, program);
  const bool done = register_extension(program, "BMP", "BMP File") == 0 &&
                    register_extension(program, "GIF", "GIF File") == 0 &&
                    register_extension(program, "JPG", "JPG File") == 0;
  if (!done) {
    desktop_show_error(state.main_window, kProgramTitle,
                       "The file associations could not be written.");
  }
}

MenuItem item(const char* text, std::int32_t id, bool checked = false) {
  return MenuItem{text, id, checked, {}};
}
MenuItem separator() {
  return MenuItem{"", 0, false, {}};
}
MenuItem submenu(const char* text, std::vector<MenuItem> items) {
  return MenuItem{text, 0, false, std::move(items)};
}

}  // namespace

void set_translucency(AppState& state, std::uint32_t alpha) {
  desktop_set_opacity(state.main_window, alpha);
}

void set_topmost(AppState& state, std::uint32_t flag) {
  desktop_set_topmost(state.main_window, flag == 1 ? 1 : 0);
}

void set_advance_ticks(AppState& state) {
  // One second less than the menu says, counted in 500 ms ticks.
  static const std::uint32_t ticks[] = {0, 8, 18, 38, 58, 88, 118};
  const std::uint32_t setting = read_shared(state.settings.advance_setting);
  state.advance_ticks = setting < 7 ? ticks[setting] : 2 * setting;
}

std::vector<MenuItem> build_context_menu(const AppState& state) {
  const SettingsBlock& s = state.settings;
  std::vector<MenuItem> recent;
  for (std::uint32_t n = 0; n < kRecentFolderCount; ++n) {
    recent.push_back(item(s.recent_folders[n], kCommandRecentFirst + static_cast<std::int32_t>(n)));
  }
  static const char* const advance_texts[] = {
      "Off", "5 Seconds", "10 Seconds", "20 Seconds", "30 Seconds", "45 Seconds", "60 Seconds"};
  std::vector<MenuItem> advance;
  for (std::uint32_t n = 0; n < 7; ++n) {
    advance.push_back(item(advance_texts[n], kCommandAdvanceFirst + static_cast<std::int32_t>(n),
                           s.advance_setting == n));
  }
  static const char* const mode_texts[] = {"Linear", "Deep Linear", "Random", "Deep Random"};
  std::vector<MenuItem> modes;
  for (std::uint32_t n = 0; n < 4; ++n) {
    modes.push_back(
        item(mode_texts[n], kCommandModeFirst + static_cast<std::int32_t>(n), s.select_mode == n));
  }
  return {item("About", kCommandAbout),
          item("Help", kCommandHelp),
          separator(),
          item("Delete File", kCommandDelete),
          item("Execute", kCommandExecute),
          separator(),
          item("Select File...", kCommandSelectFile),
          item("Select Folder...", kCommandSelectFolder),
          submenu("Recent Folders", std::move(recent)),
          item("Change to current directory", kCommandCurrentFolder),
          item("Change to lower directory", kCommandLowerFolder),
          item("Open Current Dir", kCommandOpenFolder),
          item("Resync List", kCommandResync),
          separator(),
          submenu("Auto Advance", std::move(advance)),
          submenu("Select Mode", std::move(modes)),
          separator(),
          item("Transparent", kCommandTransparent, s.translucent == 1),
          item("On Top", kCommandOnTop, s.always_on_top == 1),
          item("Full Screen", kCommandFullScreen, s.full_screen == 1),
          submenu("Settings", {item("Set file associations", kCommandAssociations)}),
          separator(),
          item("Catalog", kCommandCatalog),
          separator(),
          item("Exit", kCommandExit)};
}

void show_context_menu(AppState& state) {
  const std::int32_t chosen = desktop_track_menu(state.main_window, build_context_menu(state));
  if (chosen != 0) desktop_post_command(state.main_window, chosen);
}

void open_help(AppState& state) {
  char path[kPathBytes];
  if (length_of_text(state.program_path) + sizeof "ReadMe.htm" > kPathBytes) return;
  copy_text(state.program_path, path);
  append_text(path, "ReadMe.htm");
  desktop_open_with_default(path);
}

void delete_current_file(AppState& state) {
  if (claim_loader_busy(state) != 1) return;
  char next[kPathBytes];
  char shown[kPathBytes];
  {
    std::lock_guard<std::mutex> hold(state.shared_text_lock);
    copy_text(state.settings.view_folder, next);
    copy_text(state.settings.image_path, shown);
  }
  if (next[0] != '\0' && state.request_kind.load() == 2) {
    const std::uint32_t mode = read_shared(state.settings.select_mode);
    const std::uint32_t deep = mode == 1 || mode == 3 ? 1 : 0;
    const std::uint32_t index = static_cast<std::uint32_t>(state.current_index.load()) + 1;
    state.current_index = index >= state.file_count.load() ? 0 : static_cast<std::int32_t>(index);
    // The file after the deleted one in list order, in every mode.
    pick_file(state, next, deep, state.current_index.load(), 2);
  }
  // The path is shorter than a slot, so the question always fits.
  char question[sizeof kTrashQuestion + kPathBytes];
  copy_text(kTrashQuestion, question);
  append_text(question, shown);
  if (shown[0] != '\0' && desktop_ask_yes_no(state.main_window, kProgramTitle, question)) {
    if (desktop_move_to_trash(shown)) {
      if (next[0] != '\0') set_text(state, state.settings.image_path, next);
      request_rebuild(state);
    } else {
      desktop_show_error(state.main_window, kProgramTitle,
                         "The file could not be moved to the trash; it was not deleted.");
    }
  }
  state.loader_busy.store(0, std::memory_order_release);
}

void handle_command(AppState& state, std::int32_t id) {
  if (id >= kCommandAdvanceFirst && id <= kCommandAdvanceFirst + 6) {
    write_shared(state.settings.advance_setting,
                 static_cast<std::uint32_t>(id - kCommandAdvanceFirst));
    set_advance_ticks(state);
    return;
  }
  if (id >= kCommandModeFirst && id <= kCommandModeFirst + 3) {
    write_shared(state.settings.select_mode, static_cast<std::uint32_t>(id - kCommandModeFirst));
    request_rebuild(state);
    return;
  }
  if (id >= kCommandRecentFirst &&
      id < kCommandRecentFirst + static_cast<std::int32_t>(kRecentFolderCount)) {
    choose_recent_folder(state, static_cast<std::uint32_t>(id - kCommandRecentFirst));
    return;
  }
  switch (id) {
    case kCommandAbout:
      if (state.about_open == 0) desktop_about_box(state);
      break;
    case kCommandHelp:
      open_help(state);
      break;
    case kCommandExit:
      // The worker stops within a tick and posts 2071, which saves and ends.
      if (state.stop_counter.load() < kStopRequested) state.stop_counter = kStopRequested;
      wake_worker(state);
      break;
    case kCommandCurrentFolder:
      view_and_rebuild(state, [](SettingsBlock& block) {
        copy_text(block.image_path, block.view_folder);
        strip_to_folder(block.view_folder);
      });
      break;
    case kCommandCatalog:
      desktop_catalog_report(state);
      break;
    case kCommandLowerFolder:
      view_and_rebuild(state, [](SettingsBlock& block) { strip_to_folder(block.view_folder); });
      break;
    case kCommandOpenFolder:
      desktop_open_with_default(state.settings.view_folder);
      break;
    case kCommandSelectFolder:
      select_folder(state);
      break;
    case kCommandDelete:
      delete_current_file(state);
      break;
    case kCommandExecute:
      desktop_open_with_default(state.settings.image_path);
      break;
    case kCommandResync:
      request_rebuild(state);
      break;
    case kCommandTransparent:
      toggle_translucency(state);
      break;
    case kCommandOnTop:
      state.settings.always_on_top = state.settings.always_on_top == 0 ? 1 : 0;
      set_topmost(state, state.settings.always_on_top);
      break;
    case kCommandSaveAndDestroy:
      save_settings(state);
      desktop_destroy_window(state.main_window);
      break;
    case kCommandAssociations:
      set_associations(state);
      break;
    case kCommandSelectFile:
      select_file(state);
      break;
    case kCommandFullScreen:
      toggle_full_screen(state);
      break;
    default:
      break;
  }
}
