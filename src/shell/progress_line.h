// A long run's progress on a terminal: one line rewritten a few times a
// second (files and bytes done, the rate, the time left), the run's notices
// on lines of their own above it, and a dry run's plan on standard output;
// and, as a logged run ends, its line in the run log.
#pragma once

#include <cstdint>
#include <string>

#include "backup/backup.h"

struct Invocation;

struct ProgressLine {
  bool terminal = false;  // standard error is one: the line is shown
  bool shown = false;     // a line stands unfinished
  std::uint32_t began = 0;
  std::uint32_t written = 0;
  std::string first_notice;  // for the run log
};

// Starts a long run: from now on an interrupt (Ctrl+C) stops it between two
// files.
void progress_begin(ProgressLine& line);
// What the run tells its progress to (nothing off a terminal), and its notices.
Progress progress_of(ProgressLine& line);
BackupMessage notices_of(ProgressLine& line);
// A dry run's plan, one line each on standard output.
BackupMessage planned_lines();
// Ends the line; when an interrupt stopped the run, says so and gives 130,
// else status.
int progress_end(ProgressLine& line, bool stopped, int status);
// What a logged run did besides its status: its files and bytes, and why it
// did nothing (when it did nothing).
struct RunDone {
  std::uint64_t files = 0;
  std::uint64_t bytes = 0;
  std::string problem;
};
// Ends a run the run log keeps: its line (the command, what it did, how
// long it took since progress_begin, its status and first problem) appended,
// unless it was a dry run; then status.
int log_run(const AppState& state, const Invocation& call, const ProgressLine& line,
            const RunDone& done, int status);
