// The Linux drives of a catalog build: the mount table classified.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/posix/posix_mounts.h"

namespace {

bool none_removable(std::uint32_t, std::uint32_t) {
  return false;
}
bool sdb_removable(std::uint32_t major, std::uint32_t minor) {
  return major == 8 && minor >= 16;
}

const char kMountinfo[] =
    "21 26 0:20 / /proc rw,relatime - proc proc rw\n"
    "24 23 0:22 / /dev/shm rw - tmpfs tmpfs rw\n"
    "26 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
    "27 26 8:2 / /home rw,relatime shared:2 - btrfs /dev/sda2 rw\n"
    "28 26 0:30 / /run rw - tmpfs tmpfs rw\n"
    "29 26 8:17 / /mnt/stick rw - vfat /dev/sdb1 rw\n"
    "30 26 8:3 / /media/me/Disk rw - ext4 /dev/sda3 rw\n"
    "31 26 11:0 / /mnt/cd ro - iso9660 /dev/sr0 ro\n"
    "32 26 0:40 / /srv/share rw - nfs4 server:/share rw\n"
    "33 26 0:41 / /scratch rw - tmpfs tmpfs rw,size=1g\n"
    "34 26 8:2 /me/photos /photos rw - btrfs /dev/sda2 rw\n"
    "35 26 0:42 / /snap/core/1 ro - squashfs /dev/loop0 ro\n"
    "36 26 8:4 / /my\\040data rw - xfs /dev/sda4 rw\n"
    "37 26 0:43 / /net/box rw - fuse.sshfs box: rw\n"
    "39 26 8:5 / /data rw - ext4 /dev/sda5 rw\n"
    "40 39 8:6 / /data rw - ext4 /dev/sda6 rw\n"
    "41 26 8:1 / /again rw - ext4 /dev/sda1 rw\n";

TEST(Drives, MountTableIsClassifiedAndBindDuplicatesAreNotScanned) {
  const auto drives = classify_mounts(kMountinfo, sdb_removable);
  std::map<std::string, std::uint32_t> types;
  for (const Drive& drive : drives) types.emplace(drive.mount_point, drive.type);
  // The system's own tmpfs and pseudo file systems are no drives; \040 is a blank.
  const std::pair<std::uint32_t, std::vector<std::string>> expected[] = {
      {DRIVE_FIXED, {"/", "/home", "/my data"}},
      {DRIVE_UNKNOWN, {"/proc", "/dev/shm", "/run"}},
      {DRIVE_RAMDISK, {"/scratch"}},
      {DRIVE_REMOVABLE, {"/mnt/stick", "/media/me/Disk"}},
      {DRIVE_CDROM, {"/mnt/cd", "/snap/core/1"}},
      {DRIVE_REMOTE, {"/srv/share", "/net/box"}}};
  for (const auto& [type, mount_points] : expected) {
    for (const std::string& mount_point : mount_points)
      EXPECT_EQ(types[mount_point], type) << mount_point;
  }
  EXPECT_EQ(types.size(), drives.size());  // one entry for the two mounts on /data
  EXPECT_TRUE(std::is_sorted(drives.begin(), drives.end(), [](const Drive& a, const Drive& b) {
    return std::strcmp(a.mount_point.c_str(), b.mount_point.c_str()) < 0;
  }));
  std::vector<std::string> scanned;
  for (const Drive& drive : scanned_drives(kMountinfo, none_removable))
    scanned.push_back(drive.mount_point);
  // /photos shows part of /home's file system, /again all of /'s: both skipped.
  EXPECT_EQ(scanned, (std::vector<std::string>{"/", "/data", "/home", "/mnt/stick", "/my data",
                                               "/net/box", "/scratch", "/srv/share"}));
  // A bind mount of a folder whose own file system is not scanned stays.
  const char only_bind[] = "34 26 8:2 /me/photos /photos rw - btrfs /dev/sda2 rw\n";
  EXPECT_EQ(scanned_drives(only_bind, none_removable).size(), 1u);
}

}  // namespace
