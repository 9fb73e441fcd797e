// The catalog's drives as Windows names them, under Wine, whose C: is fixed.
#include <gtest/gtest.h>

#include "ports/drives.h"

TEST(Win32Drives, FixedDrivesAreRootsOfThreeCharacters) {
  int fixed_c = 0;
  for (const Drive& drive : catalog_drives()) {
    EXPECT_EQ(drive.mount_point.substr(1), ":\\");
    EXPECT_TRUE(drive.type == DRIVE_FIXED || drive.type == DRIVE_REMOTE ||
                drive.type == DRIVE_RAMDISK);
    fixed_c += drive.mount_point == "C:\\" && drive.type == DRIVE_FIXED ? 1 : 0;
  }
  EXPECT_EQ(fixed_c, 1);
}
