// The command line: the tokenizer on command-line strings, and black-box runs
// of the real binary with the backup switches.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "shell/shell.h"

namespace fs = std::filesystem;

namespace {

std::pair<int, std::string> argument(const char* line, std::uint32_t index) {
  char out[kPathBytes] = "untouched";
  const int code = get_command_argument(line, index, out);
  return {code, out};
}

TEST(CommandLine, TokenizerGroupsQuotedBlanks) {
  EXPECT_EQ(argument("prog a b", 0), std::make_pair(1, std::string("prog")));
  EXPECT_EQ(argument("prog a b", 2), std::make_pair(1, std::string("b")));
  EXPECT_EQ(argument("prog a b", 3), std::make_pair(2, std::string("")));
  EXPECT_EQ(argument("  prog   a", 1), std::make_pair(1, std::string("a")));
  EXPECT_EQ(argument("prog \"/my pics/a b.jpg\" x", 1),
            std::make_pair(1, std::string("/my pics/a b.jpg")));
  EXPECT_EQ(argument("prog /home/\"my pics\"/a.jpg", 1),
            std::make_pair(1, std::string("/home/my pics/a.jpg")));
  EXPECT_EQ(argument("prog a\xfe"
                     "b",
                     1),
            std::make_pair(1, std::string("a b")));
  EXPECT_EQ(argument("prog\ta\tb", 2), std::make_pair(1, std::string("b")));
  EXPECT_EQ(argument("prog \"a\tb\"", 1), std::make_pair(1, std::string("a b")));
  EXPECT_EQ(argument("prog \"a b", 1), std::make_pair(3, std::string("untouched")));
  EXPECT_EQ(argument("prog \"\"", 1), std::make_pair(4, std::string("")));
  EXPECT_EQ(argument("prog a ", 2), std::make_pair(4, std::string("")));  // trailing blanks
  EXPECT_EQ(argument("prog a ", 3), std::make_pair(2, std::string("")));
  const std::string huge = "prog " + std::string(700, 'x');
  EXPECT_EQ(argument(huge.c_str(), 1).first, 3);  // never cut into a wrong path
}

// Runs the real program from a folder of its own, with HOME, the XDG folders
// and the lock's folder inside the test's folder.
struct Binary : ::testing::Test {
  fs::path root;
  fs::path program;
  void SetUp() override {
    char pattern[] = "/tmp/tessmira-binary-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root = pattern;
    for (const char* folder : {"prog", "home", "run", "tree/sub"})
      fs::create_directories(root / folder);
    program = root / "prog/tessmira";
    fs::copy_file(TESSMIRA_BINARY, program);
    std::ofstream(root / "tree/a.jpg") << "a";
    std::ofstream(root / "tree/sub/b.txt") << "b";
  }
  void TearDown() override { fs::remove_all(root); }

  struct Run {
    int status;
    std::string out;
    std::string err;
  };
  Run run(const std::vector<std::string>& arguments) {
    const fs::path out = root / "out.txt";
    const fs::path err = root / "err.txt";
    const pid_t child = fork();
    if (child == 0) {
      setenv("HOME", (root / "home").c_str(), 1);
      setenv("XDG_RUNTIME_DIR", (root / "run").c_str(), 1);
      unsetenv("XDG_DATA_HOME");
      unsetenv("XDG_CONFIG_HOME");
      unsetenv("DISPLAY");
      unsetenv("QT_QPA_PLATFORM");  // no display at all: the viewer refuses to start
      unsetenv("WAYLAND_DISPLAY");
      freopen(out.c_str(), "w", stdout);
      freopen(err.c_str(), "w", stderr);
      std::vector<char*> argv{const_cast<char*>(program.c_str())};
      for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    auto text = [](const fs::path& path) {
      std::ifstream in(path);
      return std::string(std::istreambuf_iterator<char>(in), {});
    };
    return Run{WIFEXITED(status) ? WEXITSTATUS(status) : -1, text(out), text(err)};
  }
  std::uint32_t saved_generation() {
    std::ifstream in(root / "prog/dTesmi.dat", std::ios::binary);
    std::vector<char> bytes(10008);
    in.read(bytes.data(), 10008);
    std::uint32_t value;
    std::memcpy(&value, bytes.data() + 1720, 4);
    return in ? value : 0xFFFFFFFF;
  }
};

TEST_F(Binary, BackupSwitchCopiesAndReports) {
  Run result = run({"/b=" + (root / "tree").string()});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "2 files copied\n");
  EXPECT_TRUE(fs::exists(root / "home/Backup/Tessmira/F0/tree/sub/b.txt"));
  // A new catalog (17,124 bytes) whose second record grew it by ten slots.
  EXPECT_EQ(fs::file_size(root / "prog/TesmiCat.lbf"), 17124u + 10 * 1040);
  EXPECT_FALSE(fs::exists(root / "prog/dTesmi.dat"));  // a backup saves no settings
  result = run({"/B=" + (root / "tree").string()});
  EXPECT_EQ(result.out, "0 files copied\n");
  result = run({"--backup=" + (root / "tree").string()});
  EXPECT_EQ(result.status, 0);

  result = run({"/b="});
  EXPECT_EQ(result.status, 2);
  EXPECT_NE(result.err.find("/b= needs a folder"), std::string::npos);
  result = run({"/b=" + (root / "missing").string()});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("no such folder"), std::string::npos);
}

TEST_F(Binary, RotationSwitchIsExactlySlashR) {
  fs::create_directories(root / "home/Backup/Tessmira/F0/x");
  Run result = run({"/r"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_TRUE(fs::exists(root / "home/Backup/Tessmira/F1/x"));
  EXPECT_EQ(saved_generation(), 1u);
  result = run({"--rotate"});
  EXPECT_EQ(saved_generation(), 2u);
  // Paths under /run and /root are images, "/R" is no switch: no rotation;
  // the viewer starts instead, and says there is no display.
  for (const char* word : {"/run/x.jpg", "/root/x.jpg", "/R", "/rotate"}) {
    result = run({word});
    EXPECT_EQ(result.status, 1) << word;
    EXPECT_NE(result.err.find("no display"), std::string::npos) << word;
    EXPECT_EQ(saved_generation(), 2u) << word;
  }
}

TEST_F(Binary, AnotherInstanceBlocksTheSwitches) {
  const int lock = open((root / "run/Tessmira.exe").c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_EQ(flock(lock, LOCK_EX), 0);
  Run result = run({"/b=" + (root / "tree").string()});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("another Tessmira is running"), std::string::npos);
  EXPECT_FALSE(fs::exists(root / "home/Backup"));
  // "/r" is ignored then, and the next argument is looked at.
  result = run({"/r", "--version"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "Tessmira 1.0\n");
  EXPECT_FALSE(fs::exists(root / "prog/dTesmi.dat"));
  close(lock);
}

TEST_F(Binary, FailedCopiesFailTheRun) {
  fs::create_directories(root / "home/Backup/Tessmira/F0/tree");
  std::ofstream(root / "home/Backup/Tessmira/F0/tree/sub") << "in the way";
  const Run result = run({"/b=" + (root / "tree").string()});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "1 files copied, 1 failed\n");
}

TEST_F(Binary, HelpAndVersion) {
  Run result = run({"--help"});
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(result.out.find("/b=FOLDER"), std::string::npos);
  result = run({"--version"});
  EXPECT_EQ(result.out, "Tessmira 1.0\n");
}

}  // namespace
