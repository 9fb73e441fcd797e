// The Win32 scheduler's task definition, for its tests.
#pragma once

#include <string>

#include "ports/scheduler.h"

// The Task Scheduler XML of schedule's task: its trigger, the user's own
// token, a missed run made up, and the program with its arguments.
std::wstring task_xml(const Schedule& schedule);
