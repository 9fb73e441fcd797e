// POSIX path convention: "/" alone, names compared byte for byte.
#include "platform/paths.h"

const PathRules& path_rules() {
  return kSlashRules;
}
