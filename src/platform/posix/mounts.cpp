// Linux drives for the catalog: the mount table (/proc/self/mountinfo) read and
// classified, removable block devices told by sysfs.
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/posix/posix_mounts.h"
#include "ports/files.h"

namespace {

// One line of mountinfo, the fields the catalog needs.
struct Mount {
  std::string device;  // "major:minor"
  std::string root;    // the mounted folder of its file system
  std::string mount_point;
  std::string type;
};

// "major:minor" as mountinfo writes a device; false for anything else.
bool parse_device(const std::string& text, unsigned* major, unsigned* minor) {
  const char* end = text.data() + text.size();
  const auto first = std::from_chars(text.data(), end, *major);
  if (first.ec != std::errc{} || first.ptr == end || *first.ptr != ':') return false;
  const auto second = std::from_chars(first.ptr + 1, end, *minor);
  return second.ec == std::errc{} && second.ptr == end;
}

// mountinfo escapes blanks, tabs, newlines and backslashes as \ooo.
std::string unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size()) {
      const std::string digits = text.substr(i + 1, 3);
      if (std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '7'; })) {
        out.push_back(static_cast<char>(std::stoi(digits, nullptr, 8)));
        i += 3;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

bool parse_line(const std::string& line, Mount* mount) {
  std::istringstream words(line);
  std::string id, parent, device, root, mount_point, options, word;
  if (!(words >> id >> parent >> device >> root >> mount_point >> options)) return false;
  while (words >> word && word != "-") {
  }
  if (word != "-" || !(words >> mount->type)) return false;
  mount->device = device;
  mount->root = unescape(root);
  mount->mount_point = unescape(mount_point);
  return true;
}

bool under(const std::string& path, const std::string& folder) {
  return path == folder || path.rfind(folder + "/", 0) == 0;
}

bool one_of(const std::string& type, std::initializer_list<const char*> names) {
  return std::any_of(names.begin(), names.end(), [&](const char* name) { return type == name; });
}

std::uint32_t classify(const Mount& mount,
                       bool (*removable)(std::uint32_t major, std::uint32_t minor)) {
  const std::string& type = mount.type;
  if (one_of(type, {"iso9660", "udf", "squashfs"})) return DRIVE_CDROM;
  if (under(mount.mount_point, "/media") || under(mount.mount_point, "/run/media")) {
    return DRIVE_REMOVABLE;
  }
  if (one_of(type, {"nfs", "nfs4", "cifs", "smb3", "smbfs", "ncpfs", "afs", "ceph", "glusterfs",
                    "9p", "davfs", "fuse.sshfs", "fuse.rclone", "fuse.s3fs", "fuse.gcsfuse",
                    "fuse.glusterfs", "fuse.curlftpfs", "fuse.davfs2", "fuse.cephfs"})) {
    return DRIVE_REMOTE;
  }
  if (one_of(type, {"tmpfs", "ramfs"})) {
    for (const char* system : {"/dev", "/run", "/sys", "/proc"}) {
      if (under(mount.mount_point, system)) return DRIVE_UNKNOWN;
    }
    return DRIVE_RAMDISK;
  }
  const bool block =
      one_of(type, {"ext2", "ext3",     "ext4",   "xfs",      "btrfs",   "f2fs", "zfs",
                    "jfs",  "reiserfs", "ntfs",   "ntfs3",    "exfat",   "vfat", "msdos",
                    "hfs",  "hfsplus",  "nilfs2", "bcachefs", "fuseblk", "ufs"});
  if (block || (type == "overlay" && mount.mount_point == "/")) {
    unsigned major = 0;
    unsigned minor = 0;
    if (block && parse_device(mount.device, &major, &minor) && removable != nullptr &&
        removable(major, minor)) {
      return DRIVE_REMOVABLE;
    }
    return DRIVE_FIXED;
  }
  return DRIVE_UNKNOWN;
}

// A visible mount: its drive, and what the bind-mount test compares.
struct MountEntry {
  Drive drive;
  std::string device;
  std::string root;
};

// The visible mounts, in mount-point order.
std::vector<MountEntry> visible_mounts(const std::string& mountinfo,
                                       bool (*removable)(std::uint32_t major,
                                                         std::uint32_t minor)) {
  std::vector<Mount> mounts;
  std::istringstream lines(mountinfo);
  std::string line;
  while (std::getline(lines, line)) {
    Mount mount;
    if (!parse_line(line, &mount)) continue;
    // A later mount on the same point hides the earlier one.
    mounts.erase(std::remove_if(mounts.begin(), mounts.end(),
                                [&](const Mount& m) { return m.mount_point == mount.mount_point; }),
                 mounts.end());
    mounts.push_back(mount);
  }
  std::stable_sort(mounts.begin(), mounts.end(), [](const Mount& a, const Mount& b) {
    return std::strcmp(a.mount_point.c_str(), b.mount_point.c_str()) < 0;
  });
  std::vector<MountEntry> entries;
  entries.reserve(mounts.size());
  for (const Mount& mount : mounts) {
    entries.push_back(
        MountEntry{Drive{mount.mount_point, classify(mount, removable)}, mount.device, mount.root});
  }
  return entries;
}

bool scanned_type(std::uint32_t type) {
  return type == DRIVE_FIXED || type == DRIVE_REMOTE || type == DRIVE_RAMDISK;
}

}  // namespace

bool read_mount_table(std::string* text) {
  std::ifstream in("/proc/self/mountinfo");
  if (!in) return false;
  std::ostringstream all;
  all << in.rdbuf();
  *text = all.str();
  return true;
}

bool block_device_removable(std::uint32_t major, std::uint32_t minor) {
  char device[64];  // two numbers of at most 10 digits: never cut
  const int length = std::snprintf(device, sizeof device, "/sys/dev/block/%u:%u", major, minor);
  if (length < 0 || length >= static_cast<int>(sizeof device)) return false;
  char device_path[PATH_MAX];
  if (realpath(device, device_path) == nullptr) return false;
  std::string disk = device_path;
  // A partition carries the attribute on its disk, the folder above it.
  if (access((disk + "/partition").c_str(), F_OK) == 0) disk.resize(disk.rfind('/'));
  char flag = '0';
  return file_read_start((disk + "/removable").c_str(), &flag, 1) == 1 && flag == '1';
}

std::vector<Drive> classify_mounts(const std::string& mountinfo,
                                   bool (*removable)(std::uint32_t major, std::uint32_t minor)) {
  std::vector<Drive> drives;
  for (const MountEntry& entry : visible_mounts(mountinfo, removable))
    drives.push_back(entry.drive);
  return drives;
}

std::vector<Drive> scanned_drives(const std::string& mountinfo,
                                  bool (*removable)(std::uint32_t major, std::uint32_t minor)) {
  const std::vector<MountEntry> mounts = visible_mounts(mountinfo, removable);
  std::vector<Drive> drives;
  for (std::size_t i = 0; i < mounts.size(); ++i) {
    if (!scanned_type(mounts[i].drive.type)) continue;
    // A bind mount of what another scanned mount of the same device already
    // shows adds nothing: the same files would be listed twice.
    bool duplicate = false;
    for (std::size_t j = 0; j < mounts.size() && !duplicate; ++j) {
      const MountEntry& other = mounts[j];
      if (j == i || !scanned_type(other.drive.type) || other.device != mounts[i].device) continue;
      duplicate = other.root == mounts[i].root
                      ? j < i
                      : other.root == "/" || under(mounts[i].root, other.root);
    }
    if (!duplicate) drives.push_back(mounts[i].drive);
  }
  return drives;
}

std::vector<Drive> catalog_drives() {
  std::string mountinfo;
  if (!read_mount_table(&mountinfo)) return {};
  return scanned_drives(mountinfo, block_device_removable);
}
