// The single-instance lock under Wine: a name is held once, in any process.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>

#include "platform/instance.h"

TEST(Win32Instance, ANameIsHeldOnce) {
  EXPECT_EQ(claim_instance_lock("", "Tessmira.exe test"), 1);
  EXPECT_EQ(claim_instance_lock("", "Tessmira.exe test"), 0);
  EXPECT_EQ(claim_instance_lock("", "Tessmira.exe other"), 1);
  char command[MAX_PATH + 80] = "\"";
  ASSERT_GT(GetModuleFileNameA(nullptr, command + 1, MAX_PATH), 0u);
  std::strcat(command, "\" --gtest_also_run_disabled_tests --gtest_filter=*DISABLED_Held*");
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  ASSERT_TRUE(CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &child));
  WaitForSingleObject(child.hProcess, INFINITE);
  DWORD status = 99;
  GetExitCodeProcess(child.hProcess, &status);
  EXPECT_EQ(status, 0u);
}

// Run by the test above as a second process.
TEST(Win32Instance, DISABLED_HeldByAnother) {
  EXPECT_EQ(claim_instance_lock("", "Tessmira.exe test"), 0);
}
