// POSIX path convention: "/" alone, names compared byte for byte.
#include "ports/paths.h"

const PathRules& path_rules() {
  return kSlashRules;
}
