// File associations written into a temporary XDG tree.
#include "ports/associations.h"

#include <gtest/gtest.h>

#include "support.h"

using namespace test_support;

namespace {

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

TEST(Associations, RegisteredTypesAreTheDesktopsDefaultsAndOtherLinesStay) {
  TempFolder temp;
  const fs::path& root = temp.path;
  ProcessGuard process;
  process.change("XDG_DATA_HOME", (root / "data").string());
  process.change("XDG_CONFIG_HOME", (root / "config").string());
  const std::string before =
      "[Added Associations]\nimage/jpeg=gimp.desktop;\n\n[Default Applications]\n"
      "text/plain=gedit.desktop\nimage/jpeg=eog.desktop\n\n[Removed Associations]\nx=y\n";
  write_text(root / "config/mimeapps.list", before);
  // A built program's icon lies beside it.
  const std::string built = (root / "prog/").string();
  write_text(root / "prog/tessmira.png", "png");
  for (int run = 0; run < 2; ++run) {
    for (const char* type : {"BMP", "GIF", "JPG"})
      ASSERT_TRUE(register_extension(built.c_str(), type, (type + std::string(" File")).c_str()));
  }
  EXPECT_EQ(read_text(root / "config/mimeapps.list"),
            "[Added Associations]\nimage/jpeg=gimp.desktop;\n\n[Default Applications]\n"
            "text/plain=gedit.desktop\nimage/jpeg=Tessmira.JPGFile.desktop\n"
            "image/bmp=Tessmira.BMPFile.desktop\nimage/gif=Tessmira.GIFFile.desktop\n\n"
            "[Removed Associations]\nx=y\n");
  const std::string entry = read_text(root / "data/applications/Tessmira.GIFFile.desktop");
  EXPECT_NE(entry.find("MimeType=image/gif;\n"), std::string::npos);
  EXPECT_NE(entry.find("Icon=" + built + "tessmira.png\n"), std::string::npos);
  // An installed one's is the icon theme's, by name.
  ASSERT_TRUE(register_extension("/usr/bin/", "PNG", "PNG File"));
  EXPECT_NE(read_text(root / "data/applications/Tessmira.PNGFile.desktop").find("Icon=tessmira\n"),
            std::string::npos);
  EXPECT_EQ(mimeapps_with_default("", "image/bmp", "T.desktop"),
            "[Default Applications]\nimage/bmp=T.desktop\n");
}

}  // namespace
