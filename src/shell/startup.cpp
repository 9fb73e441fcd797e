// Start-up: the command line read (shell/command_line.cpp), then what its
// switch or the viewer needs (the data folder, the instance lock, the
// settings); and the tokenizer of command lines given as one text.
#include <string>
#include <vector>

#include "navigation/navigation.h"
#include "ports/console.h"
#include "ports/files.h"
#include "ports/instance.h"
#include "settings/settings.h"
#include "shell/shell.h"
#include "shell/startup.h"
#include "text/text.h"

namespace {

constexpr char kQuotesInside = static_cast<char>(0xFE);

// The image or folder named on the command line. An image's folder is
// viewed, starting at it; a folder is viewed from its first file (a random
// one in the random modes); either way the folder viewed before goes into
// the recent folders. For a path that names nothing the remembered image is
// shown, or, with none, the window's first title says the path is missing.
void take_argument(AppState& state, const char* argument) {
  char current[kPathBytes];
  char absolute[kPathBytes];
  const bool named =
      current_folder(current, sizeof current) >= 0 && normalise_path(argument, current, absolute);
  if (named && stat_file_size(absolute) < 0 && is_folder(absolute)) {
    remember_folder(state.settings, state.settings.view_folder);
    copy_text(absolute, state.settings.view_folder);
    // Matches no file, so the first request starts the folder afresh.
    state.settings.image_path[0] = '\0';
    return;
  }
  if (named && stat_file_size(absolute) >= 0) {
    copy_text(absolute, state.settings.image_path);
  } else if (state.settings.image_path[0] == '\0') {
    copy_text(named ? absolute : argument, state.viewer.image.title_path);
    state.viewer.image.title_kind = TitleKind::missing;
    return;
  }
  char folder[kPathBytes];
  copy_text(state.settings.image_path, folder);
  strip_to_folder(folder);
  remember_folder(state.settings, state.settings.view_folder);
  copy_text(folder, state.settings.view_folder);
}

}  // namespace

std::int32_t extract_argument(const char* command_line, std::uint32_t index,
                              std::string* argument) {
  std::string line = command_line;
  std::size_t quotes = 0;
  for (const char c : line) quotes += c == '"';
  if (quotes % 2 != 0) return kArgumentOddQuotes;
  bool quoted = false;
  for (char& c : line) {
    if (c == '\t') c = ' ';
    if (c == '"') {
      quoted = !quoted;
    } else if (quoted && c == ' ') {
      c = kQuotesInside;
    }
  }
  std::size_t at = line.find_first_not_of(' ');
  if (at == std::string::npos) at = line.size();
  argument->clear();
  for (std::uint32_t skipped = 0; skipped < index; ++skipped) {
    const std::size_t end = line.find(' ', at);
    // Ended inside this argument: there is no next one. A run of blanks at
    // the very end starts one more, empty argument.
    if (end == std::string::npos) return kArgumentMissing;
    at = line.find_first_not_of(' ', end);
    if (at == std::string::npos) at = line.size();
  }
  std::size_t end = line.find(' ', at);
  if (end == std::string::npos) end = line.size();
  for (std::size_t i = at; i < end; ++i) {
    if (line[i] == '"') continue;
    argument->push_back(line[i] == kQuotesInside ? ' ' : line[i]);
  }
  return argument->empty() ? kArgumentEmpty : kArgumentCopied;
}

std::int32_t get_command_argument(const char* command_line, std::uint32_t index,
                                  char* destination) {
  std::string argument;
  const std::int32_t code = extract_argument(command_line, index, &argument);
  if (code == kArgumentOddQuotes) return code;
  if (argument.size() >= kPathBytes) return kArgumentOddQuotes;
  copy_text(argument.c_str(), destination);
  return code;
}

std::vector<std::string> split_command_line(const char* command_line) {
  std::vector<std::string> arguments;
  std::string argument;
  for (std::uint32_t index = 0;; ++index) {
    const std::int32_t code = extract_argument(command_line, index, &argument);
    // Started as with no arguments.
    if (code == kArgumentOddQuotes) return {std::string()};
    // An empty argument ends the line for the caller too.
    if (code == kArgumentCopied || code == kArgumentEmpty) arguments.push_back(argument);
    if (code != kArgumentCopied) break;
  }
  return arguments;
}

namespace {

// Ends a switch's run or the start-up, once the switch has what it needs.
int run_switch(AppState& state, Invocation& call, bool writes, bool* settings_loaded) {
  if (call.row != nullptr && call.row->needs == SwitchNeeds::data_folder) {
    return call.row->run(state, call);
  }
  // Kept with the data files it guards, so that another login of the same
  // user sees it too. A dry run makes no lock file where there is none.
  const bool alone = call.row != nullptr && call.row->needs == SwitchNeeds::exclusive_lock;
  call.lock = claim_instance_lock(state.data.folder, "Tessmira.exe",
                                  alone ? LockUse::exclusive : LockUse::shared, writes);
  // What a save cut short left behind; another instance may be saving now.
  if (call.lock == InstanceLock::held && writes) discard_interrupted_saves(state.data);
  SettingsDamage damage = SettingsDamage::none;
  *settings_loaded = load_settings(state.settings, state.extra, state.data,
                                   writes ? DiskUse::write : DiskUse::read_only, &damage);
  state.window.settings_set_aside = damage == SettingsDamage::set_aside;
  // Told once: the damaged file is set aside, so the next start reads the new one.
  if (damage == SettingsDamage::set_aside) {
    shell_say((std::string("the settings file was damaged; it was renamed ") + kSettingsAside +
               " and the defaults are used")
                  .c_str());
  } else if (damage == SettingsDamage::left) {
    shell_say(
        "the settings file is damaged; the defaults are used (a run that writes sets it "
        "aside)");
  }
  if (call.row != nullptr) return call.row->run(state, call);
  if (call.image != nullptr) take_argument(state, call.image);
  return kViewerWanted;
}

}  // namespace

int start_program(AppState& state, int argc, char** argv, bool* settings_loaded) {
  Invocation call;
  if (const int status = read_command_line(argc, argv, &call); status != kViewerWanted) {
    return status;
  }
  if (call.row != nullptr && call.row->needs == SwitchNeeds::nothing) {
    return call.row->run(state, call);
  }
  // A dry run writes nothing anywhere: not the data folder, the lock, the
  // clean-up nor the damaged settings' setting aside.
  const bool writes = !call.dry_run;
  choose_data_folder(state.data, writes ? DiskUse::write : DiskUse::read_only);
  return run_switch(state, call, writes, settings_loaded);
}
