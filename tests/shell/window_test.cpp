// The main window's handlers and the stepping keys against the headless
// desktop, the keys' requests served as the worker would.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "commands/commands.h"
#include "navigation/tree_support.h"
#include "shell/shell.h"
#include "shell/startup.h"

using namespace tree;

namespace {

using WindowFixture = ViewerFixture;

TEST(Window, InitialSizeFollowsTheScreen) {
  std::int32_t size[4] = {};
  initial_window_size(800, 600, &size[0], &size[1]);
  initial_window_size(801, 601, &size[2], &size[3]);
  EXPECT_EQ(std::vector<std::int32_t>(size, size + 4),
            (std::vector<std::int32_t>{640, 480, 800, 600}));
}

TEST(Window, TheFirstDecodeKnowsTheSizeTheWindowWillHave) {
  auto state = std::make_unique<AppState>();
  WindowPlacement& placement = state->settings.window_placement;
  const auto planned = [&](bool loaded) {
    std::int32_t size[2] = {800, 600};
    planned_client_size(*state, loaded, 1920, 1080, &size[0], &size[1]);
    return std::vector<std::int32_t>(size, size + 2);
  };
  placement = WindowPlacement{44, 0, 1, 0, 0, 0, 0, 100, 50, 1300, 850};
  EXPECT_EQ(planned(true), (std::vector<std::int32_t>{1200, 800}));
  EXPECT_EQ(planned(false), (std::vector<std::int32_t>{800, 600}));  // no placement read
  placement.normal_right = 100 + 3841;  // wider than twice the screen: not used
  EXPECT_EQ(planned(true), (std::vector<std::int32_t>{800, 600}));
  set_show_state(placement, ShowState::maximised);
  EXPECT_EQ(planned(true), (std::vector<std::int32_t>{1920, 1080}));
  set_show_state(placement, ShowState::normal);
  state->settings.full_screen = 1;
  EXPECT_EQ(planned(false), (std::vector<std::int32_t>{1920, 1080}));
}

TEST_F(WindowFixture, CloseRequestsAreCountedUntilOneForcesTheEnd) {
  handle_close(*state);
  EXPECT_EQ(state->viewer.worker.stop_counter.load(), 666u);
  EXPECT_TRUE(fs::exists(root / "dTesmi.dat"));  // saved at the first request
  // The worker has not answered: the fifth further request forces the end.
  for (int i = 0; i < 4; ++i) handle_close(*state);
  EXPECT_EQ(state->viewer.worker.stop_counter.load(), 670u);
  EXPECT_TRUE(headless_commands().empty());
  handle_close(*state);
  EXPECT_EQ(headless_commands(), std::vector<std::int32_t>{kCommandWorkerStopped});
  // Once it has answered (667), the fourth further request does.
  headless_reset();
  state->viewer.worker.stop_counter = 667;
  for (int i = 0; i < 3; ++i) handle_close(*state);
  EXPECT_TRUE(headless_commands().empty());
  handle_close(*state);
  EXPECT_EQ(headless_commands().size(), 1u);
  handle_command(*state, kCommandWorkerStopped);
  EXPECT_EQ(headless_calls().back(), "destroy");
}

TEST_F(WindowFixture, ClickStepsDragMagnifiesWheelZoomsWithinLimits) {
  handle_button_up(*state, 0);  // a plain click: the next image
  EXPECT_EQ(state->viewer.worker.request_pending.load(), 1);
  state->viewer.worker.request_pending = 0;
  EXPECT_FALSE(handle_wheel(*state, 120));  // no drag: the wheel is not used
  EXPECT_EQ(state->viewer.image.zoom_level, 0);
  handle_mouse_move(*state, false, 10, 10);  // no button: nothing
  EXPECT_EQ(state->viewer.image.zoom_level, 0);
  handle_mouse_move(*state, true, -6, 20);  // left of the window
  EXPECT_EQ(state->viewer.image.zoom_level, 1);
  EXPECT_EQ(state->viewer.image.pan_x, 65530);
  EXPECT_EQ(state->viewer.image.pan_y, 20);
  for (int i = 0; i < 3; ++i) handle_wheel(*state, 120);
  EXPECT_EQ(state->viewer.image.zoom_level, 4);
  for (int i = 0; i < 3; ++i) handle_wheel(*state, 120);
  EXPECT_EQ(state->viewer.image.zoom_level, 5);
  for (int i = 0; i < 9; ++i) handle_wheel(*state, -120);
  EXPECT_EQ(state->viewer.image.zoom_level, 1);
  handle_button_up(*state, 0);  // the end of a drag: no step
  EXPECT_EQ(state->viewer.image.zoom_level, 0);
  EXPECT_EQ(state->viewer.worker.request_pending.load(), 0);
}

TEST_F(WindowFixture, ADroppedFileIsShownAndItsFolderViewed) {
  put_picture(root / "new/a.bmp");
  std::strcpy(state->settings.view_folder, "/old/folder");
  ASSERT_TRUE(open_image_file(state->viewer, state->settings, (root / "new/a.bmp").c_str()));
  EXPECT_EQ(std::string(state->settings.view_folder), (root / "new").string());
  EXPECT_EQ(std::string(state->settings.recent_folders[0]), "/old/folder");
  // Not decoded on the window thread: the worker's rebuild shows it, once.
  EXPECT_EQ(state->viewer.image.pixel_buffer, nullptr);
  EXPECT_EQ(
      state->viewer.worker.rebuild_wanted.load() + state->viewer.worker.request_pending.load(), 2);
  serve();
  EXPECT_NE(state->viewer.image.pixel_buffer, nullptr);
  EXPECT_EQ(std::string(state->settings.image_path), (root / "new/a.bmp").string());
  const std::vector<std::string> titles = headless_titles();
  EXPECT_EQ(std::count(titles.begin(), titles.end(), "Loading Image"), 1);
  // Too short, or too long for a path buffer (a slot holds 599 characters): refused.
  for (const std::size_t length : {1, 600, 650}) {
    const std::string path = std::string("/").append(length - 1, 'p');
    EXPECT_FALSE(open_image_file(state->viewer, state->settings, path.c_str())) << length;
  }
  EXPECT_EQ(std::string(state->settings.view_folder), (root / "new").string());
}

TEST_F(WindowFixture, CreationAndKeys) {
  state->settings.translucent = state->settings.always_on_top = 1;
  state->settings.translucency_alpha = 125;
  state->window.translucency_available = 1;
  state->settings.advance_setting = 2;
  window_created(*state);
  EXPECT_EQ(headless_calls(), (std::vector<std::string>{"opacity 125", "topmost 1"}));
  EXPECT_EQ(state->viewer.worker.advance_ticks.load(), 18u);
  for (const std::uint32_t key : {kKeyF1, kKeyDelete, kKeyEscape, kKeySpace})
    handle_key(*state, key, 0, 0);
  EXPECT_EQ(headless_commands(), (std::vector<std::int32_t>{kCommandHelp, kCommandDelete}));
  EXPECT_EQ(state->viewer.worker.stop_counter.load(), 666u);  // Esc: a close request
  EXPECT_EQ(state->viewer.worker.request_pending.load(), 1);
}

struct KeysFixture : ViewerFixture {
  // A folder of n files (names sort in index order), listed in the mode.
  void folder(int n, std::uint32_t mode) {
    for (int i = 0; i < n; ++i)
      put_file(root / std::string("f").append(std::to_string(1000 + i)).append(".bmp"));
    state = viewing(root, mode);
    queue_draws({1}, static_cast<std::uint32_t>(n));  // a random build starts at slot 0
    request_rebuild(state->viewer);
    serve();
  }
  int after(void (*key)(AppState&, std::uint32_t), int from, bool shift = false) {
    state->viewer.worker.current_index = from;
    key(*state, shift ? kModifierShift : 0);
    serve();
    return state->viewer.worker.current_index.load();
  }
};

TEST_F(KeysFixture, LinearStepsWrapAndShiftPages) {
  const Key back = back_key, forward = forward_key, next = next_key;
  // Files, key, Shift, from, to. A page is ten files here.
  const struct {
    int files;
    Key key;
    bool shift;
    int from, to;
  } steps[] = {{5, back, false, 0, 4},      {5, forward, false, 4, 0}, {5, back, false, 3, 2},
               {5, back, false, 1, 0},      {5, forward, false, 1, 2}, {1, back, false, 0, 0},
               {1, forward, false, 0, 0},   {1, forward, true, 0, 0},  {50, forward, true, 45, 49},
               {50, forward, true, 30, 41}, {50, back, true, 5, 0},    {50, back, true, 30, 19},
               {50, back, true, 10, 0},     {50, next, true, 30, 41}};
  for (const auto& step : steps) {
    if (!state ||
        state->viewer.worker.file_count.load() != static_cast<std::uint32_t>(step.files)) {
      fs::remove_all(root);
      folder(step.files, 1);
    }
    EXPECT_EQ(after(step.key, step.from, step.shift), step.to)
        << step.files << " from " << step.from;
  }
}

TEST_F(KeysFixture, KeysGoThroughTheTableWithTheirModifiers) {
  folder(50, 1);
  const auto press = [&](std::uint32_t key, std::uint32_t modifiers, int from) {
    state->viewer.worker.current_index = from;
    handle_key(*state, key, modifiers, 0);
    serve();
    return state->viewer.worker.current_index.load();
  };
  EXPECT_EQ(press(kKeyRight, kModifierShift, 30), 41);
  EXPECT_EQ(press(kKeyLeft, kModifierShift | kModifierControl, 30), 19);
  EXPECT_EQ(press(kKeySpace, 0, 30), 31);
  handle_key(*state, 'A', kModifierShift, 0);  // bound to nothing
  EXPECT_EQ(state->viewer.worker.request_pending.load(), 0);
}

TEST_F(KeysFixture, RandomHistoryBackAndForth) {
  folder(10, 2);
  // Three forward steps with known draws: slots 3, 6, 8.
  queue_draws({4, 7, 9}, 10);
  for (int i = 0; i < 3; ++i) after(forward_key, state->viewer.worker.current_index.load());
  EXPECT_EQ(state->viewer.worker.current_index.load(), 8);
  EXPECT_EQ(state->viewer.worker.history[2].load(), 0);  // shown before the draws
  EXPECT_EQ(state->viewer.worker.history[0].load(), 6);
  EXPECT_EQ(state->viewer.worker.history[1].load(), 3);
  // Back steps revisit them, newest first; Shift changes nothing in random modes.
  step_back(state->viewer, state->settings, kModifierShift);
  serve();
  EXPECT_EQ(state->viewer.worker.current_index.load(), 6);
  EXPECT_EQ(state->viewer.worker.history[99].load(), -1);
  EXPECT_EQ(after(back_key, 6, true), 3);
  EXPECT_EQ(after(back_key, 3), 0);
  // Beyond this run's steps the history is empty (-1): a draw, never the
  // list's first file by default.
  EXPECT_EQ(state->viewer.worker.history[0].load(), -1);
  queue_draws({6}, 10);
  EXPECT_EQ(after(back_key, 0), 5);
  // Forward after back pushes the current file again.
  queue_draws({2}, 10);
  EXPECT_EQ(after(forward_key, 5), 1);
  EXPECT_EQ(state->viewer.worker.history[0].load(), 5);
  EXPECT_EQ(after(back_key, 1), 5);
}

}  // namespace
