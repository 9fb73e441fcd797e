// "--restore=PATH" and its options: copies written back from the generations.
#include <string>

#include "backup/backup.h"
#include "ports/console.h"
#include "shell/progress_line.h"
#include "shell/startup.h"

int run_restore(AppState& state, const Invocation& call) {
  if (refused_beside_another(call, "nothing was restored")) return kExitFailed;
  const RestoreRequest request{call.argument.c_str(), call.from,
                               call.to.empty() ? nullptr : call.to.c_str(), call.overwrite};
  ProgressLine line;
  progress_begin(line);
  RestoreReport report;
  const bool complete = restore_files(backup_settings_of(state.settings), state.data, request,
                                      &report, progress_of(line), notices_of(line));
  progress_end(line, false, kExitDone);
  if (!report.problem.empty()) {
    shell_say(("nothing was restored: " + report.problem).c_str());
    return log_run(state, call, line, {0, 0, report.problem}, kExitFailed);
  }
  std::string summary = std::to_string(report.restored) + " files restored";
  if (report.identical > 0) summary += ", " + std::to_string(report.identical) + " already there";
  if (report.refused > 0) summary += ", " + std::to_string(report.refused) + " left as they were";
  if (report.failed > 0) summary += ", " + std::to_string(report.failed) + " failed";
  console_out((summary + "\n").c_str());
  const int status = progress_end(line, report.stopped, complete ? kExitDone : kExitFailed);
  return log_run(state, call, line, {report.restored, report.bytes_restored, ""}, status);
}
