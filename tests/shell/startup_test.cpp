// The command-line tokenizer; tests/e2e/command_line_e2e.sh runs the
// switches themselves.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "backup/backup.h"
#include "platform/headless/headless_desktop.h"
#include "settings/settings.h"
#include "shell/shell.h"
#include "shell/startup.h"
#include "state/app_state.h"
#include "state/settings_block.h"
#include "support.h"

namespace {

TEST(CommandLine, TokenizerGroupsQuotedBlanks) {
  // Line, index, code, argument: 1 found, 2 none left, 3 unbalanced quote or
  // too long (never cut into a wrong path), 4 empty.
  const struct {
    const char* line;
    std::uint32_t index;
    int code;
    const char* argument;
  } cases[] = {{"prog a b", 0, 1, "prog"},
               {"  prog   a", 1, 1, "a"},
               {"prog a b", 3, 2, ""},
               {"prog /home/\"my pics\"/a.jpg", 1, 1, "/home/my pics/a.jpg"},
               {"prog a\xfe"
                "b",
                1, 1, "a b"},
               {"prog\ta\tb", 2, 1, "b"},
               {"prog \"a b", 1, 3, "untouched"},
               {"prog \"\"", 1, 4, ""},
               {"prog a ", 2, 4, ""}};
  for (const auto& c : cases) {
    char out[kPathBytes] = "untouched";
    EXPECT_EQ(get_command_argument(c.line, c.index, out), c.code) << c.line;
    EXPECT_STREQ(out, c.argument) << c.line;
  }
  char out[kPathBytes];
  EXPECT_EQ(get_command_argument((std::string("prog ") + std::string(700, 'x')).c_str(), 1, out),
            3);
}

TEST(CommandLine, SplitLineStopsAtTheFirstEmptyArgumentAndKeepsLongOnes) {
  using Words = std::vector<std::string>;
  EXPECT_EQ(split_command_line("\"C:\\T m\\t.exe\" /b=\"D:\\My Pics\" x"),
            (Words{"C:\\T m\\t.exe", "/b=D:\\My Pics", "x"}));
  EXPECT_EQ(split_command_line("t.exe a \"\" b"), (Words{"t.exe", "a", ""}));
  EXPECT_EQ(split_command_line("t.exe a \"b"), Words{""});
  // Too long for the 600-byte buffer, yet whole: start-up says so.
  EXPECT_EQ(split_command_line(("t.exe /b=" + std::string(700, 'x')).c_str())[1].size(), 703u);
}

}  // namespace

namespace {

// A scheduled run that failed is told by the viewer's next start, once.
TEST(FailedSchedules, AreToldByTheNextStartOnce) {
  test_support::PrivateHome home;
  home.enter_home();
  auto state = std::make_unique<AppState>();
  choose_data_folder_at(state->data, home.program().c_str());
  RunLogEntry entry;
  entry.command = "/b=/home/a";
  entry.status = 1;
  entry.problem = "cannot read /home/a/x: Permission denied";
  ASSERT_TRUE(note_failed_run(state->data, entry));
  entry.problem = "no such folder";
  ASSERT_TRUE(note_failed_run(state->data, entry));
  headless_reset();
  tell_failed_schedules(*state);
  tell_failed_schedules(*state);
  const std::vector<std::string> calls = headless_calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].rfind("error Tessmira: A backup started by the scheduler failed", 0), 0u);
  EXPECT_NE(calls[0].find("Permission denied"), std::string::npos);
  EXPECT_NE(calls[0].find("no such folder"), std::string::npos);
  EXPECT_FALSE(test_support::fs::exists(home.program_dir / kFailedRunsFile));
}

}  // namespace
