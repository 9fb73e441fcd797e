// A long run's progress on a terminal: one line rewritten a few times a
// second (files and bytes done, the rate, the time left), the run's notices
// on lines of their own above it, and a dry run's plan on standard output.
#pragma once

#include <cstdint>

#include "backup/backup.h"

struct ProgressLine {
  bool terminal = false;  // standard error is one: the line is shown
  bool shown = false;     // a line stands unfinished
  std::uint32_t began = 0;
  std::uint32_t written = 0;
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
