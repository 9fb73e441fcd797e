// The Task Scheduler task of a scheduled backup, under Wine: its XML (the
// trigger of each interval, the user's own token, a missed run made up, the
// arguments as the program reads them back), registered, found and removed.
#include <gtest/gtest.h>
#include <windows.h>

#include <shellapi.h>

#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32/win32_scheduler.h"
#include "ports/scheduler.h"

namespace {

bool holds(const std::wstring& text, const wchar_t* part) {
  return text.find(part) != std::wstring::npos;
}

// The <Arguments> of xml, as CommandLineToArgvW splits them after a program.
std::vector<std::wstring> arguments_of(const std::wstring& xml) {
  const std::size_t start = xml.find(L"<Arguments>") + 11;
  std::wstring text = xml.substr(start, xml.find(L"</Arguments>") - start);
  for (const auto& [entity, plain] : {std::pair{L"&quot;", L"\""}, std::pair{L"&lt;", L"<"},
                                      std::pair{L"&gt;", L">"}, std::pair{L"&amp;", L"&"}}) {
    const std::size_t length = std::wcslen(entity);
    for (std::size_t at = 0; (at = text.find(entity, at)) != std::wstring::npos; ++at)
      text.replace(at, length, plain);
  }
  int count = 0;
  wchar_t** words = CommandLineToArgvW((L"program " + text).c_str(), &count);
  std::vector<std::wstring> result(words + 1, words + count);
  LocalFree(words);
  return result;
}

TEST(Win32Scheduler, TheTaskRunsTheBackupByItsIntervalAndMakesUpAMissedRun) {
  Schedule root{"C:\\", ScheduleEvery::day, true, "C:\\Program Files\\Tessmira\\tessmira.exe", ""};
  const std::wstring daily = task_xml(root);
  EXPECT_TRUE(holds(daily, L"<DaysInterval>1</DaysInterval>"));
  EXPECT_TRUE(holds(daily, L"<StartWhenAvailable>true</StartWhenAvailable>"));
  EXPECT_TRUE(holds(daily, L"<LogonType>InteractiveToken</LogonType>"));
  EXPECT_TRUE(holds(daily, L"<Command>C:\\Program Files\\Tessmira\\tessmira.exe</Command>"));
  // The root's trailing backslash stays one, before the closing quote too.
  EXPECT_EQ(arguments_of(daily),
            (std::vector<std::wstring>{L"/b=C:\\", L"--scheduled", L"--rotate"}));
  root.every = ScheduleEvery::week;
  EXPECT_TRUE(holds(task_xml(root), L"<DaysInterval>7</DaysInterval>"));
  root.every = ScheduleEvery::hour;
  root.rotate = false;
  root.folder = "D:\\A \"quoted\" & <odd> name";
  const std::wstring hourly = task_xml(root);
  EXPECT_TRUE(holds(hourly, L"<Interval>PT1H</Interval>"));
  EXPECT_TRUE(holds(hourly, L"A &quot;quoted&quot; &amp; &lt;odd&gt; name"));
  EXPECT_EQ(arguments_of(hourly),
            (std::vector<std::wstring>{L"/b=D:\\A \"quoted\" & <odd> name", L"--scheduled"}));
}

TEST(Win32Scheduler, ATaskIsRegisteredReplacedAndRemoved) {
  const Schedule schedule{"C:\\users\\Public\\Photos", ScheduleEvery::day, false,
                          "C:\\windows\\notepad.exe", ""};
  std::string problem;
  ASSERT_EQ(scheduler_add(schedule, &problem), SchedulerResult::done) << problem;
  ASSERT_EQ(scheduler_add(schedule, &problem), SchedulerResult::done) << problem;
  std::vector<Schedule> listed;
  // Wine's Task Scheduler does not list a folder's tasks (E_NOTIMPL);
  // Windows does, and then the task is there.
  if (scheduler_list(&listed, &problem) == SchedulerResult::done) {
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].folder, schedule.folder);
  } else {
    EXPECT_NE(problem.find("0x80004001"), std::string::npos) << problem;
  }
  bool found = false;
  EXPECT_EQ(scheduler_remove(schedule.folder, &found, &problem), SchedulerResult::done) << problem;
  EXPECT_TRUE(found);
  EXPECT_EQ(scheduler_remove(schedule.folder, &found, &problem), SchedulerResult::done);
  EXPECT_FALSE(found);
  // Another spelling's letter case names the same task: Windows folds it.
  ASSERT_EQ(scheduler_add(schedule, &problem), SchedulerResult::done) << problem;
  EXPECT_EQ(scheduler_remove("C:\\Users\\public\\photos", &found, &problem), SchedulerResult::done);
  EXPECT_TRUE(found);
}

}  // namespace
