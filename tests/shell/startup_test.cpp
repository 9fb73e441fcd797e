// The command line: the tokenizer on command-line strings, and black-box runs
// of the real binary with the backup switches.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "shell/shell.h"
#include "support.h"

using namespace test_support;

namespace {

TEST(CommandLine, TokenizerGroupsQuotedBlanks) {
  // Line, index, code, argument: 1 found, 2 none left, 3 unbalanced quote or
  // too long (never cut into a wrong path), 4 empty.
  const struct {
    const char* line;
    std::uint32_t index;
    int code;
    const char* argument;
  } cases[] = {{"prog a b", 0, 1, "prog"},
               {"  prog   a", 1, 1, "a"},
               {"prog a b", 3, 2, ""},
               {"prog /home/\"my pics\"/a.jpg", 1, 1, "/home/my pics/a.jpg"},
               {"prog a\xfe"
                "b",
                1, 1, "a b"},
               {"prog\ta\tb", 2, 1, "b"},
               {"prog \"a b", 1, 3, "untouched"},
               {"prog \"\"", 1, 4, ""},
               {"prog a ", 2, 4, ""}};
  for (const auto& c : cases) {
    char out[kPathBytes] = "untouched";
    EXPECT_EQ(get_command_argument(c.line, c.index, out), c.code) << c.line;
    EXPECT_STREQ(out, c.argument) << c.line;
  }
  char out[kPathBytes];
  EXPECT_EQ(get_command_argument(("prog " + std::string(700, 'x')).c_str(), 1, out), 3);
}

// Runs the real program from a folder of its own, with HOME, the XDG folders
// and the lock's folder inside the test's folder, and no display.
struct Binary : ::testing::Test {
  TempFolder temp;
  const fs::path& root = temp.path;
  fs::path program = root / "prog/tessmira";
  void SetUp() override {
    for (const char* folder : {"prog", "home", "run"}) fs::create_directories(root / folder);
    fs::copy_file(TESSMIRA_BINARY, program);
    write_text(root / "tree/a.jpg", "a");
    write_text(root / "tree/sub/b.txt", "b");
  }
  struct Run {
    int status;
    std::string out, err;
  };
  Run run(const std::vector<std::string>& arguments) {
    const pid_t child = fork();
    if (child == 0) {
      setenv("HOME", (root / "home").c_str(), 1);
      setenv("XDG_RUNTIME_DIR", (root / "run").c_str(), 1);
      for (const char* name :
           {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "DISPLAY", "QT_QPA_PLATFORM", "WAYLAND_DISPLAY"})
        unsetenv(name);
      if (!freopen((root / "out").c_str(), "w", stdout) ||
          !freopen((root / "err").c_str(), "w", stderr))
        _exit(127);
      std::vector<char*> argv{const_cast<char*>(program.c_str())};
      for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return Run{WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_text(root / "out"),
               read_text(root / "err")};
  }
  std::uint32_t saved_generation() {
    const Bytes bytes = read_bytes(root / "prog/dTesmi.dat");
    std::uint32_t value = 0xFFFFFFFF;
    if (bytes.size() == 10008) std::memcpy(&value, bytes.data() + 1720, 4);
    return value;
  }
};

TEST_F(Binary, BackupSwitchCopiesAndReports) {
  const std::string tree = (root / "tree").string();
  Run result = run({"/b=" + tree});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "2 files copied\n");
  EXPECT_TRUE(fs::exists(root / "home/Backup/Tessmira/F0/tree/sub/b.txt"));
  // A new catalog (17,124 bytes) whose second record grew it by ten slots.
  EXPECT_EQ(fs::file_size(root / "prog/TesmiCat.lbf"), 17124u + 10 * 1040);
  EXPECT_FALSE(fs::exists(root / "prog/dTesmi.dat"));  // a backup saves no settings
  EXPECT_EQ(run({"/B=" + tree}).out, "0 files copied\n");
  EXPECT_EQ(run({"--backup=" + tree}).status, 0);

  result = run({"/b="});
  EXPECT_EQ(result.status, 2);
  EXPECT_NE(result.err.find("/b= needs a folder"), std::string::npos);
  result = run({"/b=" + (root / "missing").string()});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("no such folder"), std::string::npos);
  fs::remove_all(root / "home/Backup/Tessmira/F0/tree/sub");
  write_text(root / "home/Backup/Tessmira/F0/tree/sub", "in the way");
  write_text(root / "tree/sub/c.txt", "c");
  result = run({"/b=" + tree});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "0 files copied, 1 failed\n");
}

TEST_F(Binary, RotationSwitchIsExactlySlashRAndWaitsForNoOtherInstance) {
  fs::create_directories(root / "home/Backup/Tessmira/F0/x");
  Run result = run({"/r"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_TRUE(fs::exists(root / "home/Backup/Tessmira/F1/x"));
  EXPECT_EQ(saved_generation(), 1u);
  run({"--rotate"});
  EXPECT_EQ(saved_generation(), 2u);
  // Paths under /run and /root are images, "/R" is no switch: no rotation;
  // the viewer starts instead, and says there is no display.
  for (const char* word : {"/run/x.jpg", "/root/x.jpg", "/R", "/rotate"}) {
    result = run({word});
    EXPECT_EQ(result.status, 1) << word;
    EXPECT_NE(result.err.find("no display"), std::string::npos) << word;
    EXPECT_EQ(saved_generation(), 2u) << word;
  }
  // Another instance blocks the switches: "/r" is ignored then, and the next
  // argument is looked at; a backup fails.
  const int lock = open((root / "run/Tessmira.exe").c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_EQ(flock(lock, LOCK_EX), 0);
  result = run({"/r", "--version"});
  EXPECT_EQ(result.out, "Tessmira 1.0\n");
  EXPECT_EQ(saved_generation(), 2u);
  result = run({"/b=" + (root / "tree").string()});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("another Tessmira is running"), std::string::npos);
  close(lock);
  EXPECT_NE(run({"--help"}).out.find("/b=FOLDER"), std::string::npos);
}

}  // namespace
