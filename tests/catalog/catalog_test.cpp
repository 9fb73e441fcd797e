#include "catalog/catalog.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "list_test_support.h"

namespace fs = std::filesystem;
using namespace list_test;

namespace {

int none_removable(std::uint32_t, std::uint32_t) {
  return 0;
}
int sdb_removable(std::uint32_t major, std::uint32_t minor) {
  return major == 8 && minor >= 16;
}

const char kMountinfo[] =
    "21 26 0:20 / /proc rw,relatime - proc proc rw\n"
    "22 26 0:21 / /sys rw,relatime - sysfs sysfs rw\n"
    "23 26 0:6 / /dev rw,relatime - devtmpfs devtmpfs rw\n"
    "24 23 0:22 / /dev/shm rw - tmpfs tmpfs rw\n"
    "26 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
    "27 26 8:2 / /home rw,relatime shared:2 - btrfs /dev/sda2 rw\n"
    "28 26 0:30 / /run rw - tmpfs tmpfs rw\n"
    "29 26 8:17 / /mnt/stick rw - vfat /dev/sdb1 rw\n"
    "30 26 8:3 / /media/me/Disk rw - ext4 /dev/sda3 rw\n"
    "31 26 11:0 / /mnt/cd ro - iso9660 /dev/sr0 ro\n"
    "32 26 0:40 / /srv/share rw - nfs4 server:/share rw\n"
    "33 26 0:41 / /scratch rw - tmpfs tmpfs rw,size=1g\n"
    "34 26 8:2 /me/photos /photos rw - btrfs /dev/sda2 rw\n"
    "35 26 0:42 / /snap/core/1 ro - squashfs /dev/loop0 ro\n"
    "36 26 8:4 / /my\\040data rw - xfs /dev/sda4 rw\n"
    "37 26 0:43 / /net/box rw - fuse.sshfs box: rw\n"
    "38 26 0:44 / /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n"
    "39 26 8:5 / /data rw - ext4 /dev/sda5 rw\n"
    "40 39 8:6 / /data rw - ext4 /dev/sda6 rw\n"
    "41 26 8:1 / /again rw - ext4 /dev/sda1 rw\n";

TEST(Drives, MountTableIsClassifiedLikeDriveTypes) {
  const auto drives = classify_mounts(kMountinfo, sdb_removable);
  auto type_of = [&](const std::string& mount_point) {
    for (const Drive& drive : drives) {
      if (drive.mount_point == mount_point) return drive.type;
    }
    return 99u;
  };
  // The system's own tmpfs and pseudo file systems are no drives; \040 is a blank.
  const std::pair<const char*, std::uint32_t> expected[] = {{"/", DRIVE_FIXED},
                                                            {"/home", DRIVE_FIXED},
                                                            {"/my data", DRIVE_FIXED},
                                                            {"/proc", DRIVE_UNKNOWN},
                                                            {"/dev/shm", DRIVE_UNKNOWN},
                                                            {"/run", DRIVE_UNKNOWN},
                                                            {"/sys/fs/cgroup", DRIVE_UNKNOWN},
                                                            {"/scratch", DRIVE_RAMDISK},
                                                            {"/mnt/stick", DRIVE_REMOVABLE},
                                                            {"/media/me/Disk", DRIVE_REMOVABLE},
                                                            {"/mnt/cd", DRIVE_CDROM},
                                                            {"/snap/core/1", DRIVE_CDROM},
                                                            {"/srv/share", DRIVE_REMOTE},
                                                            {"/net/box", DRIVE_REMOTE}};
  for (const auto& [mount_point, type] : expected)
    EXPECT_EQ(type_of(mount_point), type) << mount_point;
  // Two mounts on /data: the later one hides the earlier.
  EXPECT_EQ(std::count_if(drives.begin(), drives.end(),
                          [](const Drive& d) { return d.mount_point == "/data"; }),
            1);
  // Mount-point order.
  EXPECT_TRUE(std::is_sorted(drives.begin(), drives.end(), [](const Drive& a, const Drive& b) {
    return std::strcmp(a.mount_point.c_str(), b.mount_point.c_str()) < 0;
  }));
}

TEST(Drives, ScannedDrivesSkipBindDuplicates) {
  std::vector<std::string> scanned;
  for (const Drive& drive : scanned_drives(kMountinfo, none_removable)) {
    scanned.push_back(drive.mount_point);
  }
  // /photos shows part of /home's file system, /again all of /'s: both skipped.
  EXPECT_EQ(scanned, (std::vector<std::string>{"/", "/data", "/home", "/mnt/stick", "/my data",
                                               "/net/box", "/scratch", "/srv/share"}));
  // A bind mount of a folder whose own file system is not scanned stays.
  const char only_bind[] = "34 26 8:2 /me/photos /photos rw - btrfs /dev/sda2 rw\n";
  EXPECT_EQ(scanned_drives(only_bind, none_removable).size(), 1u);
}

struct CatalogFixture : ::testing::Test {
  fs::path root = make_temp_folder();
  fs::path data = root / "data";
  fs::path drive = root / "drive";
  std::unique_ptr<AppState> state = std::make_unique<AppState>();
  static std::string last_log;

  void SetUp() override {
    fs::create_directories(data);
    fs::create_directories(drive);
    std::strcpy(state->data_folder, (data.string() + "/").c_str());
    state->data_folder_usable = 1;
    state->settings.select_mode = 1;
    last_log.clear();
  }
  void TearDown() override {
    list_close(state->catalog);
    fs::remove_all(root);
  }
  static void sink(void*, const char* log) { last_log = log; }
  void build() {
    catalog_build_drives(*state, {Drive{drive.string(), DRIVE_FIXED}}, sink, nullptr);
  }
  std::uint32_t records() {
    ListFile probe;
    std::strcpy(probe.path, (data / kCatalogFileName).c_str());
    list_map(probe);
    const std::uint32_t count = list_count_records(probe);
    list_close(probe);
    return count;
  }
  void put(const char* name, const std::string& content = "x") {
    fs::create_directories((drive / name).parent_path());
    std::ofstream(drive / name) << content;
  }
};
std::string CatalogFixture::last_log;

TEST_F(CatalogFixture, NewCatalogIsCreatedWithSlotZeroFreed) {
  catalog_open(*state);
  ASSERT_NE(state->catalog.base, nullptr);
  list_close(state->catalog);
  EXPECT_EQ(fs::file_size(data / kCatalogFileName), 17124u);
  const auto bytes = file_bytes(data / kCatalogFileName);
  EXPECT_EQ(u32_at(bytes, 1524), SLOT_FREED);
  EXPECT_EQ(records(), 0u);

  // A file of that name that is no list file is replaced.
  put_file_bytes(data / kCatalogFileName, {'n', 'o', 't', ' ', 'a', ' ', 'l', 'i', 's', 't'});
  catalog_open(*state);
  ASSERT_NE(state->catalog.base, nullptr);
  list_close(state->catalog);
  EXPECT_EQ(fs::file_size(data / kCatalogFileName), 17124u);
}

TEST_F(CatalogFixture, BuildAddsEachPathOnceWithItsSize) {
  put("a.jpg", "12345");
  put("A.JPG", "123");  // differs only in case: a file of its own
  put("sub/notes.txt", "1");
  state->settings.select_mode = 0;  // the drive's root folder only
  build();
  EXPECT_EQ(records(), 2u);
  state->settings.select_mode = 1;
  build();
  EXPECT_EQ(last_log, "\r\n" + drive.string());
  EXPECT_EQ(records(), 3u);
  EXPECT_EQ(state->scan_mode.load(), 0);
  EXPECT_EQ(state->catalog.base, nullptr);

  ListFile probe;
  std::strcpy(probe.path, (data / kCatalogFileName).c_str());
  list_map(probe);
  list_set_search_key(probe, (drive / "a.jpg").c_str());
  const std::int32_t slot = list_find_exact(probe, kCatalogPath);
  ASSERT_GE(slot, 0);
  list_get_field(probe, static_cast<std::uint32_t>(slot), kCatalogSize);
  EXPECT_EQ(probe.number_value, 5);
  list_close(probe);
  put("b.gif");
  build();
  EXPECT_EQ(records(), 4u);
}

TEST_F(CatalogFixture, ARunningScanOrAHeldCatalogIsLeftAlone) {
  put("a.txt");
  state->scan_mode = 1;
  build();
  EXPECT_TRUE(last_log.empty());
  EXPECT_EQ(state->scan_mode.load(), 1);
  list_close(state->catalog);  // the build left it open, as its next user finds it
  EXPECT_EQ(records(), 0u);
  state->scan_mode = 0;

  // Another holder (a second open of the file for writing) keeps it.
  ListFile holder;
  std::strcpy(holder.path, (data / kCatalogFileName).c_str());
  holder.writable = 1;
  ASSERT_NE(list_map(holder), nullptr);
  const auto before = file_bytes(data / kCatalogFileName);
  build();
  EXPECT_EQ(state->catalog.base, nullptr);
  EXPECT_EQ(file_bytes(data / kCatalogFileName), before);
  list_close(holder);
}

TEST_F(CatalogFixture, JumpAtFiftyThousandAndLogTrimming) {
  catalog_open(*state);
  put("f.txt");
  EXPECT_EQ(catalog_add_file(*state, drive.c_str(), "f.txt", 49999), 99980u);
  EXPECT_EQ(catalog_add_file(*state, drive.c_str(), "f.txt", 7), 7u);  // listed already
  list_close(state->catalog);

  state->catalog_log = static_cast<char*>(std::calloc(kCatalogLogBytes, 1));
  std::memset(state->catalog_log, 'x', kCatalogLogLimit + 1);
  catalog_log_line(*state, "/home", sink, nullptr);
  EXPECT_EQ(last_log.size(), kCatalogLogLimit + 1 - kCatalogLogTrim + 2 + 5);
  EXPECT_EQ(last_log.substr(last_log.size() - 7), "\r\n/home");
  std::free(state->catalog_log);
  state->catalog_log = nullptr;
}

}  // namespace
