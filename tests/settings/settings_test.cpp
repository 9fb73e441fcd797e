// The data folder and the settings file.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <random>
#include <tuple>

#include "settings/settings.h"
#include "support.h"

using namespace test_support;

namespace {

struct SettingsFixture : ::testing::Test, PrivateHome {
  std::unique_ptr<AppState> state = std::make_unique<AppState>();
  void SetUp() override { enter_home(); }
  fs::path settings_file() const { return program_dir / kSettingsFileName; }
  std::unique_ptr<AppState> fresh_state() {
    auto next = std::make_unique<AppState>();
    choose_data_folder_at(next->data, program().c_str());
    return next;
  }
};

TEST_F(SettingsFixture, FirstStartAppliesDefaults) {
  write_text(root / ".config/user-dirs.dirs", "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n");
  choose_data_folder_at(state->data, program().c_str());
  EXPECT_EQ(std::string(state->data.folder), program_dir.string() + "/");
  ASSERT_FALSE(load_settings(state->settings, state->extra, state->data));
  const SettingsBlock& s = state->settings;
  EXPECT_EQ(s.select_mode, 3u);  // Deep Random
  EXPECT_EQ(s.translucency_alpha, 125u);
  EXPECT_EQ(s.advance_setting + s.translucent + s.always_on_top + s.full_screen, 0u);
  EXPECT_EQ(s.show_bmp + s.show_jpg + s.show_gif, 3u);
  const std::uint32_t reserved[5] = {1, 0, 1, 99, 0};
  EXPECT_EQ(std::memcmp(s.reserved_88, reserved, sizeof reserved), 0);
  // The pictures folder follows the user's own folder names.
  EXPECT_EQ(std::string(s.view_folder), (root / "Bilder").string());
  EXPECT_EQ(std::string(s.backup_root), (root / "Backup/Tessmira/").string());
  EXPECT_FALSE(fs::exists(settings_file()));  // loading writes nothing
}

TEST_F(SettingsFixture, SavedFileLoadsBackBitForBit) {
  choose_data_folder_at(state->data, program().c_str());
  // Every byte random, texts ended somewhere inside their slot with bytes after.
  std::mt19937 random(42);
  auto* block = reinterpret_cast<std::uint8_t*>(&state->settings);
  for (std::size_t i = 0; i < sizeof(SettingsBlock); ++i)
    block[i] = static_cast<std::uint8_t>(random());
  state->settings.image_path[17] = '\0';
  state->settings.view_folder[599] = '\0';
  for (auto& entry : state->settings.recent_folders) entry[random() % kPathBytes] = '\0';
  // The fields with a range hold values inside it, or the load would mend them.
  SettingsBlock& set = state->settings;
  set.select_mode %= 4;
  set.advance_setting %= 7;
  set.translucency_alpha = 26 + set.translucency_alpha % 230;
  for (std::uint32_t* flag : {&set.translucent, &set.always_on_top, &set.full_screen, &set.show_bmp,
                              &set.show_jpg, &set.show_gif})
    *flag &= 1;
  set.backup_generation %= 256;
  std::memcpy(set.backup_root, "/b/", 4);
  ASSERT_TRUE(save_settings(state->settings, state->extra, state->data, state->viewer.texts,
                            state->viewer.window));
  const auto bytes = read_bytes(settings_file());
  ASSERT_EQ(bytes.size(), 10008u);
  EXPECT_EQ(std::memcmp(bytes.data(), "VIEW100\0", 8), 0);
  EXPECT_EQ(std::memcmp(bytes.data() + 8, block, sizeof(SettingsBlock)), 0);
  EXPECT_EQ(bytes[8943], 0);  // backup_root's terminator, where the layout puts it
  auto loaded = fresh_state();
  ASSERT_TRUE(load_settings(loaded->settings, loaded->extra, loaded->data));
  EXPECT_EQ(std::memcmp(&loaded->settings, block, sizeof(SettingsBlock)), 0);
  // No temporary file is left behind: the block's file and the other settings'.
  EXPECT_EQ(std::distance(fs::directory_iterator(program_dir), fs::directory_iterator()), 2);
}

TEST_F(SettingsFixture, AnyHeaderLoadsWhatTheFileHoldsWithTextsEndedAndRangesMended) {
  const std::pair<const char*, std::int32_t> headers[] = {{"VIEW100\0", 1000}, {"VIEW200\0", 1001},
                                                          {"view100\0", 1001}, {"VIEW101\0", 1},
                                                          {"VIEW1123", 123},   {"VIEW1\0\0\0", 0}};
  for (const auto& [text, kind] : headers) {
    EXPECT_EQ(check_settings_header(reinterpret_cast<const std::uint8_t*>(text)), kind) << text;
  }
  // Read as stored: a later version's header too, texts ended in their
  // slot's last byte, a slot that holds a terminator left as it lay.
  Bytes bytes(10008, 'A');
  std::memcpy(bytes.data(), "VIEW101", 8);
  bytes[8 + 1732 + 5] = 0;
  std::memcpy(bytes.data() + 8 + 8932, "/x/", 4);
  write_bytes(settings_file(), bytes);
  auto loaded = fresh_state();
  ASSERT_TRUE(load_settings(loaded->settings, loaded->extra, loaded->data));
  const SettingsBlock& s = loaded->settings;
  EXPECT_EQ(s.image_path[599], 'A');
  EXPECT_EQ(std::string(s.view_folder), std::string(599, 'A'));
  // Every number with a range held 0x41414141 and has its default now.
  EXPECT_EQ(s.select_mode, 3u);
  EXPECT_EQ(s.advance_setting + s.translucent + s.always_on_top + s.full_screen, 0u);
  EXPECT_EQ(s.translucency_alpha, 125u);
  EXPECT_EQ(s.show_bmp + s.show_jpg + s.show_gif, 3u);
  EXPECT_EQ(s.backup_generation, 0u);
  EXPECT_EQ(s.random_state, 0x41414141u);  // any value is a state
  const auto* block = reinterpret_cast<const std::uint8_t*>(&s);
  std::string changed;
  for (std::size_t i = 1732; i < sizeof(SettingsBlock); ++i) {
    if (block[i] != 'A' && (i < 8932 || i > 8935)) changed += std::to_string(i) + " ";
  }
  EXPECT_EQ(changed, "1737 2931 3531 4131 4731 5331 5931 6531 7131 7731 8331 8931 ");
}

TEST_F(SettingsFixture, AFileOfAnyOtherLengthIsSetAsideAndTheDefaultsUsed) {
  choose_data_folder_at(state->data, program().c_str());
  load_settings(state->settings, state->extra, state->data);
  state->settings.select_mode = 0;
  state->settings.show_gif = 0;
  ASSERT_TRUE(save_settings(state->settings, state->extra, state->data, state->viewer.texts,
                            state->viewer.window));
  const Bytes whole = read_bytes(settings_file());
  const fs::path aside = program_dir / kSettingsAside;
  // Every cut, one byte too many, and a file of twice the size.
  for (std::size_t length = 0; length <= whole.size() + 1; ++length) {
    if (length == whole.size()) continue;
    Bytes cut(whole.begin(), whole.begin() + std::min(length, whole.size()));
    if (length > whole.size()) cut.push_back(0);
    write_bytes(settings_file(), cut);
    auto loaded = fresh_state();
    SettingsDamage damage = SettingsDamage::none;
    ASSERT_FALSE(
        load_settings(loaded->settings, loaded->extra, loaded->data, DiskUse::write, &damage))
        << length;
    ASSERT_EQ(damage, SettingsDamage::set_aside) << length;
    ASSERT_EQ(loaded->settings.select_mode, 3u) << length;
    ASSERT_EQ(loaded->settings.show_gif, 1u) << length;
    ASSERT_STREQ(loaded->settings.backup_root, (root / "Backup/Tessmira/").c_str()) << length;
    ASSERT_EQ(read_bytes(aside), cut) << length;
    ASSERT_FALSE(fs::exists(settings_file())) << length;
  }
  // The next start finds no file, and so nothing to tell.
  auto next = fresh_state();
  SettingsDamage damage = SettingsDamage::set_aside;
  EXPECT_FALSE(load_settings(next->settings, next->extra, next->data, DiskUse::write, &damage));
  EXPECT_EQ(damage, SettingsDamage::none);
}

TEST_F(SettingsFixture, FieldsOutOfRangeGetTheirDefaultsAndTheEdgesStay) {
  using S = SettingsBlock;
  // Field, the last value kept, the first one mended, its default. An
  // opacity of 10% (26) is the least.
  const std::tuple<std::uint32_t S::*, std::uint32_t, std::uint32_t, std::uint32_t> cases[] = {
      {&S::select_mode, 3, 4, 3},
      {&S::advance_setting, 6, 7, 0},
      {&S::translucency_alpha, 26, 25, 125},
      {&S::translucency_alpha, 255, 256, 125},
      {&S::translucent, 1, 2, 0},
      {&S::always_on_top, 1, 2, 0},
      {&S::full_screen, 1, 2, 0},
      {&S::show_bmp, 1, 2, 1},
      {&S::show_jpg, 0, 7, 1},
      {&S::show_gif, 1, 2, 1},
      {&S::backup_generation, 255, 256, 0}};
  SettingsBlock block{};
  std::strcpy(block.backup_root, "/b/");
  block.translucency_alpha = 125;
  for (const auto& [field, kept, mended, fallback] : cases) {
    block.*field = kept;
    EXPECT_EQ(mend_settings(block), 0u);
    EXPECT_EQ(block.*field, kept);
    block.*field = mended;
    EXPECT_EQ(mend_settings(block), 1u);
    EXPECT_EQ(block.*field, fallback);
  }
  // A backup root that is no absolute folder could put a backup anywhere.
  for (const char* wrong : {"", "Backup/", "~/Backup/"}) {
    std::strcpy(block.backup_root, wrong);
    EXPECT_EQ(mend_settings(block), 1u) << wrong;
    EXPECT_STREQ(block.backup_root, (root / "Backup/Tessmira/").c_str()) << wrong;
  }
}

TEST_F(SettingsFixture, DefSetMovesDataToTheUserDataFolder) {
  std::ofstream(program_dir / "DefSet.txt") << "";
  choose_data_folder_at(state->data, program().c_str());
  const fs::path expected = root / ".local/share/Brindlex/Tessmira";
  EXPECT_EQ(std::string(state->data.folder), expected.string() + "/");
  EXPECT_EQ(std::string(state->data.program_path), program_dir.string() + "/");
  load_settings(state->settings, state->extra, state->data);
  ASSERT_TRUE(save_settings(state->settings, state->extra, state->data, state->viewer.texts,
                            state->viewer.window));
  EXPECT_TRUE(fs::exists(expected / kSettingsFileName));
  process.change("XDG_DATA_HOME", (root / "data").string());
  EXPECT_EQ(std::string(fresh_state()->data.folder), (root / "data/Brindlex/Tessmira/").string());
}

// What choose_data_folder_at picks for program when this process cannot
// write to the program's folder: as another user when we are root (who may
// write anywhere), else with the folder made read-only.
std::string data_folder_unwritable(const fs::path& program) {
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) return "no pipe";
  const pid_t child = fork();
  if (child == 0) {
    close(pipe_ends[0]);
    const bool as_root = geteuid() == 0;
    const bool dropped = !as_root || (setgid(65534) == 0 && setuid(65534) == 0);
    std::error_code ignored;
    if (!as_root) {
      fs::permissions(program.parent_path(), fs::perms::owner_write, fs::perm_options::remove,
                      ignored);
    }
    AppState state;
    choose_data_folder_at(state.data, program.c_str());
    const std::string folder = dropped ? state.data.folder : "could not drop root";
    (void)!write(pipe_ends[1], folder.data(), folder.size());
    _exit(0);
  }
  close(pipe_ends[1]);
  std::string folder;
  char buffer[256];
  for (ssize_t got; (got = read(pipe_ends[0], buffer, sizeof buffer)) > 0;)
    folder.append(buffer, got);
  close(pipe_ends[0]);
  int status = 0;
  waitpid(child, &status, 0);
  std::error_code ignored;
  fs::permissions(program.parent_path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  return folder;
}

TEST_F(SettingsFixture, AnInstalledProgramKeepsItsDataInTheUserDataFolder) {
  // Installed as bin/tessmira with its shipped files in share/tessmira/.
  const fs::path bin = root / "usr/bin";
  const fs::path shipped = root / "usr/share/tessmira";
  fs::create_directories(bin);
  fs::create_directories(shipped);
  const std::string program = (bin / "tessmira").string();
  const std::string user_data = (root / ".local/share/Brindlex/Tessmira/").string();
  choose_data_folder_at(state->data, program.c_str());
  EXPECT_EQ(std::string(state->data.folder), bin.string() + "/") << "nothing shipped";
  EXPECT_EQ(data_folder_unwritable(program), user_data) << "a folder it cannot write to";

  std::ofstream(shipped / "DefSet.txt") << "";
  choose_data_folder_at(state->data, program.c_str());
  EXPECT_EQ(std::string(state->data.folder), user_data) << "DefSet.txt in share";
  EXPECT_EQ(std::string(state->data.program_path), bin.string() + "/");

  // A shipped file is taken beside the program first, then from share.
  char path[kPathBytes];
  EXPECT_FALSE(shipped_file_path(state->data, "ReadMe.htm", path));
  EXPECT_EQ(std::string(path), (bin / "ReadMe.htm").string()) << "named where it would be";
  std::ofstream(shipped / "ReadMe.htm") << "<p>help</p>";
  EXPECT_TRUE(shipped_file_path(state->data, "ReadMe.htm", path));
  EXPECT_EQ(std::string(path), bin.string() + "/../share/tessmira/ReadMe.htm");
  std::ofstream(bin / "ReadMe.htm") << "<p>built</p>";
  EXPECT_TRUE(shipped_file_path(state->data, "ReadMe.htm", path));
  EXPECT_EQ(std::string(path), (bin / "ReadMe.htm").string());
}

TEST_F(SettingsFixture, FailedSaveKeepsTheOldFile) {
  choose_data_folder_at(state->data, program().c_str());
  load_settings(state->settings, state->extra, state->data);
  ASSERT_TRUE(save_settings(state->settings, state->extra, state->data, state->viewer.texts,
                            state->viewer.window));
  const auto before = read_bytes(settings_file());
  // A full disk, simulated by a file-size limit (root ignores permissions).
  state->settings.select_mode = 0;
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  const auto old_handler = signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool written = save_settings(state->settings, state->extra, state->data,
                                     state->viewer.texts, state->viewer.window);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, old_handler);
  EXPECT_FALSE(written);
  EXPECT_EQ(read_bytes(settings_file()), before);
  EXPECT_EQ(std::distance(fs::directory_iterator(program_dir), fs::directory_iterator()), 2);
  // A data folder that is gone: nothing written, failure returned.
  fs::remove_all(program_dir);
  EXPECT_FALSE(save_settings(state->settings, state->extra, state->data, state->viewer.texts,
                             state->viewer.window));
  EXPECT_FALSE(fs::exists(program_dir));
}

TEST_F(SettingsFixture, TooLongFoldersAreUnusableNeverCut) {
  // 700 bytes: longer than a path buffer.
  const std::string deep = std::string("/") + std::string(690, 'd') + "/tessmira";
  choose_data_folder_at(state->data, deep.c_str());
  EXPECT_EQ(state->data.usable, 0);
  EXPECT_STREQ(state->data.folder, "");
  ASSERT_FALSE(load_settings(state->settings, state->extra, state->data));
  ASSERT_EQ(process.enter(root), 0);
  EXPECT_FALSE(save_settings(state->settings, state->extra, state->data, state->viewer.texts,
                             state->viewer.window));
  EXPECT_FALSE(fs::exists(root / kSettingsFileName));
  // A folder that fits but leaves no room for the data file names.
  const std::string tight = std::string("/") + std::string(590, 't') + "/tessmira";
  auto other = std::make_unique<AppState>();
  choose_data_folder_at(other->data, tight.c_str());
  EXPECT_EQ(other->data.usable, 0);
}

TEST_F(SettingsFixture, OtherSettingsLiveInTheirOwnFileAndSurviveDamage) {
  choose_data_folder_at(state->data, program().c_str());
  const fs::path extra = program_dir / kExtraSettingsFileName;
  // None yet: both on.
  load_settings(state->settings, state->extra, state->data);
  EXPECT_TRUE(state->extra.more_picture_types && state->extra.colour_management);
  ASSERT_TRUE(save_settings(state->settings, state->extra, state->data, state->viewer.texts,
                            state->viewer.window));
  EXPECT_EQ(read_text(extra), "more_picture_types=1\ncolour_management=1\n");
  const auto block_bytes = read_bytes(settings_file());
  // Turned off, the block's file stays byte for byte what it was.
  state->extra.more_picture_types = false;
  ASSERT_TRUE(save_settings(state->settings, state->extra, state->data, state->viewer.texts,
                            state->viewer.window));
  EXPECT_EQ(read_bytes(settings_file()), block_bytes);
  auto loaded = fresh_state();
  ASSERT_TRUE(load_settings(loaded->settings, loaded->extra, loaded->data));
  EXPECT_FALSE(loaded->extra.more_picture_types);
  EXPECT_TRUE(loaded->extra.colour_management);
  // A later version's keys and comments are kept; a damaged value keeps its
  // default; a line of binary junk is dropped; the block loads whatever this
  // file holds.
  write_text(extra, std::string("# mine\r\nzoom_step=3\ncolour_management=yes\n") +
                        "more_picture_types=0\n\x01\x02junk\n=\n");
  loaded = fresh_state();
  ASSERT_TRUE(load_settings(loaded->settings, loaded->extra, loaded->data));
  EXPECT_FALSE(loaded->extra.more_picture_types);
  EXPECT_TRUE(loaded->extra.colour_management);
  EXPECT_EQ(std::memcmp(&loaded->settings, &state->settings, sizeof(SettingsBlock)), 0);
  loaded->extra.colour_management = false;
  ASSERT_TRUE(save_settings(loaded->settings, loaded->extra, loaded->data, loaded->viewer.texts,
                            loaded->viewer.window));
  EXPECT_EQ(read_text(extra),
            "more_picture_types=0\ncolour_management=0\n# mine\nzoom_step=3\n=\n");
  // All junk, or far too long to be ours: the defaults.
  for (const std::string& junk : {std::string(200, '\0'), std::string(70000, 'x'),
                                  std::string("more_picture_types=0") + std::string(70000, '\n')}) {
    write_text(extra, junk);
    loaded = fresh_state();
    ASSERT_TRUE(load_settings(loaded->settings, loaded->extra, loaded->data));
    EXPECT_TRUE(loaded->extra.more_picture_types && loaded->extra.colour_management);
    EXPECT_TRUE(loaded->extra.other_lines.empty());
  }
}

}  // namespace
