// "--log": the run log, as it stands.
#include <string>

#include "backup/backup.h"
#include "ports/console.h"
#include "shell/startup.h"

int run_log(AppState& state, const Invocation&) {
  std::string text;
  if (!read_run_log(state.data, &text)) {
    shell_say("the run log TesmiLog.txt cannot be read");
    return kExitFailed;
  }
  if (text.empty()) shell_say("no run has been logged yet");
  console_out(text.c_str());
  return kExitDone;
}
