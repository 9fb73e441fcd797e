// "/r": one rotation of the generations.
#include <string>

#include "backup/backup.h"
#include "ports/console.h"
#include "shell/progress_line.h"
#include "shell/startup.h"
#include "text/text.h"

int run_rotation(AppState& state, const Invocation& call) {
  if (refused_beside_another(call, "the generations were not rotated")) return kExitFailed;
  if (!is_absolute_path(state.settings.backup_root)) {
    shell_say("the backup root is not set; the generations were not rotated");
    return kExitFailed;
  }
  ProgressLine line;
  progress_begin(line);
  const BackupOptions options{call.dry_run, notices_of(line),
                              call.dry_run ? planned_lines() : BackupMessage()};
  char generation[4];
  if (!rotate_backups(state.settings, state.data, options, generation)) {
    if (interrupted()) return log_run(state, call, line, {}, progress_end(line, true, kExitFailed));
    std::string problem;
    if (generation[0] != '\0') {
      problem = std::string("the backup generation ") + generation + " could not be moved";
      shell_say(problem.c_str());
    }
    return log_run(state, call, line, {0, 0, problem}, kExitFailed);
  }
  if (call.dry_run) console_out("nothing was written\n");
  return log_run(state, call, line, {}, kExitDone);
}
