// The shell's own pieces behind its entry points: the start before the
// window, the command-line tokenizer and the first window size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ports/instance.h"
#include "ports/scheduler.h"

struct AppState;

// Exit statuses: a switch's work done, failed, or a usage error.
constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
// A switch's run stopped by an interrupt (Ctrl+C), as shells count it.
constexpr int kExitInterrupted = 130;

// The instance lock, the data folder, the settings and the command line (the
// switches run here). Their exit status, or kViewerWanted.
constexpr int kViewerWanted = -1;
int start_program(AppState& state, int argc, char** argv, bool* settings_loaded);

// "tessmira: " and the line, on standard error.
void shell_say(const char* text);
// After a paint: once it showed what the last key asked for, that key's
// repeats may step again (shell/keys.cpp).
void key_step_painted(AppState& state);

// What a switch needs before it runs: nothing at all (--help), the data
// folder (the catalog's switches, which run beside a viewer), or the
// settings and the instance lock, shared (the viewer, and the switches that
// only read the backups) or alone (those that write them).
enum class SwitchNeeds { nothing, data_folder, shared_lock, exclusive_lock };

struct Invocation;
using SwitchRunner = int (*)(AppState& state, const Invocation& call);
// How a switch takes its argument: "/r", "/b=FOLDER", "--catalog[=FOLDER]".
enum class SwitchArgument { none, required, optional };
// The options a switch takes after it: none, --restore's --from=, --to= and
// --overwrite, /b='s --exclude=, --no-cachedir-tag and --rotate, or
// --schedule='s --every= and --rotate.
enum class SwitchOptions { none, restore, backup, schedule };

// One switch: its spellings ("/b" and "--backup"; "=" and the argument
// follow), how it is shown ("/b=FOLDER"), what it takes and needs, and its
// runner.
struct SwitchRow {
  const char* spellings[2];
  const char* usage;
  SwitchArgument argument;
  SwitchNeeds needs;
  bool dry_run;  // takes --dry-run
  SwitchOptions options;
  SwitchRunner run;
};

// The command line read: a switch with its argument and options, or the
// image or folder to view (both null: the viewer, reopening where it was).
struct Invocation {
  const SwitchRow* row = nullptr;
  std::string argument;
  const char* image = nullptr;
  bool dry_run = false;
  std::uint32_t from = 0;  // --from=GEN's rank
  std::string to;          // --to=DEST, or ""
  bool overwrite = false;
  std::vector<std::string> excludes;         // /b='s --exclude=PATTERN, in order
  bool cache_tags = true;                    // false with --no-cachedir-tag
  bool rotate = false;                       // --rotate after /b= or --schedule=
  bool scheduled = false;                    // /b='s --scheduled: started by the scheduler
  ScheduleEvery every = ScheduleEvery::day;  // --schedule='s --every=
  bool every_given = false;
  InstanceLock lock = InstanceLock::unavailable;  // as claimed for the run
};

// Reads the words of the command line into call without touching anything:
// kViewerWanted, or the exit status of a usage error, --help or --version
// (said or printed here).
int read_command_line(int argc, char** argv, Invocation* call);
// The row of "/r", which /b= --rotate runs after the backup.
const SwitchRow& rotation_switch();

// A switch that writes the backups refuses to run beside another Tessmira,
// one that reads them while another writes them; each says so. True when
// refused (shell/say.cpp).
bool refused_beside_another(const Invocation& call, const char* nothing_done);
bool refused_while_written(const Invocation& call, const char* nothing_done);

// The switches' runners, each in shell/switch_<name>.cpp.
int run_backup(AppState& state, const Invocation& call);
int run_rotation(AppState& state, const Invocation& call);
int run_versions(AppState& state, const Invocation& call);
int run_verify(AppState& state, const Invocation& call);
int run_restore(AppState& state, const Invocation& call);
// "--catalog" (every drive) and "--catalog=FOLDER"; "--find=PATTERN".
int run_catalog(AppState& state, const Invocation& call);
int run_find(AppState& state, const Invocation& call);
// "--log": the run log printed.
int run_log(AppState& state, const Invocation& call);
// "--schedule=FOLDER", "--schedules", "--unschedule=FOLDER".
int run_schedule(AppState& state, const Invocation& call);
int run_schedules(AppState& state, const Invocation& call);
int run_unschedule(AppState& state, const Invocation& call);
// The viewer's start tells once of the scheduled runs that failed since.
void tell_failed_schedules(AppState& state);
// The line a crontab takes for schedule, where no scheduler can be reached:
// its command's words quoted for the shell, % escaped as cron needs.
std::string crontab_line(const Schedule& schedule);

// Result codes of get_command_argument.
constexpr std::int32_t kArgumentCopied = 1;
constexpr std::int32_t kArgumentMissing = 2;
constexpr std::int32_t kArgumentOddQuotes = 3;
constexpr std::int32_t kArgumentEmpty = 4;

// Argument index (0 the program) of a command line as one text, with double
// quotes grouping blanks, into destination (600 bytes). One of the codes
// above; an argument that would not fit is not extracted (3).
std::int32_t get_command_argument(const char* command_line, std::uint32_t index, char* destination);

// Width and height of the first window for a screen: 800 x 600 on screens
// larger than that, else 640 x 480.
void initial_window_size(std::int32_t screen_width, std::int32_t screen_height, std::int32_t* width,
                         std::int32_t* height);
// The client size the window will have once shown, for the first decode
// before the window has its size: the screen when full screen or maximised,
// the saved normal rectangle when one was loaded and fits twice the screen,
// else width x height.
void planned_client_size(const AppState& state, bool settings_loaded, std::int32_t screen_width,
                         std::int32_t screen_height, std::int32_t* width, std::int32_t* height);
