// The Linux side of the catalog's drives, open to the tests: the mount
// table and its classification.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ports/drives.h"

// Reads the process's mount table (mountinfo format) into text. True, or false.
bool read_mount_table(std::string* text);
// True when the block device (major, minor), or the disk it is a partition of,
// is removable.
bool block_device_removable(std::uint32_t major, std::uint32_t minor);
// Every mount of a mountinfo text in mount-point order, classified; mounts
// hidden under a later mount on the same point are left out. removable tells
// whether a block device (major, minor) is removable.
std::vector<Drive> classify_mounts(const std::string& mountinfo,
                                   bool (*removable)(std::uint32_t major, std::uint32_t minor));
// Of those, the drives a build scans: fixed, network and RAM disks, without
// bind mounts of what another scanned mount already shows.
std::vector<Drive> scanned_drives(const std::string& mountinfo,
                                  bool (*removable)(std::uint32_t major, std::uint32_t minor));
