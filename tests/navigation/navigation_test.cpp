// The file selection over real folder trees: listing order, the types and
// folders taken, the random picks, the list's limits.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <tuple>

#include "navigation/navigation.h"
#include "tree_support.h"

using namespace tree;

namespace {

TEST(FileSelection, RandomDrawsTypesAndTheRecentPickWindow) {
  auto state = viewing("/", 2);
  EXPECT_EQ(random_in_range(state->viewer, state->settings, 0), 1u);
  queue_draws({7}, 10);
  EXPECT_EQ(random_in_range(state->viewer, state->settings, 10), 7u);
  // The fallback, step by step: from state 0 with ticks 1000 the state is
  // (1000 x 1000) AND 0xFFFF = 16960 and the draw (16960 x 10) >> 12 = 41, less 10s: 1;
  // then ((16960^2) AND 0xFFFF) >> 1 = 2048, + (1000 AND 0xFF) = 2280; (2280 x 10) >> 12 = 5.
  test_seams().random_bytes = [](void*, std::uint32_t) { return false; };
  test_seams().tick_count = [] { return 1000u; };
  state->settings.random_state = 0;
  EXPECT_EQ(random_in_range(state->viewer, state->settings, 10), 1u);
  EXPECT_EQ(random_in_range(state->viewer, state->settings, 10), 5u);
  EXPECT_EQ(state->settings.random_state, 2280u);
  // Every ending in any case; with More Picture Types off, BMP, JPG and GIF alone.
  const std::tuple<const char*, std::int32_t, std::int32_t> types[] = {
      {"IMG.JPG", 2, 2},   {"img.Jpg", 2, 2}, {"a.gif", 3, 3},   {"b.BMP", 1, 1},
      {"c.jpeg", 4, 0},    {"c.JPE", 4, 0},   {"c.Jfif", 4, 0},  {"d.png", 5, 0},
      {"w.WEBP", 6, 0},    {"t.tif", 7, 0},   {"t.TIFF", 7, 0},  {"v.avif", 8, 0},
      {"p.HeIc", 9, 0},    {"p.heif", 9, 0},  {"x.jxl", 10, 0},  {"jpg", 0, 0},
      {"e.jpg.txt", 0, 0}, {".jpg", 2, 2},    {"f.jpegs", 0, 0}, {"g.tiffy", 0, 0},
      {"png", 0, 0},       {"h.pn", 0, 0}};
  for (const bool more : {true, false}) {
    state->extra.more_picture_types = more;
    for (const auto& [name, with_more, without] : types)
      EXPECT_EQ(image_type_of(state->settings, state->extra, name), more ? with_more : without)
          << name << more;
  }
  EXPECT_EQ(picture_patterns(state->settings, state->extra), "*.jpg *.gif *.bmp");
  state->extra.more_picture_types = true;
  state->settings.show_jpg = 0;  // a JPEG by any ending
  state->settings.show_gif = 0;
  EXPECT_EQ(image_type_of(state->settings, state->extra, "c.jpeg") +
                image_type_of(state->settings, state->extra, "a.gif"),
            0);
  EXPECT_EQ(image_type_of(state->settings, state->extra, "d.png"), 5);
  EXPECT_EQ(picture_patterns(state->settings, state->extra),
            "*.bmp *.png *.webp *.tif *.tiff *.avif *.heic *.heif *.jxl");
  state->settings.show_jpg = state->settings.show_gif = 1;
  // Ten files: the newest seven picks are refused.
  for (std::uint32_t draw = 1; draw <= 14; ++draw)
    EXPECT_EQ(check_recent_pick(state->viewer, state->settings, 10, (draw - 1) % 7 + 1),
              draw <= 7 ? int(draw) : -1);
  EXPECT_EQ(check_recent_pick(state->viewer, state->settings, 10, 8), 8);
  EXPECT_EQ(check_recent_pick(state->viewer, state->settings, 10, 1),
            1);  // eighth newest now: outside the window
  EXPECT_EQ(state->settings.recent_picks[1], 8u);
}

struct TreeFixture : ::testing::Test {
  TempFolder temp;
  const fs::path& root = temp.path;
  std::uint32_t build(AppState& state, std::uint32_t mode) {
    char path[kPathBytes];
    std::strcpy(path, root.c_str());
    return pick_file(picking(state), path, static_cast<SelectMode>(mode), -1, RequestKind::rebuild);
  }
};

TEST_F(TreeFixture, ListingIsInNameOrderAndTakesOnlyImageFiles) {
  for (const char* name : {"b.jpg", "A.jpg", "c.JPG", "notes.txt", "d.png", "sub/x.gif",
                           "Zed/y.bmp", "sub/deeper/w.jpg", "B.jpg", "b.jpg.jpg"}) {
    put_file(root / name);
  }
  fs::create_symlink(root / "b.jpg", root / "link.jpg");
  fs::create_symlink(root, root / "loop");  // a link to a folder is never entered
  fs::create_symlink(root / "gone.jpg", root / "dangling.jpg");
  ASSERT_EQ(mkfifo((root / "pipe.jpg").c_str(), 0600), 0);  // would hang if opened
  auto state = viewing(root, 0);
  EXPECT_EQ(build(*state, 0), 7u);
  EXPECT_EQ(listed(*state, root), (std::vector<std::string>{"A.jpg", "B.jpg", "b.jpg", "b.jpg.jpg",
                                                            "c.JPG", "d.png", "link.jpg"}));
  state = viewing(root, 1);
  state->extra.more_picture_types = false;
  build(*state, 1);
  EXPECT_EQ(listed(*state, root),
            (std::vector<std::string>{"A.jpg", "B.jpg", "b.jpg", "b.jpg.jpg", "c.JPG", "link.jpg",
                                      "sub/deeper/w.jpg", "sub/x.gif", "Zed/y.bmp"}));
}

TEST_F(TreeFixture, LowFoldersAreEnteredOnADrawAbove40) {
  put_file(root / "LoW/a.jpg");
  put_file(root / "top.jpg");
  auto state = viewing(root, 3);
  queue_draws({40}, 50);
  build(*state, 3);
  EXPECT_EQ(state->viewer.worker.file_count.load(), 1u);
  queue_draws({41}, 50);
  build(*state, 3);
  EXPECT_EQ(state->viewer.worker.file_count.load(), 2u);
  // Linear mode enters nothing, but the draw is made all the same.
  state = viewing(root, 0);
  queue_draws({50}, 50);
  build(*state, 0);
  EXPECT_EQ(state->viewer.worker.file_count.load(), 1u);
  EXPECT_EQ(draws().calls, 1);
}

TEST_F(TreeFixture, PathsThatDoNotFitASlotAreSkipped) {
  // Nest folders until the path is close to the 599-byte limit.
  fs::path deep = root;
  while (deep.string().size() < 560) deep /= std::string(30, 'd');
  const std::size_t room = 599 - deep.string().size() - 1;
  put_file(deep / (std::string(room - 4, 'f') + ".jpg"));  // exactly 599 bytes
  put_file(deep / (std::string(room - 3, 'g') + ".jpg"));  // 600: skipped
  auto state = viewing(root, 1);
  EXPECT_EQ(build(*state, 1), 1u);
  EXPECT_EQ(std::strlen(listed_path(state->viewer.list, 0)), 599u);
}

TEST_F(TreeFixture, PickFileKeepsTheShownImageAndRandomChoices) {
  put_file(root / "readme.txt");
  auto state = viewing(root, 0);
  EXPECT_EQ(build(*state, 0), 0u);  // no images: no list
  EXPECT_TRUE(state->viewer.list.files.blocks.empty());
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg"}) put_file(root / name);
  for (std::uint32_t mode = 0; mode < 4; ++mode) {
    state = viewing(root, mode);
    std::strcpy(state->settings.image_path, (root / "c.jpg").c_str());
    EXPECT_EQ(build(*state, mode), 4u) << mode;
    EXPECT_EQ(state->viewer.worker.current_index.load(), 2) << mode;
  }
  // Two to four files: draws are not checked against the recent picks.
  queue_draws({2, 2}, 4);
  char path[kPathBytes] = "";
  for (int i = 0; i < 2; ++i) {
    pick_file(picking(*state), path, SelectMode::deep_random, -1, RequestKind::step);
    EXPECT_EQ(state->viewer.worker.current_index.load(), 1);
  }
  // A running catalog scan keeps the present list.
  put_file(root / "e.jpg");
  state->scans.mode = ScanMode::catalog;
  EXPECT_EQ(build(*state, 3), 4u);
  // 101 files, 100 recent picks and every draw refused: after 101 draws, slot 0.
  for (int i = 0; i < 96; ++i)
    put_file(root / std::string("f").append(std::to_string(i)).append(".jpg"));
  state = viewing(root, 2);
  for (std::uint32_t i = 0; i < 100; ++i) state->settings.recent_picks[i] = i + 1;
  std::vector<std::uint32_t> refused(101);
  for (std::uint32_t i = 0; i < 101; ++i) refused[i] = i % 100 + 1;
  queue_draws(refused, 101);
  build(*state, 2);
  EXPECT_EQ(draws().next, 101u);
  EXPECT_EQ(state->viewer.worker.current_index.load(), 0);
}

TEST_F(TreeFixture, ListStopsAt99990Entries) {
  // 101 folders of 1,000 files: the list ends at 99,990, and no folder is
  // entered once the count is above 99,980.
  for (int folder = 0; folder < 101; ++folder) {
    const fs::path dir = root / (std::string("d") + std::to_string(1000 + folder));
    fs::create_directory(dir);
    for (int file = 0; file < 1000; ++file) {
      std::ofstream(dir / (std::to_string(10000 + file) + ".jpg"));
    }
  }
  auto state = viewing(root, 1);
  EXPECT_EQ(build(*state, 1), kListLimit);
  EXPECT_EQ(std::string(listed_path(state->viewer.list, kListLimit - 1)),
            (root / "d1099/10989.jpg").string());
  EXPECT_STREQ(listed_path(state->viewer.list, kListLimit), "");
  // The paths take their own lengths: "/dNNNN/NNNNN.jpg" and a terminator after the root.
  std::size_t bytes = 0;
  for (const auto& block : state->viewer.list.files.blocks) bytes += block.size();
  EXPECT_EQ(bytes, (root.string().size() + 17) * kListLimit);
}

}  // namespace
