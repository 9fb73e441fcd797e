// File associations written into a temporary XDG tree.
#include "platform/associations.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "../process_guard.h"

namespace fs = std::filesystem;

namespace {

std::string text_of(const fs::path& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(Associations, ExecPathsAreQuotedByTheDesktopEntryRules) {
  EXPECT_EQ(desktop_exec_quote("/usr/local/lib/tessmira/tessmira"),
            "/usr/local/lib/tessmira/tessmira");
  EXPECT_EQ(desktop_exec_quote("/home/me/my apps/tessmira"), "\"/home/me/my apps/tessmira\"");
  // Inside quotes ", `, $ and \ are escaped; then every \ is doubled and % doubled.
  EXPECT_EQ(desktop_exec_quote("/a$b/c\"d/e\\f/100%"), "\"/a\\\\$b/c\\\\\"d/e\\\\\\\\f/100%%\"");
  const std::string entry =
      desktop_entry_text("/opt/t m/tessmira", "/opt/t m/tessmira.png", "JPG", "JPG File");
  EXPECT_EQ(entry,
            "[Desktop Entry]\nType=Application\nName=Tessmira\nComment=JPG File\n"
            "MimeType=image/jpeg;\nNoDisplay=true\nIcon=/opt/t m/tessmira.png\n"
            "Exec=\"/opt/t m/tessmira\" %f\n");
}

TEST(Associations, MimeappsKeepsEveryOtherLine) {
  const std::string before =
      "[Added Associations]\nimage/jpeg=gimp.desktop;\n\n[Default Applications]\n"
      "text/plain=gedit.desktop\nimage/jpeg=eog.desktop\n\n[Removed Associations]\nx=y\n";
  const std::string after = mimeapps_with_default(before, "image/jpeg", "Tessmira.JPGFile.desktop");
  EXPECT_EQ(after,
            "[Added Associations]\nimage/jpeg=gimp.desktop;\n\n[Default Applications]\n"
            "text/plain=gedit.desktop\nimage/jpeg=Tessmira.JPGFile.desktop\n\n"
            "[Removed Associations]\nx=y\n");
  EXPECT_EQ(mimeapps_with_default(after, "image/jpeg", "Tessmira.JPGFile.desktop"), after);
  const std::string added = mimeapps_with_default(after, "image/gif", "Tessmira.GIFFile.desktop");
  EXPECT_NE(added.find("image/jpeg=Tessmira.JPGFile.desktop\nimage/gif=Tessmira.GIFFile.desktop\n\n"
                       "[Removed"),
            std::string::npos);
  EXPECT_EQ(mimeapps_with_default("", "image/bmp", "Tessmira.BMPFile.desktop"),
            "[Default Applications]\nimage/bmp=Tessmira.BMPFile.desktop\n");
}

TEST(Associations, RegisteredTypesAreTheDesktopsDefaults) {
  char pattern[] = "/tmp/tessmira-xdg-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path root = pattern;
  ProcessGuard process;
  process.set("XDG_DATA_HOME", (root / "data").string());
  process.set("XDG_CONFIG_HOME", (root / "config").string());
  fs::create_directories(root / "config");
  std::ofstream(root / "config/mimeapps.list")
      << "[Default Applications]\ntext/plain=gedit.desktop\n";
  for (int run = 0; run < 2; ++run) {
    ASSERT_EQ(register_extension("/opt/tessmira/", "BMP", "BMP File"), 0);
    ASSERT_EQ(register_extension("/opt/tessmira/", "GIF", "GIF File"), 0);
    ASSERT_EQ(register_extension("/opt/tessmira/", "JPG", "JPG File"), 0);
  }
  EXPECT_EQ(text_of(root / "config/mimeapps.list"),
            "[Default Applications]\ntext/plain=gedit.desktop\n"
            "image/bmp=Tessmira.BMPFile.desktop\nimage/gif=Tessmira.GIFFile.desktop\n"
            "image/jpeg=Tessmira.JPGFile.desktop\n");
  const std::string entry = text_of(root / "data/applications/Tessmira.GIFFile.desktop");
  EXPECT_NE(entry.find("MimeType=image/gif;\n"), std::string::npos);
  EXPECT_NE(entry.find("Icon=/opt/tessmira/tessmira.png\n"), std::string::npos);
  EXPECT_NE(entry.find(" %f\n"), std::string::npos);
  // The desktop's own tool agrees.
  FILE* query = popen("xdg-mime query default image/jpeg 2>/dev/null", "r");
  ASSERT_NE(query, nullptr);
  char answer[256] = {};
  std::fgets(answer, sizeof answer, query);
  pclose(query);
  EXPECT_STREQ(answer, "Tessmira.JPGFile.desktop\n");
  fs::remove_all(root);
}

}  // namespace
