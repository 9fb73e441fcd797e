#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "shell/shell.h"
#include "tree_support.h"

using namespace tree;

namespace {

struct WorkerFixture : ViewerFixture {
  std::uint32_t ticks = 0;
  void pictures(std::initializer_list<const char*> names) {
    for (const char* name : names) put_picture(root / name);
  }
  void tick() { viewer_tick(*state, ticks); }
  std::string shown() const {
    return fs::path(state->settings.image_path).lexically_relative(root).string();
  }
};

TEST_F(WorkerFixture, ServesARebuildThenStepsWithTitlesAndRepaints) {
  pictures({"a.bmp", "b.bmp", "c.bmp"});
  std::strcpy(state->settings.image_path, (root / "b.bmp").c_str());
  request_rebuild(*state);
  tick();
  EXPECT_EQ(state->request_pending.load(), 0);
  EXPECT_EQ(state->request_kind.load(), 2);
  EXPECT_EQ(shown(), "b.bmp");  // the rebuild stays on the shown image
  EXPECT_NE(state->pixel_buffer, nullptr);
  EXPECT_EQ(headless_titles(), (std::vector<std::string>{"Building new list...", "Loading Image"}));
  EXPECT_EQ(headless_repaints(), 1);
  step_back(*state);
  tick();
  EXPECT_EQ(shown(), "a.bmp");
  // A folder without images says so.
  fs::remove_all(root);
  put_file(root / "notes.txt");
  headless_reset();
  request_rebuild(*state);
  tick();
  EXPECT_EQ(headless_titles().back(), "No valid images in directory - " + root.string());
}

TEST_F(WorkerFixture, ARebuildRaisedWhileAStepIsServedComesRightAfter) {
  pictures({"a.bmp", "b.bmp"});
  put_picture(root / "other/z.bmp");
  request_rebuild(*state);
  tick();
  // A folder change arrives while a step is being served (here: while the
  // scan draws for a "low" folder): the step ends with request_kind 2, and
  // the rebuild is served right after it.
  fs::create_directory(root / "low");
  state->settings.select_mode = 1;
  static AppState* target;
  static std::string next_folder;
  target = state.get();
  next_folder = (root / "other").string();
  state->random_bytes = [](void* data, std::uint32_t) {
    std::strcpy(target->settings.view_folder, next_folder.c_str());
    request_rebuild(*target);
    target->random_bytes = nullptr;
    std::memset(data, 0, 4);
    return 1;
  };
  request_rebuild(*state);
  tick();
  EXPECT_EQ(state->request_kind.load(), 2);
  EXPECT_EQ(state->request_pending.load(), 1);
  tick();
  EXPECT_EQ(shown(), "other/z.bmp");
  EXPECT_EQ(state->file_count.load(), 1u);
}

TEST_F(WorkerFixture, AutoAdvanceCountsTicksWithoutRequests) {
  pictures({"a.bmp"});
  state->settings.advance_setting = 1;
  state->advance_ticks = 8;
  for (int i = 0; i < 7; ++i) tick();
  EXPECT_EQ(state->request_pending.load(), 0);
  state->loader_busy = 1;  // a load in progress: no tick counts
  tick();
  EXPECT_EQ(state->request_pending.load(), 0);
  state->loader_busy = 0;
  tick();
  EXPECT_EQ(state->request_pending.load(), 1);
  EXPECT_EQ(ticks, 0u);
  state->request_pending = 7;  // an unknown value is cleared
  tick();
  EXPECT_EQ(state->request_pending.load(), 0);
}

int stop_sleeps = 0;

TEST_F(WorkerFixture, StopClearsALoadThatNeverEndsAfterTenSleeps) {
  stop_sleeps = 0;
  state->sleep_ms = [](std::uint32_t) { ++stop_sleeps; };
  state->loader_busy = 1;
  state->stop_counter = kStopRequested;
  viewer_stop(*state);
  EXPECT_EQ(stop_sleeps, 10);
  EXPECT_EQ(state->loader_busy.load(), 0);
  EXPECT_EQ(state->stop_counter.load(), 667u);
}

// Waits (bounded) for a condition the worker thread makes true.
template <typename Condition>
bool eventually(Condition condition) {
  for (int i = 0; i < 1000; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST_F(WorkerFixture, TheRealThreadServesKeysAndStops) {
  pictures({"a.bmp", "b.bmp", "c.bmp"});
  std::strcpy(state->settings.image_path, (root / "a.bmp").c_str());
  // The thread body as start_viewer_thread runs it, but joined here: Qt's
  // bookkeeping for a thread that used it runs at that thread's exit, which
  // only a join orders before the test's own end.
  std::thread worker(viewer_thread, std::ref(*state));
  request_rebuild(*state);
  EXPECT_TRUE(eventually(
      [&] { return state->request_pending.load() == 0 && state->request_kind.load() == 2; }));
  step_forward(*state);
  EXPECT_TRUE(eventually([&] {
    std::lock_guard<std::mutex> hold(state->shared_text_lock);
    return std::string(state->settings.image_path) == (root / "b.bmp").string();
  }));
  EXPECT_TRUE(eventually([&] { return state->request_pending.load() == 0; }));
  state->stop_counter = kStopRequested;
  wake_worker(*state);
  EXPECT_TRUE(eventually([] { return !headless_commands().empty(); }));
  EXPECT_EQ(state->stop_counter.load(), 667u);
  EXPECT_EQ(headless_commands(), std::vector<std::int32_t>{kCommandWorkerStopped});
  worker.join();
}

}  // namespace
