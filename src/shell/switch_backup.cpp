// "/b=FOLDER": one backup run.
#include <string>

#include "backup/backup.h"
#include "ports/console.h"
#include "shell/progress_line.h"
#include "shell/startup.h"

int run_backup(AppState& state, const Invocation& call) {
  if (refused_beside_another(call, "no backup was made")) return kExitFailed;
  ProgressLine line;
  progress_begin(line);
  const BackupOptions options{call.dry_run, notices_of(line),
                              call.dry_run ? planned_lines() : BackupMessage(), call.excludes,
                              call.cache_tags};
  BackupReport report;
  const bool complete = backup_folder(backup_settings_of(state.settings), state.data, state.catalog,
                                      state.scans, call.argument.c_str(), options,
                                      call.dry_run ? Progress{} : progress_of(line), &report);
  const bool stopped = report.stopped;
  progress_end(line, false, kExitDone);
  if (!report.problem.empty()) {
    shell_say(("no backup was made: " + report.problem).c_str());
    return log_run(state, call, line, {0, 0, report.problem}, kExitFailed);
  }
  std::string summary =
      std::to_string(report.copied) + (call.dry_run ? " files would be copied" : " files copied");
  if (report.failed > 0) summary += ", " + std::to_string(report.failed) + " failed";
  if (report.changed > 0) {
    summary += ", " + std::to_string(report.changed) + " changed while they were copied";
  }
  if (report.skipped > 0) summary += ", " + std::to_string(report.skipped) + " skipped";
  if (report.left_out > 0) {
    summary += ", " + std::to_string(report.left_out) +
               (call.dry_run ? " would be left out by excludes" : " left out by excludes");
  }
  if (call.dry_run) summary += "; nothing was written";
  console_out((summary + "\n").c_str());
  const int status = progress_end(line, stopped, complete ? kExitDone : kExitFailed);
  const int logged = log_run(state, call, line, {report.copied, report.bytes_copied, ""}, status);
  // The generations turn only over a whole backup.
  if (!call.rotate || logged != kExitDone) return logged;
  Invocation rotation = call;
  rotation.row = &rotation_switch();
  rotation.argument.clear();
  return run_rotation(state, rotation);
}
