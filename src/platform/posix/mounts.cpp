// Linux mounts: read_mount_table (/proc/self/mountinfo), block_device_removable (sysfs).
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/files.h"
#include "platform/mounts.h"

int read_mount_table(std::string* text) {
  std::ifstream in("/proc/self/mountinfo");
  if (!in) return -1;
  std::ostringstream all;
  all << in.rdbuf();
  *text = all.str();
  return 0;
}

int block_device_removable(std::uint32_t major, std::uint32_t minor) {
  char device[64];  // two numbers of at most 10 digits: never cut
  const int length = std::snprintf(device, sizeof device, "/sys/dev/block/%u:%u", major, minor);
  if (length < 0 || length >= static_cast<int>(sizeof device)) return 0;
  char device_path[PATH_MAX];
  if (realpath(device, device_path) == nullptr) return 0;
  std::string disk = device_path;
  // A partition carries the attribute on its disk, the folder above it.
  if (access((disk + "/partition").c_str(), F_OK) == 0) disk.resize(disk.rfind('/'));
  char flag = '0';
  return file_read_start((disk + "/removable").c_str(), &flag, 1) == 1 && flag == '1' ? 1 : 0;
}
