// "--verify=FOLDER": the check of a tree's newest copies.
#include <string>

#include "backup/backup.h"
#include "ports/console.h"
#include "shell/progress_line.h"
#include "shell/startup.h"

int run_verify(AppState& state, const Invocation& call) {
  if (refused_while_written(call, "nothing was verified")) return kExitFailed;
  ProgressLine line;
  progress_begin(line);
  VerifyReport report;
  const bool sound =
      verify_folder(backup_settings_of(state.settings), state.data, state.catalog,
                    call.argument.c_str(), &report, progress_of(line), notices_of(line));
  progress_end(line, false, kExitDone);
  if (!report.problem.empty()) {
    shell_say(("nothing was verified: " + report.problem).c_str());
    return log_run(state, call, line, {0, 0, report.problem}, kExitFailed);
  }
  std::string summary = std::to_string(report.checked) + " files verified";
  summary +=
      report.problems == 0 ? ", no problem" : ", " + std::to_string(report.problems) + " problems";
  if (report.missing > 0) summary += " (" + std::to_string(report.missing) + " without a copy)";
  if (report.left_out > 0) {
    summary += ", " + std::to_string(report.left_out) + " left out by excludes";
  }
  console_out((summary + "\n").c_str());
  const int status = progress_end(line, report.stopped, sound ? kExitDone : kExitFailed);
  return log_run(state, call, line, {report.checked, report.bytes_read, ""}, status);
}
