#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "backup/backup.h"
#include "navigation/navigation.h"
#include "ports/clock.h"
#include "ports/console.h"
#include "ports/files.h"
#include "ports/instance.h"
#include "settings/settings.h"
#include "shell/shell.h"
#include "shell/startup.h"
#include "state/version.h"
#include "text/text.h"

namespace {

constexpr char kQuotesInside = static_cast<char>(0xFE);
constexpr char kUsageText[] =
    "Usage: tessmira [--] [IMAGE | FOLDER]\n"
    "       tessmira /b=FOLDER | --backup=FOLDER [--dry-run]\n"
    "       tessmira /r | --rotate [--dry-run]\n"
    "       tessmira --versions=PATH\n"
    "       tessmira --restore=PATH [--from=GEN] [--to=DEST] [--overwrite]\n"
    "       tessmira --verify=FOLDER\n"
    "       tessmira --catalog[=FOLDER]\n"
    "       tessmira --find=PATTERN\n"
    "\n"
    "With an image, shows it and steps through its folder; with a folder, steps\n"
    "through it from its first file; with no argument, reopens where the last\n"
    "run left off.\n"
    "  /b=FOLDER   copy the new and changed files of FOLDER's tree into the\n"
    "              newest backup generation F0 (also /B=)\n"
    "  /r          rotate the backup generations F0 to F9 and FX\n"
    "  --dry-run   with /b= or /r: tell what would be copied or moved, and\n"
    "              write nothing, e.g. tessmira /b=Pictures --dry-run\n"
    "  --versions=PATH\n"
    "              list every copy of the file PATH (or of every file below the\n"
    "              folder PATH) in the generations, newest first: generation,\n"
    "              size, write time and the copy's path, e.g.\n"
    "              tessmira --versions=Pictures/cat.jpg\n"
    "  --restore=PATH\n"
    "              copy back the newest copy of the file PATH, or of every file\n"
    "              below the folder PATH, with its write time; an existing file\n"
    "              that differs is left as it is, e.g.\n"
    "              tessmira --restore=Pictures/2024 --from=F2 --to=/tmp/2024\n"
    "    --from=GEN  as it stood in generation GEN (F0..F9, FX) or older\n"
    "    --to=DEST   written as DEST instead of the original path\n"
    "    --overwrite replaces existing files that differ from their copies\n"
    "  --verify=FOLDER\n"
    "              check that every file of FOLDER's tree has a newest copy that\n"
    "              reads back whole, as the catalog recorded it, and holds the\n"
    "              file's bytes where the file has not changed since, e.g.\n"
    "              tessmira --verify=Pictures\n"
    "  --catalog   add every file of the machine's drives to the catalog, and\n"
    "              mark those that are gone\n"
    "  --catalog=FOLDER\n"
    "              the same for FOLDER's tree only\n"
    "  --find=PATTERN\n"
    "              print the catalogued paths that contain PATTERN, ignoring\n"
    "              letter case; with * or ? it must match the whole path, as a\n"
    "              shell glob: tessmira --find=holiday, tessmira --find='*.png'\n"
    "              (exit 0 when something was found, 1 when nothing was)\n"
    "  --          ends the switches: what follows is an image or folder\n"
    "  --help      show this text\n"
    "  --version   show the version\n";

// Whether a progress line stands unfinished on the terminal, and when the
// run began and the line was last written (milliseconds).
bool progress_shown = false;
constexpr std::uint32_t kProgressMs = 250;
std::uint32_t progress_began = 0;
std::uint32_t progress_written = 0;

// A long run's progress line on a terminal, a few times a second: files
// and bytes done, the rate and the time left.
void show_progress(const RunProgress& done) {
  const std::uint32_t now = tick_count();
  const bool last = done.files_total > 0 && done.files_done >= done.files_total;
  if (progress_shown && now - progress_written < kProgressMs && !last) return;
  progress_written = now;
  const double seconds = (now - progress_began) / 1000.0;
  const double megabytes = static_cast<double>(done.bytes_done) / 1e6;
  std::uint64_t left = 0;
  if (done.files_done > 0 && done.files_total > done.files_done) {
    left = static_cast<std::uint64_t>(seconds *
                                      static_cast<double>(done.files_total - done.files_done) /
                                      static_cast<double>(done.files_done));
  }
  char line[160];  // numbers of at most 20 digits each: never cut
  const int length = std::snprintf(
      line, sizeof line, "\r%llu of %llu files, %.1f of %.1f MB, %.1f MB/s, %llu:%02llu left  ",
      static_cast<unsigned long long>(done.files_done),
      static_cast<unsigned long long>(done.files_total), megabytes,
      static_cast<double>(done.bytes_total) / 1e6, seconds > 0 ? megabytes / seconds : 0.0,
      static_cast<unsigned long long>(left / 60), static_cast<unsigned long long>(left % 60));
  if (length > 0 && length < static_cast<int>(sizeof line)) console_error(line);
  progress_shown = true;
}

// The progress line's sink for a run, when standard error is a terminal
// (else only the summary and the problems are written); an interrupt from
// then on stops the run between two files.
BackupProgress start_long_run() {
  catch_interrupt();
  progress_began = tick_count();
  progress_shown = false;
  return console_error_is_terminal() ? show_progress : nullptr;
}

// Ends the progress line; when an interrupt stopped the run, says so.
int end_long_run(bool stopped, int status) {
  if (progress_shown) console_error("\n");
  progress_shown = false;
  if (!stopped) return status;
  shell_say("stopped by an interrupt; nothing was left half written");
  return kExitInterrupted;
}

void show_message(const char* line) {
  if (progress_shown) console_error("\n");
  progress_shown = false;
  shell_say(line);
}

// A dry run's plan, one line each on standard output.
void show_planned(const char* line) {
  console_out(line);
  console_out("\n");
}

int run_backup(AppState& state, const char* folder, bool already_running, bool dry_run) {
  if (already_running) {
    shell_say("another Tessmira is running; no backup was made");
    return kExitFailed;
  }
  BackupReport report;
  const BackupProgress progress = start_long_run();
  const bool complete = backup_folder(state, folder, &report, dry_run ? nullptr : progress,
                                      show_message, dry_run ? show_planned : nullptr);
  if (progress_shown) console_error("\n");
  progress_shown = false;
  if (report.problem[0] != '\0') {
    std::string message = "no backup was made: ";
    shell_say((message + report.problem).c_str());
    return kExitFailed;
  }
  std::string line =
      std::to_string(report.copied) + (dry_run ? " files would be copied" : " files copied");
  if (report.failed > 0) line += ", " + std::to_string(report.failed) + " failed";
  if (report.skipped > 0) line += ", " + std::to_string(report.skipped) + " skipped";
  if (dry_run) line += "; nothing was written";
  console_out((line + "\n").c_str());
  return end_long_run(report.stopped, complete ? kExitDone : kExitFailed);
}

int run_versions(AppState& state, const char* path) {
  std::vector<FileVersion> versions;
  std::string problem;
  if (!list_versions(state, path, &versions, &problem)) {
    shell_say(("no copies were listed: " + problem).c_str());
    return kExitFailed;
  }
  for (const FileVersion& version : versions) console_out(version_line(version).c_str());
  if (versions.empty()) {
    shell_say((std::string("no copy of ") + path + " is in the backup generations").c_str());
    return kExitFailed;
  }
  return kExitDone;
}

int run_verify(AppState& state, const char* folder) {
  VerifyReport report;
  const bool sound = verify_folder(state, folder, &report, start_long_run(), show_message);
  end_long_run(false, kExitDone);
  if (report.problem[0] != '\0') {
    shell_say((std::string("nothing was verified: ") + report.problem).c_str());
    return kExitFailed;
  }
  std::string line = std::to_string(report.checked) + " files verified";
  line +=
      report.problems == 0 ? ", no problem" : ", " + std::to_string(report.problems) + " problems";
  if (report.missing > 0) line += " (" + std::to_string(report.missing) + " without a copy)";
  console_out((line + "\n").c_str());
  return end_long_run(report.stopped, sound ? kExitDone : kExitFailed);
}

// "--restore=PATH" and its options, from argument number on.
int run_restore(AppState& state, int argc, char** argv, int number) {
  const std::string path = argv[number] + 10;
  std::string to;
  RestoreRequest request{path.c_str(), 0, nullptr, false};
  for (int later = number + 1; later < argc && argv[later][0] != '\0'; ++later) {
    const std::string option = argv[later];
    if (option.rfind("--from=", 0) == 0 && generation_rank(option.c_str() + 7, &request.from)) {
      continue;
    }
    if (option.rfind("--to=", 0) == 0 && option.size() > 5 && option.size() < kPathBytes) {
      to = option.substr(5);
      request.destination = to.c_str();
      continue;
    }
    if (option == "--overwrite") {
      request.overwrite = true;
      continue;
    }
    shell_say(("unexpected argument after --restore=PATH: " + option +
               " (--from=F0..F9 or FX, --to=DEST, --overwrite)")
                  .c_str());
    return kExitUsage;
  }
  RestoreReport report;
  const bool complete = restore_files(state, request, &report, start_long_run(), show_message);
  end_long_run(false, kExitDone);
  if (report.problem[0] != '\0') {
    shell_say((std::string("nothing was restored: ") + report.problem).c_str());
    return kExitFailed;
  }
  std::string line = std::to_string(report.restored) + " files restored";
  if (report.identical > 0) line += ", " + std::to_string(report.identical) + " already there";
  if (report.refused > 0) line += ", " + std::to_string(report.refused) + " left as they were";
  if (report.failed > 0) line += ", " + std::to_string(report.failed) + " failed";
  console_out((line + "\n").c_str());
  return end_long_run(report.stopped, complete ? kExitDone : kExitFailed);
}

int run_rotation(AppState& state, bool already_running, bool dry_run) {
  if (already_running) {
    shell_say("another Tessmira is running; the generations were not rotated");
    return kExitFailed;
  }
  if (!is_absolute_path(state.settings.backup_root)) {
    shell_say("the backup root is not set; the generations were not rotated");
    return kExitFailed;
  }
  char generation[4];
  catch_interrupt();
  if (!rotate_backups(state, generation, shell_say, dry_run ? show_planned : nullptr)) {
    if (interrupted()) return end_long_run(true, kExitFailed);
    if (generation[0] != '\0') {
      shell_say(
          (std::string("the backup generation ") + generation + " could not be moved").c_str());
    }
    return kExitFailed;
  }
  if (dry_run) console_out("nothing was written\n");
  return kExitDone;
}

bool is_backup_switch(const std::string& word) {
  char prefix[4] = {};
  std::strncpy(prefix, word.c_str(), 3);
  lower_text(prefix);
  return std::strcmp(prefix, "/b=") == 0;
}

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
    remember_folder(state, state.settings.view_folder);
    copy_text(absolute, state.settings.view_folder);
    // Matches no file, so the first request starts the folder afresh.
    state.settings.image_path[0] = '\0';
    return;
  }
  if (named && stat_file_size(absolute) >= 0) {
    copy_text(absolute, state.settings.image_path);
  } else if (state.settings.image_path[0] == '\0') {
    copy_text(named ? absolute : argument, state.image.title_path);
    state.image.title_kind = TitleKind::missing;
    return;
  }
  char folder[kPathBytes];
  copy_text(state.settings.image_path, folder);
  strip_to_folder(folder);
  remember_folder(state, state.settings.view_folder);
  copy_text(folder, state.settings.view_folder);
}

}  // namespace

void shell_say(const char* text) {
  console_error("tessmira: ");
  console_error(text);
  console_error("\n");
}

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

bool is_switch(const std::string& word) {
  return word.size() >= 1 && word[0] == '-';
}

// A backup switch does the whole run: anything after it is a mistake the
// user should hear of rather than an argument quietly dropped.
// Whether "--dry-run" stands among the switches, before any "--".
bool dry_run_asked(int argc, char** argv) {
  for (int number = 1; number < argc && argv[number][0] != '\0'; ++number) {
    if (std::strcmp(argv[number], "--") == 0) return false;
    if (std::strcmp(argv[number], "--dry-run") == 0) return true;
  }
  return false;
}

bool nothing_after(int argc, char** argv, int number, const char* which) {
  for (int later = number + 1; later < argc; ++later) {
    if (argv[later][0] == '\0') break;  // an empty argument ends the command line
    if (std::strcmp(argv[later], "--dry-run") == 0) continue;  // the run's own
    shell_say((std::string("unexpected argument after ") + which + ": " + argv[later]).c_str());
    return false;
  }
  return true;
}

}  // namespace

namespace {

// The catalog's switches, when the command line is one of them: they only
// read the settings' folder and need no instance lock, so that --find answers
// while the viewer runs.
int catalog_switch(AppState& state, int argc, char** argv) {
  if (argc < 2) return kViewerWanted;
  const std::string word = argv[1];
  const char* which = nullptr;
  if (word == "--catalog" || word.rfind("--catalog=", 0) == 0) which = "--catalog";
  if (word.rfind("--find=", 0) == 0) which = "--find=PATTERN";
  if (which == nullptr) return kViewerWanted;
  if (!nothing_after(argc, argv, 1, which) || word.size() >= kPathBytes) {
    if (word.size() >= kPathBytes)
      shell_say(("the argument of " + word.substr(0, word.find('=') + 1) + " is too long").c_str());
    return kExitUsage;
  }
  if (word.rfind("--find=", 0) == 0) return run_find_switch(state, word.c_str() + 7);
  if (word == "--catalog") return run_catalog_switch(state, nullptr);
  if (word.size() == 10) {
    shell_say("--catalog= needs a folder: --catalog=FOLDER");
    return kExitUsage;
  }
  return run_catalog_switch(state, word.c_str() + 10);
}

}  // namespace

int start_program(AppState& state, int argc, char** argv, bool* settings_loaded) {
  choose_data_folder(state);
  if (const int status = catalog_switch(state, argc, argv); status != kViewerWanted) return status;
  // Kept with the data files it guards, so that another login of the same
  // user sees it too.
  const bool already_running =
      claim_instance_lock(state.window.data_folder, "Tessmira.exe") == InstanceLock::held_elsewhere;
  // A dry run writes nothing, not even the clean-up.
  const bool dry_run = dry_run_asked(argc, argv);
  // What a save cut short left behind; another instance may be saving now.
  if (!already_running && !dry_run) discard_interrupted_saves(state);
  *settings_loaded = load_settings(state);
  // Told once: the damaged file is set aside, so the next start reads the new one.
  if (state.window.settings_set_aside) {
    shell_say((std::string("the settings file was damaged; it was renamed ") + kSettingsAside +
               " and the defaults are used")
                  .c_str());
  }

  bool switches_ended = false;
  for (int number = 1;; ++number) {
    if (number >= argc) break;
    std::string word = argv[number];
    if (!switches_ended && word.rfind("--backup=", 0) == 0) word = "/b=" + word.substr(9);
    if (!switches_ended && word == "--rotate") word = "/r";
    const bool backup_switch = !switches_ended && is_backup_switch(word);
    if (word.size() >= kPathBytes && backup_switch) {
      shell_say("the folder of /b= is too long: at most 596 bytes");
      return kExitUsage;
    }
    if (word.size() >= kPathBytes && !switches_ended &&
        (word.rfind("--versions=", 0) == 0 || word.rfind("--restore=", 0) == 0 ||
         word.rfind("--verify=", 0) == 0)) {
      shell_say(("the path of " + word.substr(0, word.find('=') + 1) + " is too long").c_str());
      return kExitUsage;
    }
    if (word.size() >= kPathBytes) {
      shell_say("an argument longer than 599 bytes is ignored");
      continue;
    }
    if (word.empty()) break;  // an empty argument ends the command line
    if (!switches_ended && word == "--") {
      switches_ended = true;
      continue;
    }
    if (!switches_ended && word == "--dry-run") continue;  // taken above
    if (!switches_ended && word == "--help") {
      console_out(kUsageText);
      return kExitDone;
    }
    if (!switches_ended && word == "--version") {
      console_out(kProgramTitle);
      console_out("\n");
      return kExitDone;
    }
    if (backup_switch) {
      if (word.size() == 3) {
        shell_say("/b= needs a folder: /b=FOLDER");
        return kExitUsage;
      }
      if (!nothing_after(argc, argv, number, "/b=FOLDER")) return kExitUsage;
      return run_backup(state, word.c_str() + 3, already_running, dry_run);
    }
    if (!switches_ended && word.rfind("--versions=", 0) == 0) {
      if (word.size() == 11) {
        shell_say("--versions= needs a path: --versions=PATH");
        return kExitUsage;
      }
      if (!nothing_after(argc, argv, number, "--versions=PATH")) return kExitUsage;
      return run_versions(state, word.c_str() + 11);
    }
    if (!switches_ended && word.rfind("--verify=", 0) == 0) {
      if (word.size() == 9) {
        shell_say("--verify= needs a folder: --verify=FOLDER");
        return kExitUsage;
      }
      if (!nothing_after(argc, argv, number, "--verify=FOLDER")) return kExitUsage;
      return run_verify(state, word.c_str() + 9);
    }
    if (!switches_ended && word.rfind("--restore=", 0) == 0) {
      if (word.size() == 10) {
        shell_say("--restore= needs a path: --restore=PATH");
        return kExitUsage;
      }
      return run_restore(state, argc, argv, number);
    }
    // Exactly "/r": "/run/..." and "/root/..." are image paths.
    if (!switches_ended && word == "/r") {
      if (!nothing_after(argc, argv, number, "/r")) return kExitUsage;
      return run_rotation(state, already_running, dry_run);
    }
    if (!switches_ended && is_switch(word)) {
      shell_say(("unknown switch " + word + " (--help lists them; -- ends the switches)").c_str());
      return kExitUsage;
    }
    if (word.size() >= 2 || switches_ended) {
      take_argument(state, word.c_str());
      break;
    }
  }
  if (dry_run) {
    shell_say("--dry-run goes with /b=FOLDER or /r");
    return kExitUsage;
  }
  return kViewerWanted;
}
