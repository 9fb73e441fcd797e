#include "catalog/catalog.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "navigation/navigation.h"
#include "platform/files.h"
#include "platform/mounts.h"
#include "text/text.h"

namespace {

constexpr std::uint32_t kCatalogFields = 10;
constexpr std::uint32_t kCatalogJumpAt = 50000;

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
                       int (*removable)(std::uint32_t major, std::uint32_t minor)) {
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
        removable(major, minor) == 1) {
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
                                       int (*removable)(std::uint32_t major, std::uint32_t minor)) {
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

std::vector<Drive> classify_mounts(const std::string& mountinfo,
                                   int (*removable)(std::uint32_t major, std::uint32_t minor)) {
  std::vector<Drive> drives;
  for (const MountEntry& entry : visible_mounts(mountinfo, removable))
    drives.push_back(entry.drive);
  return drives;
}

std::vector<Drive> scanned_drives(const std::string& mountinfo,
                                  int (*removable)(std::uint32_t major, std::uint32_t minor)) {
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

std::uint8_t* catalog_create(AppState& state) {
  ListFile& catalog = state.scan.catalog;
  catalog.field_count = kCatalogFields;
  if (!list_create(catalog)) return nullptr;
  list_define_field(catalog, kCatalogPath, TEXT1000);
  for (std::uint32_t field = 2; field <= kCatalogFields; ++field) {
    list_define_field(catalog, field, NUM4);
  }
  list_lay_out(catalog);
  list_close(catalog);
  catalog.writable = 1;
  if (list_map(catalog) == nullptr) return nullptr;
  // Slot 0 taken and freed, as every catalog starts.
  list_add_record(catalog);
  list_set_tag(catalog, 0, SLOT_FREED);
  return catalog.base;
}

CatalogMends catalog_open(AppState& state) {
  CatalogMends mends{0, false};
  ListFile& catalog = state.scan.catalog;
  if (catalog.base != nullptr) return mends;
  if (!state.window.data_folder_usable ||
      length_of_text(state.window.data_folder) + sizeof kCatalogAside > kListPathBytes) {
    return mends;
  }
  copy_text(state.window.data_folder, catalog.path);
  append_text(catalog.path, kCatalogFileName);
  catalog.writable = 1;
  if (list_map(catalog) != nullptr) {
    mends.dropped = list_drop_damaged(catalog, kCatalogPath);
    return mends;
  }
  // A catalog held by another process, or one we may not open, is left alone.
  if (catalog.failure != OpenFailure::missing && catalog.failure != OpenFailure::not_list) {
    return mends;
  }
  // Whatever is there instead (a damaged file, a link to some other file, a
  // folder) is kept aside for the user, never overwritten.
  if (path_taken(catalog.path) == 1) {
    char aside[kListPathBytes];
    copy_text(state.window.data_folder, aside);
    append_text(aside, kCatalogAside);
    if (rename_replacing(catalog.path, aside) != 0) return mends;
    mends.set_aside = true;
  }
  catalog_create(state);
  return mends;
}

std::uint32_t catalog_add_file(AppState& state, const char* folder, const char* name,
                               std::uint32_t count) {
  // Asked to stop: the scan winds up as it does at its limit.
  if (state.scan.catalog_cancel.load() != 0) return kListLimit;
  ListFile& catalog = state.scan.catalog;
  char path[kPathBytes];
  if (join_path(folder, name, path) == 0) return count;
  // Paths are case-sensitive here: IMG_1.JPG and img_1.jpg are two files.
  list_set_search_key(catalog, path);
  if (list_find_exact(catalog, kCatalogPath) >= 0) return count;
  const std::int32_t slot = list_add_record(catalog);
  if (slot < 0) return count;
  list_set_text(catalog, path);
  list_put_field(catalog, static_cast<std::uint32_t>(slot), kCatalogPath);
  catalog.number_value = static_cast<std::int32_t>(file_size(path));
  list_put_field(catalog, static_cast<std::uint32_t>(slot), kCatalogSize);
  state.scan.catalog_added.fetch_add(1);
  ++count;
  return count == kCatalogJumpAt ? kFolderLimit : count;
}

void catalog_log_line(AppState& state, const char* line, CatalogLogSink sink, void* context) {
  char* log = state.scan.catalog_log;
  if (log == nullptr) return;
  std::uint32_t length = length_of_text(log);
  if (length > kCatalogLogLimit) {
    std::memmove(log, log + kCatalogLogTrim, length - kCatalogLogTrim + 1);
    length -= kCatalogLogTrim;
  }
  // A line longer than the room left is cut here, where only the display suffers.
  const std::uint32_t room = kCatalogLogBytes - 1 - length;
  std::strncat(log + length, "\r\n", room);
  std::strncat(log + length, line, room > 2 ? room - 2 : 0);
  if (sink != nullptr) sink(context, log);
}

void catalog_build_drives(AppState& state, const std::vector<Drive>& drives, CatalogLogSink sink,
                          void* context) {
  catalog_open(state);
  if (state.scan.catalog.base == nullptr) return;
  std::int32_t idle = 0;
  if (!state.scan.scan_mode.compare_exchange_strong(idle, 2)) return;
  state.scan.catalog_add_file = catalog_add_file;
  list_sort(state.scan.catalog, kCatalogPath);
  state.scan.catalog_log = static_cast<char*>(std::calloc(kCatalogLogBytes, 1));
  for (const Drive& drive : drives) {
    if (state.scan.catalog_cancel.load() != 0) break;
    FolderIdentity identity{};
    if (folder_identity(drive.mount_point.c_str(), &identity) != 0) continue;
    catalog_log_line(state, drive.mount_point.c_str(), sink, context);
    // The root scans as "", so that its paths read "/name".
    const char* start = drive.mount_point == "/" ? "" : drive.mount_point.c_str();
    state.scan.scan_device = identity.device;
    scan_folder(state, 0, nullptr, start);
    state.scan.scan_device = 0;
  }
  state.scan.scan_mode = 0;
  list_close(state.scan.catalog);
  std::free(state.scan.catalog_log);
  state.scan.catalog_log = nullptr;
}
