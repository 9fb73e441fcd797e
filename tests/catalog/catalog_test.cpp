// The catalog built over the drives, and its report.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "catalog/catalog.h"
#include "catalog/list_file.h"
#include "platform/headless/headless_desktop.h"
#include "support.h"

using namespace test_support;

namespace {

struct CatalogFixture : ::testing::Test {
  TempFolder temp;
  fs::path data = temp.path / "data";
  fs::path drive = temp.path / "drive";
  std::unique_ptr<AppState> state = std::make_unique<AppState>();
  static std::string last_log;
  void SetUp() override {
    fs::create_directories(data);
    fs::create_directories(drive);
    std::strcpy(state->data.folder, (data.string() + "/").c_str());
    state->data.usable = 1;
    state->settings.select_mode = 1;
    last_log.clear();
  }
  void TearDown() override { list_close(state->catalog.list); }
  static void sink(void*, const char* log) { last_log = log; }
  void build() {
    catalog_build_drives(state->catalog, state->data, state->scans,
                         {Drive{drive.string(), DRIVE_FIXED}}, sink, nullptr);
  }
  std::uint32_t records() {
    catalog_open(state->catalog, state->data);
    const std::uint32_t count = list_count_records(state->catalog.list);
    list_close(state->catalog.list);
    return count;
  }
  void put(const char* name, const std::string& content = "x") {
    write_text(drive / name, content);
  }
};
std::string CatalogFixture::last_log;

TEST_F(CatalogFixture, ACatalogThatCouldTakeNoRecordIsSetAsideAndStartedAnew) {
  const fs::path file = data / kCatalogFileName;
  catalog_open(state->catalog, state->data);
  list_close(state->catalog.list);
  const Bytes good = read_bytes(file);
  // No slot at all; a sound list file whose second field is a text of a
  // number's width, which no catalog has.
  for (const auto& [offset, value] : {std::pair{1360u, 0u}, std::pair{1452u, 10u}}) {
    Bytes bad = good;
    std::memcpy(bad.data() + offset, &value, 4);
    write_bytes(file, bad);
    const CatalogMends mends = catalog_open(state->catalog, state->data);
    EXPECT_TRUE(mends.set_aside) << offset;
    EXPECT_GE(list_add_record(state->catalog.list), 0) << offset;
    list_close(state->catalog.list);
    EXPECT_EQ(read_bytes(data / kCatalogAside), bad) << offset;
    EXPECT_FALSE(catalog_open(state->catalog, state->data).set_aside) << offset;
    list_close(state->catalog.list);
  }
}

TEST_F(CatalogFixture, BuildAddsEachPathOnceWithItsSize) {
  // A file of the catalog's name that is no list file is replaced.
  write_bytes(data / kCatalogFileName, {'n', 'o', 't', ' ', 'a', ' ', 'l', 'i', 's', 't'});
  catalog_open(state->catalog, state->data);
  ASSERT_NE(state->catalog.list.base, nullptr);
  list_close(state->catalog.list);
  EXPECT_EQ(fs::file_size(data / kCatalogFileName), 17124u);
  EXPECT_EQ(read_bytes(data / kCatalogFileName)[1524], SLOT_FREED);  // slot 0's tag
  put("a.jpg", "12345");
  put("A.JPG", "123");  // differs only in case: a file of its own
  put("sub/notes.txt", "1");
  state->settings.select_mode = 0;  // Linear: a catalog takes subfolders all the same
  build();
  EXPECT_EQ(last_log, "\r\n" + drive.string());
  EXPECT_EQ(records(), 3u);
  build();
  EXPECT_EQ(records(), 3u);
  EXPECT_EQ(state->scans.mode.load(), ScanMode::none);
  EXPECT_EQ(state->catalog.list.base, nullptr);
  catalog_open(state->catalog, state->data);
  list_set_search_key(state->catalog.list, (drive / "a.jpg").c_str());
  const std::int32_t slot = list_find_exact(state->catalog.list, kCatalogPath);
  ASSERT_GE(slot, 0);
  list_get_field(state->catalog.list, static_cast<std::uint32_t>(slot), kCatalogSize);
  EXPECT_EQ(state->catalog.list.number_value, 5);
  // Another spelling of a name is the same file only where names ignore case.
  list_set_search_key(state->catalog.list, (drive / "A.jpg").c_str());
  EXPECT_EQ(catalog_find_path(state->catalog.list, kSlashRules), -1);
  EXPECT_GE(catalog_find_path(state->catalog.list, kDriveRules), 0);
  // Each build sorts the records first, collated as text: a record added at
  // the end comes to the front at the next build.
  list_close(state->catalog.list);
  put("0.jpg");
  build();
  build();
  catalog_open(state->catalog, state->data);
  std::string paths;
  for (std::uint32_t i = 0; i < 4; ++i) {
    list_get_field(state->catalog.list, i, kCatalogPath);
    paths += fs::path(state->catalog.list.text_value).lexically_relative(drive).string() + " ";
  }
  EXPECT_EQ(paths, "0.jpg A.JPG a.jpg sub/notes.txt ");
}

TEST_F(CatalogFixture, TheReportRunsTheBuildAndShowsItsLogAndCount) {
  put("a.jpg");
  put("sub/b.txt");
  state->catalog.cancel = 1;  // left by an ended session: a new report starts afresh
  headless_reset();
  catalog_report_drives(state->catalog, state->data, state->scans,
                        {Drive{drive.string(), DRIVE_FIXED}});
  EXPECT_EQ(headless_calls(),
            std::vector<std::string>{"report 2 files counted, 2 new:\r\n" + drive.string()});
  EXPECT_EQ(records(), 2u);
}

TEST_F(CatalogFixture, NoCountStopsABuildAndTheLogIsTrimmed) {
  catalog_open(state->catalog, state->data);
  put("f.txt");
  // The scan's count is left as it was: its limits never end a build.
  EXPECT_EQ(catalog_add_file(state->catalog, nullptr, drive.c_str(), "f.txt", 49999), 49999u);
  EXPECT_EQ(catalog_add_file(state->catalog, nullptr, drive.c_str(), "f.txt", 99989),
            99989u);  // listed already
  EXPECT_EQ(list_count_records(state->catalog.list), 1u);
  list_close(state->catalog.list);
  state->catalog.log = static_cast<char*>(std::calloc(kCatalogLogBytes, 1));
  std::memset(state->catalog.log, 'x', kCatalogLogLimit + 1);
  catalog_log_line(state->catalog, "/home", sink, nullptr);
  EXPECT_EQ(last_log.size(), kCatalogLogLimit + 1 - kCatalogLogTrim + 2 + 5);
  EXPECT_EQ(last_log.substr(last_log.size() - 7), "\r\n/home");
  std::free(state->catalog.log);
  state->catalog.log = nullptr;
}

}  // namespace
