// Catalog and backup benchmark on a generated tree of 50,000 files in deep
// mode: the first catalog build, a second one (nothing new), the first backup
// and a second one (nothing changed), beside `rsync -a` into another folder
// (first run, then a run with nothing to do). Prints seconds.
//
//   backup_bench [FOLDER]   (default /tmp; everything is made there and removed)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "backup/backup.h"
#include "catalog/catalog.h"
#include "settings/settings.h"

namespace fs = std::filesystem;

namespace {

double seconds_of(const std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

template <typename Work>
double timed(Work work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return seconds_of(start);
}

void make_tree(const fs::path& tree) {
  // 50 folders of 10 albums of 100 small files.
  for (int folder = 0; folder < 50; ++folder) {
    for (int album = 0; album < 10; ++album) {
      const fs::path dir =
          tree / ("year" + std::to_string(1980 + folder)) / ("album" + std::to_string(album));
      fs::create_directories(dir);
      for (int file = 0; file < 100; ++file) {
        std::ofstream(dir / ("IMG_" + std::to_string(1000 + file) + ".jpg")) << file << "\n";
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path base =
      fs::path(argc > 1 ? argv[1] : "/tmp") / ("tessmira-backup-bench-" + std::to_string(getpid()));
  const fs::path tree = base / "Photos";
  std::printf("making 50,000 files in %s\n", tree.c_str());
  make_tree(tree);
  fs::create_directories(base / "data");

  auto state = std::make_unique<AppState>();
  std::snprintf(state->window.data_folder, kPathBytes, "%s/", (base / "data").c_str());
  state->window.data_folder_usable = 1;
  std::snprintf(state->settings.backup_root, kPathBytes, "%s/", (base / "Backup").c_str());
  state->settings.select_mode = 1;
  const std::vector<Drive> drives{Drive{tree.string(), DRIVE_FIXED}};

  const double build1 = timed([&] { catalog_build_drives(*state, drives, nullptr, nullptr); });
  const double build2 = timed([&] { catalog_build_drives(*state, drives, nullptr, nullptr); });
  BackupReport first{};
  BackupReport second{};
  const double backup1 = timed([&] { backup_folder(*state, tree.c_str(), &first, nullptr); });
  const double backup2 = timed([&] { backup_folder(*state, tree.c_str(), &second, nullptr); });
  const std::string rsync =
      "rsync -a '" + tree.string() + "/' '" + (base / "rsync").string() + "/'";
  bool rsync_ok = true;
  const double rsync1 = timed([&] { rsync_ok = std::system(rsync.c_str()) == 0 && rsync_ok; });
  const double rsync2 = timed([&] { rsync_ok = std::system(rsync.c_str()) == 0 && rsync_ok; });
  fs::remove_all(base);

  std::printf("%-40s %8.3f s\n", "first catalog build", build1);
  std::printf("%-40s %8.3f s\n", "second catalog build (nothing new)", build2);
  std::printf("%-40s %8.3f s   rsync -a %8.3f s\n", "first backup", backup1, rsync1);
  std::printf("%-40s %8.3f s   rsync -a %8.3f s\n", "second backup (nothing changed)", backup2,
              rsync2);
  std::printf("files copied: first %u, second %u\n", first.copied, second.copied);
  if (!rsync_ok) std::printf("(rsync failed: is it installed?)\n");
  return first.copied == 50000 && second.copied == 0 ? 0 : 1;
}
