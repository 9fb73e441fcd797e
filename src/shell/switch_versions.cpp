// "--versions=PATH": every copy of a file in the generations.
#include <string>
#include <vector>

#include "backup/backup.h"
#include "ports/console.h"
#include "shell/startup.h"

int run_versions(AppState& state, const Invocation& call) {
  if (refused_while_written(call, "no copies were listed")) return kExitFailed;
  const char* path = call.argument.c_str();
  std::vector<FileVersion> versions;
  std::string problem;
  if (!list_versions(backup_settings_of(state.settings), state.data, path, &versions, &problem)) {
    shell_say(("no copies were listed: " + problem).c_str());
    return kExitFailed;
  }
  for (const FileVersion& version : versions) console_out(version_line(version).c_str());
  if (versions.empty()) {
    shell_say((std::string("no copy of ") + path + " is in the backup generations").c_str());
    return kExitFailed;
  }
  return kExitDone;
}
