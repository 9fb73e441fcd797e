// "--schedule=FOLDER --every=...", "--schedules" and "--unschedule=FOLDER":
// recurring backups run by the system's own scheduler.
#include <string>
#include <vector>

#include "ports/console.h"
#include "ports/files.h"
#include "ports/folders.h"
#include "ports/paths.h"
#include "ports/scheduler.h"
#include "shell/startup.h"
#include "text/text.h"

namespace {

// FOLDER as an absolute, normalised path; false, said, when it cannot be.
bool absolute_folder(const std::string& folder, std::string* path) {
  char current[kPathBytes] = "/";
  char result[kPathBytes];
  if (!is_absolute_path(folder.c_str()) && current_folder(current, sizeof current) < 0) {
    shell_say("the current folder cannot be read");
    return false;
  }
  if (!normalise_path(folder.c_str(), current, result)) {
    shell_say("the folder's path is too long");
    return false;
  }
  *path = result;
  return true;
}

// A word for a POSIX shell: in single quotes, each one inside as '\''.
std::string shell_word(const std::string& word) {
  std::string quoted = "'";
  for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

std::string crontab_line(const Schedule& schedule) {
  std::string line = schedule.every == ScheduleEvery::hour  ? "@hourly"
                     : schedule.every == ScheduleEvery::day ? "@daily"
                                                            : "@weekly";
  for (const std::string& word : schedule_words(schedule)) {
    // cron takes a bare % for a line break.
    for (const char c : " " + shell_word(word))
      line += c == '%' ? std::string("\\%") : std::string(1, c);
  }
  return line;
}

int run_schedule(AppState&, const Invocation& call) {
  Schedule schedule{"", call.every, call.rotate, "", ""};
  if (!absolute_folder(call.argument, &schedule.folder)) return kExitFailed;
  if (!is_folder(schedule.folder.c_str())) {
    shell_say(("no such folder: " + schedule.folder + "; nothing was scheduled").c_str());
    return kExitFailed;
  }
  char program[kPathBytes];
  if (program_file(program, sizeof program) < 0) {
    shell_say("the program's own path cannot be read; nothing was scheduled");
    return kExitFailed;
  }
  schedule.program = program;
  std::string problem;
  switch (scheduler_add(schedule, &problem)) {
    case SchedulerResult::done:
      console_out(("scheduled: /b=" + schedule.folder + (schedule.rotate ? " --rotate" : "") +
                   " every " + every_word(schedule.every) + "\n")
                      .c_str());
      return kExitDone;
    case SchedulerResult::missing:
      shell_say(
          ("the system's scheduler cannot be reached (" + problem + "); nothing was scheduled")
              .c_str());
      // Where cron is the other way.
      if (path_rules().drive_roots == 0) {
        shell_say("to run the backup from cron instead, add this line with crontab -e:");
        console_out((crontab_line(schedule) + "\n").c_str());
      }
      return kExitFailed;
    case SchedulerResult::failed:
      break;
  }
  shell_say(("nothing was scheduled: " + problem).c_str());
  return kExitFailed;
}

int run_schedules(AppState&, const Invocation&) {
  std::vector<Schedule> schedules;
  std::string problem;
  const SchedulerResult result = scheduler_list(&schedules, &problem);
  if (result == SchedulerResult::failed) {
    shell_say(("the schedules cannot be read: " + problem).c_str());
    return kExitFailed;
  }
  if (schedules.empty()) shell_say("no backup is scheduled");
  for (const Schedule& schedule : schedules) {
    const std::string next = schedule.next_run.empty() ? "not known" : schedule.next_run;
    console_out((schedule.folder + "\tevery " + every_word(schedule.every) +
                 (schedule.rotate ? ", then /r" : "") + "\tnext run: " + next + "\n")
                    .c_str());
  }
  if (!problem.empty()) shell_say(problem.c_str());
  return kExitDone;
}

int run_unschedule(AppState&, const Invocation& call) {
  std::string folder;
  if (!absolute_folder(call.argument, &folder)) return kExitFailed;
  bool found = false;
  std::string problem;
  if (scheduler_remove(folder, &found, &problem) == SchedulerResult::failed) {
    shell_say(("the schedule was not removed: " + problem).c_str());
    return kExitFailed;
  }
  if (!found) {
    shell_say(("no backup of " + folder + " is scheduled").c_str());
    return kExitFailed;
  }
  console_out(("unscheduled: /b=" + folder + "\n").c_str());
  return kExitDone;
}
