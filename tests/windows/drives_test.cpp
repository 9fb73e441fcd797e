// The catalog's drives as Windows names them, under Wine: C: holds the
// prefix's Windows folder and is fixed; each drive is a 3-character root.
#include <gtest/gtest.h>

#include "platform/drives.h"

namespace {

TEST(Win32Drives, FixedDrivesAreRootsOfThreeCharacters) {
  const std::vector<Drive> drives = catalog_drives();
  bool c_found = false;
  for (const Drive& drive : drives) {
    EXPECT_EQ(drive.mount_point.size(), 3u);
    EXPECT_EQ(drive.mount_point.substr(1), ":\\");
    EXPECT_TRUE(drive.type == DRIVE_FIXED || drive.type == DRIVE_REMOTE ||
                drive.type == DRIVE_RAMDISK);
    c_found = c_found || (drive.mount_point == "C:\\" && drive.type == DRIVE_FIXED);
  }
  EXPECT_TRUE(c_found);
}

}  // namespace
