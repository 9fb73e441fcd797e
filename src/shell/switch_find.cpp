// "--find=PATTERN": the catalogued paths that match, from the catalog's index.
#include <cstdint>
#include <string>
#include <vector>

#include "catalog/finder.h"
#include "ports/console.h"
#include "shell/startup.h"

int run_find(AppState& state, const Invocation& call) {
  const char* pattern = call.argument.c_str();
  FindIndex index;
  std::string problem;
  if (!find_index_open(state.data, &index, &problem)) {
    shell_say(problem.c_str());
    return kExitFailed;
  }
  if (index.from_before) {
    shell_say("the catalog is being written by another process: these answers are from before");
  }
  const std::vector<std::string> paths = find_paths(index, pattern, UINT32_MAX);
  find_index_close(&index);
  std::string out;
  for (const std::string& path : paths) {
    out += path;
    out += '\n';
    if (out.size() > 65536) {
      console_out(out.c_str());
      out.clear();
    }
  }
  console_out(out.c_str());
  return paths.empty() ? kExitFailed : kExitDone;
}
