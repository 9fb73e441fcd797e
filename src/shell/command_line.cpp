// The command line: one row a switch, read by one loop that touches nothing,
// so that a mistake is told before any file is read or written.
#include <cstring>
#include <string>

#include "backup/backup.h"
#include "ports/console.h"
#include "shell/startup.h"
#include "state/version.h"
#include "text/text.h"

namespace {

constexpr char kUsageText[] =
    "Usage: tessmira [--] [IMAGE | FOLDER]\n"
    "       tessmira /b=FOLDER | --backup=FOLDER [--exclude=PATTERN]... [--no-cachedir-tag]\n"
    "                [--rotate] [--scheduled] [--dry-run]\n"
    "       tessmira /r | --rotate [--dry-run]\n"
    "       tessmira --versions=PATH\n"
    "       tessmira --restore=PATH [--from=GEN] [--to=DEST] [--overwrite]\n"
    "       tessmira --verify=FOLDER\n"
    "       tessmira --catalog[=FOLDER]\n"
    "       tessmira --find=PATTERN\n"
    "       tessmira --log\n"
    "       tessmira --schedule=FOLDER --every=day|week|hour [--rotate]\n"
    "       tessmira --schedules | --unschedule=FOLDER\n"
    "\n"
    "With an image, shows it and steps through its folder; with a folder, steps\n"
    "through it from its first file; with no argument, reopens where the last\n"
    "run left off.\n"
    "  /b=FOLDER   copy the new and changed files of FOLDER's tree into the\n"
    "              newest backup generation F0 (also /B=); a file that changes\n"
    "              while it is copied is copied again, and named when it never\n"
    "              holds still\n"
    "    --exclude=PATTERN\n"
    "                leave out what PATTERN matches below FOLDER: one name at\n"
    "                any depth, or a path from FOLDER (* within a name, **\n"
    "                across folders, ? one character); as often as needed,\n"
    "                e.g. tessmira /b=$HOME --exclude='*.iso' --exclude=Downloads\n"
    "    --no-cachedir-tag\n"
    "                back up folders tagged as caches (CACHEDIR.TAG) too\n"
    "    --rotate    rotate the generations (/r) after a backup that succeeded\n"
    "    --scheduled the run is a schedule's: a failure is told by a desktop\n"
    "                notification and by the viewer's next start\n"
    "              Every run also leaves out the patterns of TesmiExc.txt in\n"
    "              the data folder, written on first use as shown below.\n"
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
    "    --to=DEST   written as DEST instead of the original path (never\n"
    "                inside the backup root, however it is reached)\n"
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
    "              shell glob (? is one character): tessmira --find=holiday,\n"
    "              tessmira --find='*.png' (exit 0 when something was found, 1\n"
    "              when nothing was)\n"
    "  --log       print the run log TesmiLog.txt: a line for each /b=, /r,\n"
    "              --restore and --verify (its start, the command, files, bytes,\n"
    "              seconds, exit status and first problem), the last 1,000 kept\n"
    "  --schedule=FOLDER --every=day|week|hour [--rotate]\n"
    "              back FOLDER up by itself every day, week or hour (and rotate\n"
    "              the generations after it), with the system's own scheduler\n"
    "              for this user; a run missed while the machine was off\n"
    "              happens when it next starts, e.g.\n"
    "              tessmira --schedule=$HOME --every=day --rotate\n"
    "  --schedules list the scheduled backups and their next runs\n"
    "  --unschedule=FOLDER\n"
    "              remove FOLDER's scheduled backup\n"
    "  --          ends the switches: what follows is an image or folder\n"
    "  --help      show this text\n"
    "  --version   show the version\n"
    "\n"
    "Only one Tessmira writes the backups at a time: /b=, /r and --restore\n"
    "wait for no one and fail while another Tessmira runs; --versions and\n"
    "--verify share the backups with the viewer and with each other.\n";

int show_usage(AppState&, const Invocation&) {
  console_out(kUsageText);
  console_out("\nThe exclude file TesmiExc.txt starts as:\n");
  console_out(kDefaultExcludes);
  return kExitDone;
}

int show_version(AppState&, const Invocation&) {
  console_out(kProgramTitle);
  console_out("\n");
  return kExitDone;
}

constexpr SwitchArgument kNone = SwitchArgument::none;
constexpr SwitchArgument kRequired = SwitchArgument::required;
constexpr SwitchArgument kOptional = SwitchArgument::optional;
constexpr SwitchOptions kNoOptions = SwitchOptions::none;
constexpr SwitchOptions kRestoreOptions = SwitchOptions::restore;
constexpr SwitchOptions kBackupOptions = SwitchOptions::backup;
constexpr SwitchOptions kScheduleOptions = SwitchOptions::schedule;

// "/r" is exactly that word: "/run/..." and "/root/..." are image paths.
// "/b=" is also accepted with a capital B.
constexpr SwitchRow kSwitchTable[] = {
    {{"/b", "--backup"},
     "/b=FOLDER",
     kRequired,
     SwitchNeeds::exclusive_lock,
     true,
     kBackupOptions,
     run_backup},
    {{"/r", "--rotate"}, "/r", kNone, SwitchNeeds::exclusive_lock, true, kNoOptions, run_rotation},
    {{"--versions", nullptr},
     "--versions=PATH",
     kRequired,
     SwitchNeeds::shared_lock,
     false,
     kNoOptions,
     run_versions},
    {{"--restore", nullptr},
     "--restore=PATH",
     kRequired,
     SwitchNeeds::exclusive_lock,
     false,
     kRestoreOptions,
     run_restore},
    {{"--verify", nullptr},
     "--verify=FOLDER",
     kRequired,
     SwitchNeeds::shared_lock,
     false,
     kNoOptions,
     run_verify},
    {{"--catalog", nullptr},
     "--catalog=FOLDER",
     kOptional,
     SwitchNeeds::data_folder,
     false,
     kNoOptions,
     run_catalog},
    {{"--find", nullptr},
     "--find=PATTERN",
     kRequired,
     SwitchNeeds::data_folder,
     false,
     kNoOptions,
     run_find},
    {{"--log", nullptr}, "--log", kNone, SwitchNeeds::data_folder, false, kNoOptions, run_log},
    {{"--schedule", nullptr},
     "--schedule=FOLDER",
     kRequired,
     SwitchNeeds::data_folder,
     false,
     kScheduleOptions,
     run_schedule},
    {{"--schedules", nullptr},
     "--schedules",
     kNone,
     SwitchNeeds::data_folder,
     false,
     kNoOptions,
     run_schedules},
    {{"--unschedule", nullptr},
     "--unschedule=FOLDER",
     kRequired,
     SwitchNeeds::data_folder,
     false,
     kNoOptions,
     run_unschedule},
    {{"--help", nullptr}, "--help", kNone, SwitchNeeds::nothing, true, kNoOptions, show_usage},
    {{"--version", nullptr},
     "--version",
     kNone,
     SwitchNeeds::nothing,
     true,
     kNoOptions,
     show_version},
};

// Whether word is the row's switch; *argument gets what follows its "=".
bool spelled(const SwitchRow& row, const std::string& word, std::string* argument) {
  for (const char* spelling : row.spellings) {
    if (spelling == nullptr) continue;
    const std::size_t length = std::strlen(spelling);
    std::string head = word.substr(0, length);
    // Only "/b=" is taken in any letter case.
    if (spelling[0] == '/' && row.argument != kNone) lower_text(head.data());
    if (row.argument != kRequired && word == spelling) {
      argument->clear();
      return true;
    }
    if (row.argument != kNone && head == spelling && word.size() > length && word[length] == '=') {
      *argument = word.substr(length + 1);
      return true;
    }
  }
  return false;
}

bool is_switch(const std::string& word) {
  return !word.empty() && word[0] == '-';
}

int usage_error(const std::string& line) {
  shell_say(line.c_str());
  return kExitUsage;
}

// What the usage names the argument ("FOLDER" in "/b=FOLDER"), in words.
std::string argument_noun(const SwitchRow& row) {
  std::string noun = std::strchr(row.usage, '=') + 1;
  lower_text(noun.data());
  return noun;
}

// The words after a switch: --dry-run, --restore's options and /b='s.
int read_options(int argc, char** argv, int number, Invocation* call) {
  const bool restore = call->row->options == kRestoreOptions;
  const bool backup = call->row->options == kBackupOptions;
  const bool schedule = call->row->options == kScheduleOptions;
  for (int later = number + 1; later < argc && argv[later][0] != '\0'; ++later) {
    const std::string option = argv[later];
    if (option == "--dry-run") {
      call->dry_run = true;
    } else if (restore && option.rfind("--from=", 0) == 0 &&
               generation_rank(option.c_str() + 7, &call->from)) {
    } else if (restore && option.rfind("--to=", 0) == 0 && option.size() > 5 &&
               option.size() < kPathBytes) {
      call->to = option.substr(5);
    } else if (restore && option == "--overwrite") {
      call->overwrite = true;
    } else if (backup && option.rfind("--exclude=", 0) == 0 && option.size() > 10 &&
               option.size() < kPathBytes) {
      call->excludes.push_back(option.substr(10));
    } else if (backup && option == "--no-cachedir-tag") {
      call->cache_tags = false;
    } else if ((backup || schedule) && option == "--rotate") {
      call->rotate = true;
    } else if (backup && option == "--scheduled") {
      call->scheduled = true;
    } else if (schedule && option.rfind("--every=", 0) == 0 &&
               every_of_word(option.substr(8), &call->every)) {
      call->every_given = true;
    } else {
      return usage_error(
          std::string("unexpected argument after ") + call->row->usage + ": " + option +
          (restore    ? " (--from=F0..F9 or FX, --to=DEST, --overwrite)"
           : backup   ? " (--exclude=PATTERN, --no-cachedir-tag, --rotate, --scheduled, --dry-run)"
           : schedule ? " (--every=day, week or hour, --rotate)"
                      : ""));
    }
  }
  if (schedule && !call->every_given) {
    return usage_error("--schedule=FOLDER needs --every=day, --every=week or --every=hour");
  }
  return kViewerWanted;
}

// The switch at argv[number], its argument checked, then what follows it.
int read_switch(int argc, char** argv, int number, Invocation* call) {
  const SwitchRow& row = *call->row;
  const std::string prefix = std::string(row.usage).substr(0, std::strcspn(row.usage, "=") + 1);
  if (row.argument != kNone && call->argument.size() > kPathBytes - 4) {
    return usage_error("the " + argument_noun(row) + " of " + prefix + " is too long: at most " +
                       std::to_string(kPathBytes - 4) + " bytes");
  }
  if (row.argument == kRequired && call->argument.empty()) {
    return usage_error(prefix + " needs a " + argument_noun(row) + ": " + row.usage);
  }
  if (row.argument == kOptional && call->argument.empty() && std::strchr(argv[number], '=')) {
    return usage_error(prefix + " needs a " + argument_noun(row) + ": " + row.usage);
  }
  return read_options(argc, argv, number, call);
}

}  // namespace

const SwitchRow& rotation_switch() {
  for (const SwitchRow& row : kSwitchTable)
    if (std::strcmp(row.usage, "/r") == 0) return row;
  return kSwitchTable[0];  // never: the table holds /r
}

int read_command_line(int argc, char** argv, Invocation* call) {
  // Wherever it stands before "--", even after an image.
  for (int number = 1; number < argc && argv[number][0] != '\0'; ++number) {
    if (std::strcmp(argv[number], "--") == 0) break;
    call->dry_run = call->dry_run || std::strcmp(argv[number], "--dry-run") == 0;
  }
  bool switches_ended = false;
  for (int number = 1; number < argc; ++number) {
    const std::string word = argv[number];
    if (word.empty()) break;  // an empty argument ends the command line
    if (!switches_ended && word == "--") {
      switches_ended = true;
      continue;
    }
    if (!switches_ended && word == "--dry-run") {
      call->dry_run = true;
      continue;
    }
    for (const SwitchRow& row : kSwitchTable) {
      if (!switches_ended && call->row == nullptr && spelled(row, word, &call->argument)) {
        call->row = &row;
      }
    }
    // --help and --version answer whatever else is there.
    if (call->row != nullptr && call->row->needs == SwitchNeeds::nothing) return kViewerWanted;
    if (call->row != nullptr) {
      if (const int status = read_switch(argc, argv, number, call); status != kViewerWanted) {
        return status;
      }
      break;
    }
    if (!switches_ended && is_switch(word)) {
      return usage_error("unknown switch " + word + " (--help lists them; -- ends the switches)");
    }
    if (word.size() >= kPathBytes) {
      shell_say("an argument longer than 599 bytes is ignored");
      continue;
    }
    if (word.size() >= 2 || switches_ended) {
      call->image = argv[number];
      break;
    }
  }
  // Only the backup and the rotation can tell what they would do without
  // doing it; nothing else takes a dry run, lest it be taken for one.
  if (call->dry_run && (call->row == nullptr || !call->row->dry_run)) {
    return usage_error(call->row == nullptr ? "--dry-run goes with /b=FOLDER or /r"
                                            : std::string("--dry-run goes with /b=FOLDER or /r, "
                                                          "not with ") +
                                                  call->row->usage);
  }
  return kViewerWanted;
}
