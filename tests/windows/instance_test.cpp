// The single-instance lock under Wine: a name is held once, in any process,
// and a data folder's lock file once, whatever name another login uses.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "ports/instance.h"
#include "support.h"

using namespace test_support;

namespace {

TEST(Win32Instance, ANameIsHeldOnce) {
  EXPECT_EQ(claim_instance_lock("", "Tessmira.exe test", LockUse::exclusive, true),
            InstanceLock::held);
  EXPECT_EQ(claim_instance_lock("", "Tessmira.exe test", LockUse::exclusive, true),
            InstanceLock::held_elsewhere);
  EXPECT_EQ(claim_instance_lock("", "Tessmira.exe other", LockUse::exclusive, true),
            InstanceLock::held);
  EXPECT_EQ(run_own_disabled_tests("*DISABLED_Held*"), 0u);
}

TEST(Win32Instance, TheDataFolderIsHeldAcrossLogins) {
  TempFolder temp;
  const std::string folder = temp.path.string() + "\\";
  // Another login's instance: its mutex lives in its own session, so here
  // only its lock file is seen.
  const std::string file = folder + "Tessmira.exe folder.lock";
  HANDLE held = CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(claim_instance_lock(folder.c_str(), "Tessmira.exe folder", LockUse::exclusive, true),
            InstanceLock::held_elsewhere);
  CloseHandle(held);
  EXPECT_EQ(claim_instance_lock(folder.c_str(), "Tessmira.exe folder 2", LockUse::exclusive, true),
            InstanceLock::held);
}

// Run by the test above as a second process.
TEST(Win32Instance, DISABLED_HeldByAnother) {
  EXPECT_EQ(claim_instance_lock("", "Tessmira.exe test", LockUse::exclusive, true),
            InstanceLock::held_elsewhere);
}

}  // namespace
