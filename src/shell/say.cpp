// What start-up and the switches say on standard error.
#include <string>

#include "ports/console.h"
#include "shell/startup.h"

void shell_say(const char* text) {
  console_error("tessmira: ");
  console_error(text);
  console_error("\n");
}

bool refused_beside_another(const Invocation& call, const char* nothing_done) {
  if (call.lock != InstanceLock::held_elsewhere) return false;
  shell_say((std::string("another Tessmira is running; ") + nothing_done).c_str());
  return true;
}

bool refused_while_written(const Invocation& call, const char* nothing_done) {
  if (call.lock != InstanceLock::held_elsewhere) return false;
  shell_say((std::string("another Tessmira is writing the backups (a backup, rotation or "
                         "restore); ") +
             nothing_done + "; try again when it ends")
                .c_str());
  return true;
}
