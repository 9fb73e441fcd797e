// Win32 path convention: drive and share roots, backslashes, names compared
// without letter case as NTFS does.
#include "ports/paths.h"

const PathRules& path_rules() {
  return kDriveRules;
}
