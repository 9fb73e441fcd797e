// Scan benchmark: a generated tree of 100,000 files in 1,000 folders, listed
// in Deep Linear mode, against `find TREE -type f` on the same tree.
//
//   scan_bench [FOLDER]   (default /tmp; the tree is made there and removed)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "navigation/navigation.h"

namespace fs = std::filesystem;

namespace {

double seconds_of(const std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void make_tree(const fs::path& root) {
  // Ten top folders of a hundred folders of a hundred files: 1,110 folders.
  for (int top = 0; top < 10; ++top) {
    for (int folder = 0; folder < 100; ++folder) {
      const fs::path dir =
          root / ("top" + std::to_string(top)) / ("album" + std::to_string(folder));
      fs::create_directories(dir);
      for (int file = 0; file < 100; ++file) {
        std::ofstream(dir / ("IMG_" + std::to_string(10000 + file) + ".jpg"));
      }
    }
  }
}

// The first scan of a run, into a fresh list, and the best of three
// rebuilds of the same list, as a resync or a mode change does them.
void time_scans(const fs::path& root, double* first, double* rebuild, std::uint32_t* count,
                std::size_t* list_bytes) {
  auto state = std::make_unique<AppState>();
  state->settings.select_mode = 1;
  state->settings.show_jpg = 1;
  char path[kPathBytes];
  *rebuild = 1e9;
  for (int run = 0; run < 4; ++run) {
    std::snprintf(path, sizeof path, "%s", root.c_str());
    const auto start = std::chrono::steady_clock::now();
    const Pick pick{state->viewer, state->settings, state->extra, state->scans, nullptr};
    *count = pick_file(pick, path, SelectMode::deep_linear, -1, RequestKind::rebuild);
    const double seconds = seconds_of(start);
    if (run == 0) {
      *first = seconds;
    } else {
      *rebuild = std::min(*rebuild, seconds);
    }
  }
  const ViewList& list = state->viewer.list.files;
  *list_bytes = list.starts.capacity() * sizeof(std::uint32_t);
  for (const auto& block : list.blocks) *list_bytes += block.capacity();
}

double best_find(const fs::path& root) {
  double best = 1e9;
  const std::string command = "find '" + root.string() + "' -type f > /dev/null";
  for (int run = 0; run < 3; ++run) {
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) return -1;
    best = std::min(best, seconds_of(start));
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path root =
      fs::path(argc > 1 ? argv[1] : "/tmp") / ("tessmira-scan-bench-" + std::to_string(getpid()));
  std::printf("making 100,000 files in %s\n", root.c_str());
  make_tree(root);
  // Both sides start from the same caches: the tree read once, as any run
  // after the files were made would find it.
  if (best_find(root) <= 0) return 1;
  std::uint32_t count = 0;
  double first = 0;
  double rebuild = 0;
  std::size_t list_bytes = 0;
  time_scans(root, &first, &rebuild, &count, &list_bytes);
  const double find = best_find(root);
  fs::remove_all(root);
  if (find <= 0) {
    std::fprintf(stderr, "scan_bench: find failed\n");
    return 1;
  }
  std::printf("files listed        %u\n", count);
  std::printf("first scan          %.3f s\n", first);
  std::printf("Deep Linear rebuild %.3f s (best of 3)\n", rebuild);
  std::printf("find -type f        %.3f s (best of 3)\n", find);
  std::printf("ratio rebuild/find  %.2f (goal: 1.5 or less)\n", rebuild / find);
  std::printf("ratio first/find    %.2f (goal: 1.2 or less)\n", first / find);
  std::printf("list memory         %.1f MB for %u paths (goal: 15 MB or less)\n",
              static_cast<double>(list_bytes) / 1e6, count);
  return count == kListLimit ? 0 : 1;
}
