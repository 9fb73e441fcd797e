// Finding files in the catalog: whole builds, refreshes, patterns, the index.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <memory>

#include "catalog/catalog.h"
#include "catalog/finder.h"
#include "catalog/list_file.h"
#include "support.h"

using namespace test_support;

namespace {

struct FinderFixture : ::testing::Test {
  TempFolder temp;
  fs::path data = temp.path / "data";
  fs::path tree = temp.path / "tree";
  std::unique_ptr<AppState> state = std::make_unique<AppState>();
  void SetUp() override {
    fs::create_directories(data);
    fs::create_directories(tree);
    std::strcpy(state->data.folder, (data.string() + "/").c_str());
    state->data.usable = 1;
  }
  void TearDown() override { list_close(state->catalog.list); }
  CatalogBuilt build(const fs::path& folder) {
    return catalog_build_trees(state->catalog, state->data, state->scans,
                               {CatalogTree{folder.string(), false}}, nullptr, nullptr);
  }
  std::vector<std::string> find(const char* pattern, std::uint32_t limit = UINT32_MAX) {
    FindIndex index;
    std::string problem;
    if (!find_index_open(state->data, &index, &problem)) return {"no index: " + problem};
    std::vector<std::string> paths = find_paths(index, pattern, limit);
    find_index_close(&index);
    return paths;
  }
  std::string at(const char* name) const { return (tree / name).string(); }
  void put(const char* name) { write_text(tree / name, "x"); }
};

TEST_F(FinderFixture, OneBuildTakesMoreThanAHundredThousandFiles) {
  // 201 folders of 500 empty files: past both of the view list's limits.
  constexpr int kFolders = 201;
  for (int folder = 0; folder < kFolders; ++folder) {
    const fs::path dir = tree / ("f" + std::to_string(folder));
    fs::create_directories(dir);
    for (int file = 0; file < 500; ++file) std::ofstream(dir / ("n" + std::to_string(file)));
  }
  ASSERT_EQ(build(tree), CatalogBuilt::done);
  EXPECT_EQ(state->catalog.added.load(), kFolders * 500u);
  EXPECT_EQ(find("/").size(), kFolders * 500u);
  EXPECT_EQ(find("F200/N499"), std::vector<std::string>{at("f200/n499")});
  // A second build adds nothing, and the answers stand.
  state->catalog.added = 0;
  ASSERT_EQ(build(tree), CatalogBuilt::done);
  EXPECT_EQ(state->catalog.added.load(), 0u);
  EXPECT_EQ(find("f17/n4").size(), 111u);  // n4, n40..n49, n400..n499
}

TEST_F(FinderFixture, ARefreshMarksGoneFilesWithinItsTreeAndKeepsTheirRecords) {
  fs::create_directories(tree / "a");
  fs::create_directories(tree / "b");
  put("a/keep.jpg");
  put("a/drop.jpg");
  put("b/other.jpg");
  ASSERT_EQ(build(tree), CatalogBuilt::done);
  fs::remove(tree / "a/drop.jpg");
  fs::remove(tree / "b/other.jpg");
  put("a/new.jpg");
  // Only a's tree is read: b's file is gone, but no build has looked.
  ASSERT_EQ(build(tree / "a"), CatalogBuilt::done);
  EXPECT_EQ(find(".jpg"),
            (std::vector<std::string>{at("a/keep.jpg"), at("a/new.jpg"), at("b/other.jpg")}));
  // The record stays for the backup, marked.
  catalog_open(state->catalog, state->data);
  list_set_search_key(state->catalog.list, at("a/drop.jpg").c_str());
  const std::int32_t slot = catalog_find_path(state->catalog.list);
  ASSERT_GE(slot, 0);
  EXPECT_TRUE(catalog_is_gone(state->catalog.list, static_cast<std::uint32_t>(slot)));
  list_close(state->catalog.list);
  // Back again: named again. A file the scan cannot meet but that is still
  // there (behind a link to a folder, recorded by a backup) is never gone.
  put("a/drop.jpg");
  fs::create_directory_symlink(tree / "a", tree / "link");
  catalog_open(state->catalog, state->data);
  const std::int32_t linked = list_add_record(state->catalog.list);
  list_set_text(state->catalog.list, at("link/keep.jpg").c_str());
  list_put_field(state->catalog.list, static_cast<std::uint32_t>(linked), kCatalogPath);
  list_close(state->catalog.list);
  ASSERT_EQ(build(tree), CatalogBuilt::done);
  EXPECT_EQ(find("drop"), std::vector<std::string>{at("a/drop.jpg")});
  EXPECT_EQ(find("keep"), (std::vector<std::string>{at("a/keep.jpg"), at("link/keep.jpg")}));
  EXPECT_TRUE(find("other").empty());  // read whole now: b's file is gone
}

TEST_F(FinderFixture, PatternsIgnoreCaseAndGlobTheWholePath) {
  EXPECT_TRUE(pattern_matches("HOLIDAY", "/p/2024 Holiday/a.jpg"));
  EXPECT_FALSE(pattern_matches("holidays", "/p/2024 Holiday/a.jpg"));
  EXPECT_TRUE(pattern_matches("*.JPG", "/p/a.jpg"));
  EXPECT_FALSE(pattern_matches("*.jpg", "/p/a.jpg.txt"));        // the whole path
  EXPECT_FALSE(pattern_matches("a.jpg*", "/p/a.jpg"));           // from its start
  EXPECT_TRUE(pattern_matches("/p/*/c?.png", "/p/x/y/c1.png"));  // '*' crosses folders
  EXPECT_FALSE(pattern_matches("/p/*/c?.png", "/p/x/c12.png"));
  EXPECT_TRUE(pattern_matches("*", "/p"));
  EXPECT_FALSE(pattern_matches("", "/p"));
  EXPECT_FALSE(pattern_matches("/p/a.jpg/", "/p/a.jpg"));  // longer than the path
  // '?' and the star's steps are whole UTF-8 characters.
  EXPECT_TRUE(pattern_matches("*/caf?.jpg", "/p/caf\xC3\xA9.jpg"));
  EXPECT_FALSE(pattern_matches("*/caf??.jpg", "/p/caf\xC3\xA9.jpg"));
  EXPECT_FALSE(pattern_matches("*??", "\xE2\x98\xBA"));
  EXPECT_TRUE(pattern_matches("?*?", "\xE2\x98\xBA\xC3\xA9"));

  fs::create_directories(tree / "Trip 2024");
  fs::create_directories(tree / "trip-notes");
  put("Trip 2024/IMG_2.JPG");
  put("Trip 2024/img_10.jpg");
  put("trip-notes/list.txt");
  put("zz.jpg");
  ASSERT_EQ(build(tree), CatalogBuilt::done);
  // In byte order, whichever order the records are in.
  EXPECT_EQ(find("TRIP"),
            (std::vector<std::string>{at("Trip 2024/IMG_2.JPG"), at("Trip 2024/img_10.jpg"),
                                      at("trip-notes/list.txt")}));
  // Across a folder's end, and at most a limit, the first in order.
  EXPECT_EQ(find("2024/img_1"), std::vector<std::string>{at("Trip 2024/img_10.jpg")});
  EXPECT_EQ(find("4/i"),
            (std::vector<std::string>{at("Trip 2024/IMG_2.JPG"), at("Trip 2024/img_10.jpg")}));
  EXPECT_EQ(find("jpg", 1), std::vector<std::string>{at("Trip 2024/IMG_2.JPG")});
  EXPECT_EQ(find("*/z?.jpg"), std::vector<std::string>{at("zz.jpg")});
  EXPECT_EQ(find("*.txt").size(), 1u);
  EXPECT_EQ(find("?").size(), 0u);  // a glob of one character: no whole path
  EXPECT_TRUE(find("").empty());
  EXPECT_TRUE(find(std::string(900, 'a').c_str()).empty());
}

TEST_F(FinderFixture, TheIndexIsMadeAnewWhenStaleOrDamagedAndNeverTrustedOverTheCatalog) {
  put("one.jpg");
  ASSERT_EQ(build(tree), CatalogBuilt::done);
  const fs::path index = data / kCatalogIndexName;
  const Bytes good = read_bytes(index);
  // Damaged: a flipped byte in a name; cut short; missing.
  for (int damage = 0; damage < 3; ++damage) {
    Bytes bad = good;
    if (damage == 0) bad[bad.size() - 3] ^= 0x20;
    if (damage == 1) bad.resize(bad.size() / 2);
    if (damage < 2) {
      write_bytes(index, bad);
    } else {
      fs::remove(index);
    }
    EXPECT_EQ(find("one"), std::vector<std::string>{at("one.jpg")}) << damage;
    EXPECT_EQ(read_bytes(index), good) << damage;  // and written back sound
  }
  // Stale: the catalog changed behind it (a record added without an index).
  catalog_open(state->catalog, state->data);
  const std::int32_t slot = list_add_record(state->catalog.list);
  list_set_text(state->catalog.list, at("two.jpg").c_str());
  list_put_field(state->catalog.list, static_cast<std::uint32_t>(slot), kCatalogPath);
  list_close(state->catalog.list);
  EXPECT_EQ(find(".jpg"), (std::vector<std::string>{at("one.jpg"), at("two.jpg")}));
  // No catalog: no answer from an index left behind.
  fs::remove(data / kCatalogFileName);
  EXPECT_EQ(find("one").front().rfind("no index: there is no catalog", 0), 0u);
}

// The first layout, written here from its description alone: header,
// descriptors, then 1,040-byte slots (a tag, a 1,000-byte path, nine numbers).
Bytes first_layout_catalog(const std::vector<std::pair<std::string, std::uint32_t>>& records) {
  const std::uint32_t capacity = 20;
  Bytes file(1524 + capacity * 1040, 0);
  auto put32 = [&](std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) file[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  };
  std::memcpy(file.data(), "DATA1000", 8);
  put32(608, 1);
  put32(1352, 2);
  put32(1356, 10);
  put32(1360, capacity);
  put32(1364, 2);
  put32(1444, 14);
  put32(1448, 1528);
  for (std::uint32_t field = 2; field <= 10; ++field) {
    put32(1444 + 8 * (field - 1), 2);
    put32(1448 + 8 * (field - 1), 2528 + 4 * (field - 2));
  }
  for (std::size_t slot = 0; slot < records.size(); ++slot) {
    const std::size_t start = 1524 + slot * 1040;
    put32(start, 10);
    std::memcpy(file.data() + start + 4, records[slot].first.c_str(), records[slot].first.size());
    put32(start + 1004, records[slot].second);
    put32(start + 1020, 0x1234);  // a backup time's low word
  }
  return file;
}

TEST_F(FinderFixture, ACatalogOfTheFirstLayoutReadsAsItIsAndGrowsByItsRules) {
  put("a.jpg");
  put("b.jpg");
  const Bytes written = first_layout_catalog({{at("a.jpg"), 1}, {at("b.jpg"), 1}});
  write_bytes(data / kCatalogFileName, written);
  EXPECT_EQ(find("jpg"), (std::vector<std::string>{at("a.jpg"), at("b.jpg")}));
  EXPECT_EQ(read_bytes(data / kCatalogFileName), written);  // only read
  // A build finds both, adds one more, and leaves each record where the
  // first layout's readers look for it.
  put("c.jpg");
  ASSERT_EQ(build(tree), CatalogBuilt::done);
  const Bytes after = read_bytes(data / kCatalogFileName);
  ASSERT_GE(after.size(), written.size());
  EXPECT_TRUE(std::equal(written.begin(), written.begin() + 1524 + 2 * 1040, after.begin()));
  EXPECT_EQ(after[1524 + 2 * 1040], 10);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(after.data()) + 1524 + 2 * 1040 + 4),
            at("c.jpg"));
  EXPECT_EQ(after[1524 + 2 * 1040 + 1004], 1);  // its size
}

TEST_F(FinderFixture, AFindWhileAnotherProcessBuildsGivesWholeOldOrNewAnswers) {
  for (int file = 0; file < 300; ++file) std::ofstream(tree / ("old" + std::to_string(file)));
  ASSERT_EQ(build(tree), CatalogBuilt::done);
  const std::vector<std::string> old_answer = find("/");
  for (int file = 0; file < 20000; ++file) std::ofstream(tree / ("new" + std::to_string(file)));
  const pid_t builder = fork();
  if (builder == 0) _exit(build(tree) == CatalogBuilt::done ? 0 : 1);
  std::vector<std::vector<std::string>> new_answers;
  int status = 0;
  while (waitpid(builder, &status, WNOHANG) == 0) {
    std::vector<std::string> answer = find("/");
    if (answer != old_answer) new_answers.push_back(std::move(answer));
  }
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const std::vector<std::string> final_answer = find("/");
  ASSERT_EQ(final_answer.size(), 20300u);
  for (const auto& answer : new_answers) ASSERT_EQ(answer, final_answer);
}

}  // namespace
