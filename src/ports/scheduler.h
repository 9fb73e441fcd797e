// The platform's own scheduler, for the current user and without
// administrator rights: a recurring backup of one folder (a systemd user
// timer on Linux, a Task Scheduler task on Windows).
#pragma once

#include <string>
#include <vector>

enum class ScheduleEvery { hour, day, week };

// One recurring backup: the program runs
//   PROGRAM /b=FOLDER --scheduled [--rotate]
// every hour, day or week, and a run missed while the machine was off
// happens as soon as it can.
struct Schedule {
  std::string folder;  // absolute
  ScheduleEvery every;
  bool rotate;
  std::string program;   // absolute
  std::string next_run;  // when listed: the next run in local time, or ""
};

// The words each run of schedule runs.
inline std::vector<std::string> schedule_words(const Schedule& schedule) {
  std::vector<std::string> words{schedule.program, "/b=" + schedule.folder, "--scheduled"};
  if (schedule.rotate) words.emplace_back("--rotate");
  return words;
}
inline const char* every_word(ScheduleEvery every) {
  return every == ScheduleEvery::hour ? "hour" : every == ScheduleEvery::day ? "day" : "week";
}
// The interval every_word names; false for any other word.
inline bool every_of_word(const std::string& word, ScheduleEvery* every) {
  for (const ScheduleEvery each : {ScheduleEvery::hour, ScheduleEvery::day, ScheduleEvery::week}) {
    if (word != every_word(each)) continue;
    *every = each;
    return true;
  }
  return false;
}

enum class SchedulerResult { done, missing, failed };

// Sets schedule up, replacing the one of the same folder. missing where the
// platform's scheduler cannot be reached (no systemd user session); failed
// with *problem set.
SchedulerResult scheduler_add(const Schedule& schedule, std::string* problem);
// The schedules this program has set up, folders in order.
SchedulerResult scheduler_list(std::vector<Schedule>* schedules, std::string* problem);
// Removes the schedule of folder; *found false when there was none.
SchedulerResult scheduler_remove(const std::string& folder, bool* found, std::string* problem);
