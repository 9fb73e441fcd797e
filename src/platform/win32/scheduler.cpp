// Win32 scheduler: a Task Scheduler task for the current user in the folder
// \Tessmira, set up through the Task Scheduler 2.0 COM interface from its
// XML, run with the user's own token (no administrator rights, no stored
// password). StartWhenAvailable makes a run missed while the machine was off
// happen as soon as it is on.
#include <windows.h>
// After windows.h, which it needs.
#include <oleauto.h>
#include <taskschd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/win32/win32_files.h"
#include "platform/win32/win32_scheduler.h"
#include "ports/scheduler.h"

namespace {

constexpr wchar_t kTaskFolder[] = L"\\Tessmira";

// A COM pointer released when it goes.
template <typename Interface>
struct Held {
  Interface* p = nullptr;
  Held() = default;
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  ~Held() {
    if (p != nullptr) p->Release();
  }
  Interface** out() { return &p; }
  Interface* operator->() const { return p; }
};

// A BSTR freed when it goes.
struct Text {
  BSTR b;
  explicit Text(const std::wstring& text) : b(SysAllocString(text.c_str())) {}
  Text() : b(nullptr) {}
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;
  ~Text() { SysFreeString(b); }
  std::wstring wide() const { return b != nullptr ? std::wstring(b) : std::wstring(); }
};

VARIANT none() {
  VARIANT empty;
  VariantInit(&empty);
  return empty;
}

std::string hresult_text(HRESULT result) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(result));
  return std::string("the Task Scheduler answered ") + text;
}

// The scheduler reached, COM started for this thread first; false when it
// cannot be (no Task Scheduler service).
bool connect(Held<ITaskService>& service) {
  const HRESULT started = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (FAILED(started) && started != RPC_E_CHANGED_MODE) return false;
  return SUCCEEDED(CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_ITaskService, reinterpret_cast<void**>(service.out()))) &&
         SUCCEEDED(service->Connect(none(), none(), none(), none()));
}

// The program's task folder, made when make is set; false when missing.
bool task_folder(ITaskService* service, bool make, Held<ITaskFolder>& folder) {
  if (SUCCEEDED(service->GetFolder(Text(kTaskFolder).b, folder.out()))) return true;
  Held<ITaskFolder> root;
  return make && SUCCEEDED(service->GetFolder(Text(L"\\").b, root.out())) &&
         SUCCEEDED(root->CreateFolder(Text(kTaskFolder + 1).b, none(), folder.out()));
}

// The task's name: the folder's path with the characters a task name cannot
// hold as '_', and a hash of the whole (letter case folded) to tell apart the
// folders that differ only there.
std::wstring task_name(const std::string& folder) {
  std::wstring wide = wide_path(folder.c_str());
  if (wide.rfind(L"\\\\?\\", 0) == 0) wide.erase(0, 4);
  std::uint32_t hash = 2166136261u;
  for (wchar_t& c : wide) {
    hash = (hash ^ static_cast<std::uint32_t>(towlower(c))) * 16777619u;
    if (std::wcschr(L"\\/:*?\"<>|", c) != nullptr) c = L'_';
  }
  wchar_t tail[16];
  std::swprintf(tail, 16, L" %08x", hash);
  return L"Backup of " + wide + tail;
}

std::wstring xml_text(const std::wstring& text) {
  std::wstring escaped;
  for (const wchar_t c : text) {
    escaped += c == L'&'   ? L"&amp;"
               : c == L'<' ? L"&lt;"
               : c == L'>' ? L"&gt;"
               : c == L'"' ? L"&quot;"
                           : std::wstring(1, c);
  }
  return escaped;
}

// One argument as CommandLineToArgvW reads it back: quoted, the backslashes
// before a quote doubled.
std::wstring argument_of(const std::wstring& word) {
  std::wstring quoted = L"\"";
  std::size_t slashes = 0;
  for (const wchar_t c : word) {
    if (c == L'\\') {
      ++slashes;
      continue;
    }
    quoted.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
    slashes = 0;
    quoted += c;
  }
  return quoted.append(slashes * 2, L'\\') + L"\"";
}

const wchar_t* trigger_of(ScheduleEvery every) {
  return every == ScheduleEvery::hour
             ? L"<TimeTrigger><StartBoundary>%ls</StartBoundary><Repetition><Interval>PT1H"
               L"</Interval></Repetition></TimeTrigger>"
         : every == ScheduleEvery::day
             ? L"<CalendarTrigger><StartBoundary>%ls</StartBoundary><ScheduleByDay><DaysInterval>1"
               L"</DaysInterval></ScheduleByDay></CalendarTrigger>"
             : L"<CalendarTrigger><StartBoundary>%ls</StartBoundary><ScheduleByDay><DaysInterval>7"
               L"</DaysInterval></ScheduleByDay></CalendarTrigger>";
}

std::wstring description_of(const Schedule& schedule) {
  return L"Tessmira backup of " + wide_text(schedule.folder.c_str()) + L", every " +
         wide_text(every_word(schedule.every));
}

}  // namespace

std::wstring task_xml(const Schedule& schedule) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t start[32];
  std::swprintf(start, 32, L"%04u-%02u-%02uT00:00:00", now.wYear, now.wMonth, now.wDay);
  wchar_t trigger[400];
  std::swprintf(trigger, 400, trigger_of(schedule.every), start);
  const std::vector<std::string> words = schedule_words(schedule);
  std::wstring arguments;
  for (std::size_t i = 1; i < words.size(); ++i)
    arguments += (i > 1 ? L" " : L"") + argument_of(wide_text(words[i].c_str()));
  return L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>"
         L"<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">"
         L"<RegistrationInfo><Description>" +
         xml_text(description_of(schedule)) + L"</Description></RegistrationInfo><Triggers>" +
         trigger +
         L"</Triggers><Principals><Principal id=\"Author\"><LogonType>InteractiveToken"
         L"</LogonType><RunLevel>LeastPrivilege</RunLevel></Principal></Principals><Settings>"
         L"<StartWhenAvailable>true</StartWhenAvailable><DisallowStartIfOnBatteries>false"
         L"</DisallowStartIfOnBatteries><StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>"
         L"<MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy><ExecutionTimeLimit>PT0S"
         L"</ExecutionTimeLimit></Settings><Actions Context=\"Author\"><Exec><Command>" +
         xml_text(wide_text(schedule.program.c_str())) + L"</Command><Arguments>" +
         xml_text(arguments) + L"</Arguments></Exec></Actions></Task>";
}

namespace {

// A listed task read back: its description names the folder and interval,
// its action's arguments the rotation.
bool read_task(IRegisteredTask* task, Schedule* schedule) {
  Held<ITaskDefinition> definition;
  Held<IRegistrationInfo> info;
  Text description;
  if (FAILED(task->get_Definition(definition.out())) ||
      FAILED(definition->get_RegistrationInfo(info.out())) ||
      FAILED(info->get_Description(&description.b))) {
    return false;
  }
  const std::string text = utf8_of(description.wide().c_str());
  const std::string head = "Tessmira backup of ";
  const std::size_t every = text.rfind(", every ");
  if (text.rfind(head, 0) != 0 || every == std::string::npos) return false;
  schedule->folder = text.substr(head.size(), every - head.size());
  every_of_word(text.substr(every + 8), &schedule->every);
  Held<IActionCollection> actions;
  Held<IAction> action;
  Held<IExecAction> exec;
  Text arguments;
  Text path;
  if (SUCCEEDED(definition->get_Actions(actions.out())) &&
      SUCCEEDED(actions->get_Item(1, action.out())) &&
      SUCCEEDED(action->QueryInterface(IID_IExecAction, reinterpret_cast<void**>(exec.out()))) &&
      SUCCEEDED(exec->get_Arguments(&arguments.b)) && SUCCEEDED(exec->get_Path(&path.b))) {
    schedule->rotate = arguments.wide().find(L"\"--rotate\"") != std::wstring::npos;
    schedule->program = utf8_of(path.wide().c_str());
  }
  DATE next = 0;
  SYSTEMTIME when;
  if (SUCCEEDED(task->get_NextRunTime(&next)) && next > 0 && VariantTimeToSystemTime(next, &when)) {
    char text_time[40];
    std::snprintf(text_time, sizeof text_time, "%04u-%02u-%02u %02u:%02u", when.wYear, when.wMonth,
                  when.wDay, when.wHour, when.wMinute);
    schedule->next_run = text_time;
  }
  return true;
}

}  // namespace

SchedulerResult scheduler_add(const Schedule& schedule, std::string* problem) {
  Held<ITaskService> service;
  Held<ITaskFolder> folder;
  if (!connect(service)) {
    *problem = "the Task Scheduler service cannot be reached";
    return SchedulerResult::missing;
  }
  if (!task_folder(service.p, true, folder)) {
    *problem = "the task folder \\Tessmira cannot be made";
    return SchedulerResult::failed;
  }
  Held<IRegisteredTask> task;
  const HRESULT registered = folder->RegisterTask(
      Text(task_name(schedule.folder)).b, Text(task_xml(schedule)).b, TASK_CREATE_OR_UPDATE, none(),
      none(), TASK_LOGON_INTERACTIVE_TOKEN, none(), task.out());
  if (FAILED(registered)) {
    *problem = "the task cannot be registered: " + hresult_text(registered);
    return SchedulerResult::failed;
  }
  return SchedulerResult::done;
}

SchedulerResult scheduler_list(std::vector<Schedule>* schedules, std::string* problem) {
  schedules->clear();
  Held<ITaskService> service;
  Held<ITaskFolder> folder;
  if (!connect(service)) {
    *problem = "the Task Scheduler service cannot be reached";
    return SchedulerResult::missing;
  }
  if (!task_folder(service.p, false, folder)) return SchedulerResult::done;  // none yet
  Held<IRegisteredTaskCollection> tasks;
  LONG count = 0;
  HRESULT listed = folder->GetTasks(TASK_ENUM_HIDDEN, tasks.out());
  if (SUCCEEDED(listed)) listed = tasks->get_Count(&count);
  if (FAILED(listed)) {
    *problem = "the tasks in \\Tessmira cannot be listed: " + hresult_text(listed);
    return SchedulerResult::failed;
  }
  for (LONG i = 1; i <= count; ++i) {
    VARIANT index;
    VariantInit(&index);
    index.vt = VT_I4;
    index.lVal = i;
    Held<IRegisteredTask> task;
    Schedule schedule{"", ScheduleEvery::day, false, "", ""};
    if (SUCCEEDED(tasks->get_Item(index, task.out())) && read_task(task.p, &schedule))
      schedules->push_back(schedule);
  }
  std::sort(schedules->begin(), schedules->end(),
            [](const Schedule& a, const Schedule& b) { return a.folder < b.folder; });
  return SchedulerResult::done;
}

SchedulerResult scheduler_remove(const std::string& folder_path, bool* found,
                                 std::string* problem) {
  *found = false;
  Held<ITaskService> service;
  Held<ITaskFolder> folder;
  if (!connect(service)) {
    *problem = "the Task Scheduler service cannot be reached";
    return SchedulerResult::missing;
  }
  if (!task_folder(service.p, false, folder)) return SchedulerResult::done;
  const Text name(task_name(folder_path));
  Held<IRegisteredTask> task;
  if (FAILED(folder->GetTask(name.b, task.out()))) return SchedulerResult::done;
  *found = true;
  const HRESULT removed = folder->DeleteTask(name.b, 0);
  if (FAILED(removed)) {
    *problem = "the task cannot be removed: " + hresult_text(removed);
    return SchedulerResult::failed;
  }
  return SchedulerResult::done;
}
