// Every command against the headless desktop.
#include "commands/commands.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "catalog/catalog.h"
#include "navigation/tree_support.h"
#include "platform/qt/qt_bitmap.h"
#include "shell/shell.h"

using namespace tree;

namespace {

struct CommandFixture : ViewerFixture {
  std::uint32_t behind_question = 0;  // the painted pixel, while asking
  std::int32_t claimed_meanwhile = 0;
  void TearDown() override {
    delete state->viewer.image.back_buffer;
    state->viewer.image.back_buffer = nullptr;
    ViewerFixture::TearDown();
  }
  std::string view() const { return state->settings.view_folder; }
  bool rebuild_asked() {
    const bool asked = state->viewer.worker.rebuild_wanted.load() == 1 &&
                       state->viewer.worker.request_pending.load() == 1;
    state->viewer.worker.rebuild_wanted = 0;
    state->viewer.worker.request_pending = 0;
    return asked;
  }
};

// The items' texts, "-" for a separator, "*" after a checked one.
std::string texts(const std::vector<MenuItem>& items) {
  std::string out;
  for (const MenuItem& item : items)
    out += (item.id == 0 && item.items.empty() ? "-" : item.text) + (item.checked ? "*|" : "|");
  return out;
}

std::vector<MenuItem> submenu(const AppState& state, const std::string& text) {
  for (const MenuItem& item : build_context_menu(state)) {
    if (item.text == text) return item.items;
  }
  return {};
}

TEST_F(CommandFixture, MenuTextsAndTheIdsOtherProgramsSee) {
  state->settings.translucent = state->settings.always_on_top = state->settings.full_screen = 1;
  std::strcpy(state->settings.recent_folders[2], "/pictures");
  EXPECT_EQ(texts(build_context_menu(*state)),
            "About|Help|-|Delete File|Execute|-|Select File...|Select Folder...|Recent Folders|"
            "Change to current directory|Change to lower directory|Open Current Dir|Resync List|-|"
            "Auto Advance|Select Mode|-|Transparent*|On Top*|Full Screen*|More Picture Types*|"
            "Colour Management*|Settings|-|Catalog|Find File...|-|Exit|");
  EXPECT_EQ(texts(submenu(*state, "Recent Folders")), "||/pictures||||||||");  // even empty ones
  // The ranges' first ids are fixed: the stop handshake and other programs use them.
  EXPECT_EQ(submenu(*state, "Auto Advance").front().id, 2020);
  EXPECT_EQ(submenu(*state, "Select Mode").front().id, 2040);
  EXPECT_EQ(submenu(*state, "Recent Folders").front().id, 2050);
  EXPECT_EQ(submenu(*state, "Settings").front().id, 2072);
  // A choice is posted to the window as its id.
  headless_script(kCommandResync, true, true, "");
  show_context_menu(*state);
  EXPECT_EQ(headless_commands(), std::vector<std::int32_t>{kCommandResync});
}

TEST_F(CommandFixture, EveryModeAndAdvanceEntryDoesWhatItSaysAndIsThenChecked) {
  const auto modes = submenu(*state, "Select Mode");
  for (std::uint32_t n = 0; n < modes.size(); ++n) {
    handle_command(*state, modes[n].id);  // the checked mode rebuilds too
    EXPECT_EQ(state->settings.select_mode, n);
    EXPECT_TRUE(rebuild_asked());
  }
  EXPECT_EQ(texts(submenu(*state, "Select Mode")), "Linear|Deep Linear|Random|Deep Random*|");
  // Ticks of 500 ms: one second less than the entry says.
  const std::uint32_t ticks[] = {0, 8, 18, 38, 58, 88, 118};
  const auto advance = submenu(*state, "Auto Advance");
  for (std::uint32_t n = 0; n < advance.size(); ++n) {
    handle_command(*state, advance[n].id);
    EXPECT_EQ(state->viewer.worker.advance_ticks.load(), ticks[n]);
  }
  EXPECT_EQ(texts(submenu(*state, "Auto Advance")),
            "Off|5 Seconds|10 Seconds|20 Seconds|30 Seconds|45 Seconds|60 Seconds*|");
  state->settings.advance_setting = 9;  // a damaged setting checks nothing
  EXPECT_EQ(texts(submenu(*state, "Auto Advance")).find('*'), std::string::npos);
}

TEST_F(CommandFixture, FolderCommands) {
  std::strcpy(state->settings.view_folder, "/photos");
  handle_command(*state, kCommandLowerFolder);
  EXPECT_EQ(view(), "/");  // below the root: the root
  EXPECT_TRUE(rebuild_asked());
  std::strcpy(state->settings.image_path, "/photos/2024/june/a.jpg");
  handle_command(*state, kCommandCurrentFolder);
  EXPECT_EQ(view(), "/photos/2024/june");
  EXPECT_TRUE(rebuild_asked());
  // Recent entry 3 while the viewed folder is not listed: it ends at entry 1.
  for (int i = 0; i < 9; ++i)
    std::strcpy(state->settings.recent_folders[i], (std::string("/r") + std::to_string(i)).c_str());
  handle_command(*state, kCommandRecentFirst + 3);
  EXPECT_EQ(view(), "/r3");
  EXPECT_EQ(std::string(state->settings.recent_folders[0]) + state->settings.recent_folders[1] +
                state->settings.recent_folders[2],
            "/photos/2024/june/r3/r0");
  EXPECT_TRUE(rebuild_asked());
  state->settings.recent_folders[9][0] = '\0';
  handle_command(*state, kCommandRecentFirst + 9);  // an empty entry: no list is built
  EXPECT_EQ(view(), "");
  headless_script(0, true, true, root.string());
  handle_command(*state, kCommandSelectFolder);
  EXPECT_EQ(view(), root.string());
  headless_script(0, true, true, "");  // cancelled: nothing changes
  handle_command(*state, kCommandSelectFolder);
  EXPECT_EQ(view(), root.string());
}

TEST_F(CommandFixture, WindowToggles) {
  state->settings.translucency_alpha = 125;
  for (const std::int32_t command :
       {kCommandTransparent, kCommandTransparent, kCommandFullScreen, kCommandFullScreen,
        kCommandOnTop, kCommandFullScreen, kCommandFullScreen, kCommandOnTop}) {
    handle_command(*state, command);
  }
  // Full screen is topmost whatever On Top says; leaving it returns to On Top's setting.
  EXPECT_EQ(headless_calls(),
            (std::vector<std::string>{"opacity 125", "opacity 255", "full screen 1", "topmost 1",
                                      "full screen 0", "topmost 0", "topmost 1", "full screen 1",
                                      "topmost 1", "full screen 0", "topmost 1", "topmost 0"}));
}

TEST_F(CommandFixture, PictureTypesAndColoursRelistRecolourAndAssociate) {
  const std::uint32_t serial = state->viewer.image.colour_serial.load();
  handle_command(*state, kCommandMoreTypes);
  EXPECT_FALSE(state->extra.more_picture_types.load());
  EXPECT_TRUE(rebuild_asked());
  EXPECT_EQ(state->viewer.image.colour_serial.load(), serial);  // the colours stay
  handle_command(*state, kCommandColourManagement);
  EXPECT_FALSE(state->extra.colour_management.load());
  EXPECT_EQ(state->viewer.image.colour_serial.load(), serial + 1);  // every picture decodes anew
  EXPECT_TRUE(rebuild_asked());
  EXPECT_NE(texts(build_context_menu(*state)).find("|More Picture Types|Colour Management|"),
            std::string::npos);
  // The associations follow the listed types.
  ProcessGuard process;
  process.change("XDG_DATA_HOME", (root / "data").string());
  process.change("XDG_CONFIG_HOME", (root / "config").string());
  for (const bool more : {false, true}) {
    state->extra.more_picture_types = more;
    headless_script(0, true, true, "");
    handle_command(*state, kCommandAssociations);
    const std::string list = read_text(root / "config/mimeapps.list");
    for (const char* type : {"image/bmp=", "image/gif=", "image/jpeg=Tessmira.JPGFile.desktop"})
      EXPECT_NE(list.find(type), std::string::npos) << type;
    for (const char* type :
         {"image/png=", "image/webp=", "image/tiff=", "image/avif=", "image/heic=", "image/jxl="})
      EXPECT_EQ(list.find(type) != std::string::npos, more) << type << more;
  }
  const std::vector<std::string> calls = headless_calls();
  EXPECT_TRUE(std::any_of(calls.begin(), calls.end(), [](const std::string& call) {
    return call.find("Set Tessmira to open all JPG, PNG") != std::string::npos;
  }));
}

TEST_F(CommandFixture, DeleteAsksThenTrashesAndShowsTheNextFile) {
  for (const char* name : {"a.bmp", "b.bmp", "c.bmp"}) put_picture(root / name);
  std::strcpy(state->settings.image_path, (root / "c.bmp").c_str());
  request_rebuild(state->viewer);
  serve();
  ASSERT_EQ(state->viewer.worker.current_index.load(), 2);
  const std::string c = (root / "c.bmp").string();
  // Behind the question the window still shows the picture, while the worker
  // is held off.
  state->viewer.image.client_width = state->viewer.image.client_height = 2;
  headless_while_asking(
      [](void* context) {
        auto* fixture = static_cast<CommandFixture*>(context);
        // Painted into the back buffer only: the headless window shows nothing.
        PlatformWindow* window = fixture->state->viewer.window.exchange(nullptr);
        paint_window(fixture->state->viewer, fixture->state->settings);
        fixture->state->viewer.window = window;
        fixture->behind_question = fixture->state->viewer.image.back_buffer->image.pixel(0, 0);
        fixture->claimed_meanwhile = fixture->state->viewer.worker.loader_busy.load();
      },
      this);
  headless_script(0, false, true, "");  // No: nothing changes
  handle_command(*state, kCommandDelete);
  headless_while_asking(nullptr, nullptr);
  EXPECT_EQ(behind_question & 0xFFFFFFu, 0xC86309u);  // the picture's one pixel, not black
  EXPECT_EQ(claimed_meanwhile, 1);
  EXPECT_EQ(state->viewer.worker.current_index.load(), 2);
  EXPECT_EQ(state->settings.image_path, c);
  EXPECT_NE(headless_titles().back().find(" 3 of 3 Files"), std::string::npos);
  EXPECT_FALSE(rebuild_asked());
  EXPECT_EQ(headless_calls().back(), "ask Tessmira 1.0: Move this file to the trash?\n" + c);
  headless_script(0, true, true, "");  // Yes on the last file: the first comes next
  handle_command(*state, kCommandDelete);
  EXPECT_EQ(headless_calls().back(), "trash " + c);
  EXPECT_EQ(std::string(state->settings.image_path), (root / "a.bmp").string());
  EXPECT_TRUE(rebuild_asked());
  headless_script(0, true, false, "");  // the trash fails: said so, the image stays
  handle_command(*state, kCommandDelete);
  EXPECT_EQ(headless_calls().back().rfind("error", 0), 0u);
  EXPECT_EQ(std::string(state->settings.image_path), (root / "a.bmp").string());
}

TEST_F(CommandFixture, SelectFileStartsInDocumentsWhenTheImageIsGoneHelpAndExit) {
  ProcessGuard process;
  process.change("HOME", root.string());
  process.change("XDG_CONFIG_HOME", std::nullopt);
  std::strcpy(state->settings.image_path, (root / "gone.jpg").c_str());
  state->window.open_file_request.filter_index = 2;
  put_picture(root / "here.bmp");
  headless_script(0, true, true, (root / "here.bmp").string());
  handle_command(*state, kCommandSelectFile);
  EXPECT_EQ(headless_calls().front(), "choose file at " + (root / "Documents").string() +
                                          " filter 2 images *.jpg *.gif *.bmp *.jpeg *.jpe "
                                          "*.jfif *.png *.webp *.tif *.tiff *.avif *.heic *.heif "
                                          "*.jxl");
  EXPECT_EQ(view(), root.string());
  serve();  // the worker shows it
  EXPECT_NE(state->viewer.image.pixel_buffer, nullptr);
  std::strcpy(state->data.program_path, "/opt/tessmira/");
  handle_command(*state, kCommandHelp);
  EXPECT_EQ(headless_calls().back(), "open /opt/tessmira/ReadMe.htm");
  // An installed program's page lies in share/tessmira/, beside bin/.
  fs::create_directories(root / "usr/bin");
  fs::create_directories(root / "usr/share/tessmira");
  std::ofstream(root / "usr/share/tessmira/ReadMe.htm") << "<p>help</p>";
  std::strcpy(state->data.program_path, (root / "usr/bin/").c_str());
  handle_command(*state, kCommandHelp);
  EXPECT_EQ(headless_calls().back(),
            "open " + (root / "usr/bin/../share/tessmira/ReadMe.htm").string());
  handle_command(*state, kCommandExit);
  EXPECT_EQ(state->viewer.worker.stop_counter.load(), 666u);
}

}  // namespace

namespace {

TEST_F(CommandFixture, FindFileShowsTheChosenMatchWithItsFolderOrSaysWhyNot) {
  std::strcpy(state->data.folder, (root.string() + "/").c_str());
  state->data.usable = 1;
  headless_script(0, true, true, "x2");
  handle_command(*state, kCommandFindFile);
  EXPECT_EQ(headless_calls().back().rfind("error Find File: Nothing can be found", 0), 0u)
      << headless_calls().back();
  fs::create_directories(root / "pics");
  for (const char* name : {"x1.bmp", "X2.bmp", "x3.bmp"}) put_picture(root / "pics" / name);
  ASSERT_EQ(catalog_build_trees(state->catalog, state->data, state->scans,
                                {CatalogTree{(root / "pics").string(), false}}, nullptr, nullptr),
            CatalogBuilt::done);
  handle_command(*state, kCommandFindFile);
  EXPECT_EQ(headless_calls().back(), "find x2: 1");
  EXPECT_EQ(view(), (root / "pics").string());
  serve();  // the worker shows it, in its folder's list
  EXPECT_EQ(std::string(state->settings.image_path), (root / "pics/X2.bmp").string());
  EXPECT_NE(state->viewer.image.pixel_buffer, nullptr);
  EXPECT_EQ(state->viewer.worker.file_count.load(), 3u);
  EXPECT_EQ(state->viewer.worker.current_index.load(), 1);
}

}  // namespace
