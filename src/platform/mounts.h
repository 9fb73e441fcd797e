// The mount table, for the catalog's drives.
#pragma once

#include <cstdint>
#include <string>

// Reads the process's mount table (mountinfo format) into text. 0, or -1.
int read_mount_table(std::string* text);
// 1 when the block device (major, minor), or the disk it is a partition of,
// is removable.
int block_device_removable(std::uint32_t major, std::uint32_t minor);
