// The main window's handlers against the headless desktop.
#include <gtest/gtest.h>

#include "commands/commands.h"
#include "navigation/tree_support.h"
#include "shell/shell.h"

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

TEST_F(WindowFixture, CloseRequestsAreCountedUntilOneForcesTheEnd) {
  handle_close(*state);
  EXPECT_EQ(state->stop_counter.load(), 666u);
  EXPECT_TRUE(fs::exists(root / "dTesmi.dat"));  // saved at the first request
  // The worker has not answered: the fifth further request forces the end.
  for (int i = 0; i < 4; ++i) handle_close(*state);
  EXPECT_EQ(state->stop_counter.load(), 670u);
  EXPECT_TRUE(headless_commands().empty());
  handle_close(*state);
  EXPECT_EQ(headless_commands(), std::vector<std::int32_t>{kCommandSaveAndDestroy});
  // Once it has answered (667), the fourth further request does.
  headless_reset();
  state->stop_counter = 667;
  for (int i = 0; i < 3; ++i) handle_close(*state);
  EXPECT_TRUE(headless_commands().empty());
  handle_close(*state);
  EXPECT_EQ(headless_commands().size(), 1u);
  handle_command(*state, kCommandSaveAndDestroy);
  EXPECT_EQ(headless_calls().back(), "destroy");
}

TEST_F(WindowFixture, ClickStepsDragMagnifiesWheelZoomsWithinLimits) {
  handle_button_up(*state);  // a plain click: the next image
  EXPECT_EQ(state->request_pending.load(), 1);
  state->request_pending = 0;
  EXPECT_EQ(handle_wheel(*state, 120), 0);  // no drag: the wheel is not used
  EXPECT_EQ(state->zoom_level, 0);
  handle_mouse_move(*state, 0, 10, 10);  // no button: nothing
  EXPECT_EQ(state->zoom_level, 0);
  handle_mouse_move(*state, 1, -6, 20);  // left of the window
  EXPECT_EQ(state->zoom_level, 1);
  EXPECT_EQ(state->pan_x, 65530);
  EXPECT_EQ(state->pan_y, 20);
  for (int i = 0; i < 3; ++i) handle_wheel(*state, 120);
  EXPECT_EQ(state->zoom_level, 4);
  for (int i = 0; i < 3; ++i) handle_wheel(*state, 120);
  EXPECT_EQ(state->zoom_level, 5);
  for (int i = 0; i < 9; ++i) handle_wheel(*state, -120);
  EXPECT_EQ(state->zoom_level, 1);
  handle_button_up(*state);  // the end of a drag: no step
  EXPECT_EQ(state->zoom_level, 0);
  EXPECT_EQ(state->request_pending.load(), 0);
}

TEST_F(WindowFixture, ADroppedFileIsShownAndItsFolderViewed) {
  put_picture(root / "new/a.bmp");
  std::strcpy(state->settings.view_folder, "/old/folder");
  ASSERT_EQ(open_image_file(*state, (root / "new/a.bmp").c_str()), 1);
  EXPECT_EQ(std::string(state->settings.view_folder), (root / "new").string());
  EXPECT_EQ(std::string(state->settings.recent_folders[0]), "/old/folder");
  EXPECT_NE(state->pixel_buffer, nullptr);  // loaded at once
  EXPECT_EQ(state->rebuild_wanted.load() + state->request_pending.load(), 2);
  // Too short, or too long for a path buffer (a slot holds 599 characters): refused.
  for (const std::size_t length : {1, 600, 650}) {
    const std::string path = "/" + std::string(length - 1, 'p');
    EXPECT_EQ(open_image_file(*state, path.c_str()), 0) << length;
  }
  EXPECT_EQ(std::string(state->settings.view_folder), (root / "new").string());
}

TEST_F(WindowFixture, CreationAndKeys) {
  state->settings.translucent = state->settings.always_on_top = 1;
  state->settings.translucency_alpha = 125;
  state->translucency_available = 1;
  state->settings.advance_setting = 2;
  window_created(*state);
  EXPECT_EQ(headless_calls(), (std::vector<std::string>{"opacity 125", "topmost 1"}));
  EXPECT_EQ(state->advance_ticks.load(), 18u);
  for (const ViewerKey key : {ViewerKey::f1, ViewerKey::del, ViewerKey::escape, ViewerKey::space})
    handle_key(*state, key);
  EXPECT_EQ(headless_commands(), (std::vector<std::int32_t>{kCommandHelp, kCommandDelete}));
  EXPECT_EQ(headless_calls().back(), "close");
  EXPECT_EQ(state->request_pending.load(), 1);
}

}  // namespace
