// The drives a catalog build scans.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Drive types, as the platform classifies its mounts or drives.
enum DriveType : std::uint32_t {
  DRIVE_UNKNOWN = 0,
  DRIVE_NO_ROOT = 1,
  DRIVE_REMOVABLE = 2,
  DRIVE_FIXED = 3,
  DRIVE_REMOTE = 4,
  DRIVE_CDROM = 5,
  DRIVE_RAMDISK = 6,
};

struct Drive {
  std::string mount_point;  // as the log shows it: "/" or "/home"
  std::uint32_t type;
};

// The machine's fixed, network and RAM drives, each once, in the order a
// build scans them; removable media, optical discs and system file systems
// are left out.
std::vector<Drive> catalog_drives();
