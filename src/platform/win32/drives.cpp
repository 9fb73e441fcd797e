// Win32 drives for the catalog: the drive letters GetLogicalDrives names,
// kept when GetDriveTypeA calls them fixed, remote or a RAM disk.
// Ours first: windows.h then defines DRIVE_FIXED and the others as the same
// numbers the enumeration gives them.
#include "ports/drives.h"
// Then the system's.
#include <windows.h>

std::vector<Drive> catalog_drives() {
  std::vector<Drive> drives;
  const DWORD letters = GetLogicalDrives();
  for (int n = 0; n < 26; ++n) {
    if ((letters & (DWORD{1} << n)) == 0) continue;
    const char root[4] = {static_cast<char>('A' + n), ':', '\\', '\0'};
    const std::uint32_t type = GetDriveTypeA(root);
    if (type == DRIVE_FIXED || type == DRIVE_REMOTE || type == DRIVE_RAMDISK) {
      drives.push_back(Drive{root, type});
    }
  }
  return drives;
}
