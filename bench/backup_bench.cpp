// Catalog and backup benchmark on a generated tree of 50,000 small files and
// five of 100 MB in deep mode: the first catalog build and a second one
// (nothing new); then, on disk and on a tmpfs, the first backup (durable: its
// copies flushed in batches, the flushes counted) and a second one (nothing
// changed) beside `cp -a` then one `sync` (first run) and `rsync -a` (first
// run, then one with nothing to do)
// into folders of their own; then the restore of the whole tree and its
// verification beside `cp -a` and `rsync -a --checksum` (a first run that
// copies, then one that reads both sides whole and copies nothing). Prints
// seconds and ratios.
//
//   backup_bench [DISK_FOLDER [TMPFS_FOLDER]]   (default /tmp and /dev/shm;
//   everything is made there and removed)
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
#include "ports/files.h"
#include "settings/settings.h"

namespace fs = std::filesystem;

namespace {

double seconds_of(const std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool tool_ok = true;

template <typename Work>
double timed(Work work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return seconds_of(start);
}

constexpr std::uint32_t kSmallFiles = 50000;
constexpr std::uint32_t kLargeFiles = 5;
constexpr std::uint32_t kFiles = kSmallFiles + kLargeFiles;

int flushes = 0;
void count_flush() {
  ++flushes;
}

void make_tree(const fs::path& tree) {
  // Five films of 100 MB, of bytes no file system can share or leave out.
  fs::create_directories(tree / "films");
  std::string block(1 << 20, '\0');
  std::uint64_t bits = 88172645463325252ull;
  for (std::uint32_t film = 0; film < kLargeFiles; ++film) {
    std::ofstream out(tree / "films" / ("film" + std::to_string(film) + ".mp4"), std::ios::binary);
    for (int mb = 0; mb < 100; ++mb) {
      for (char& byte : block) {
        bits ^= bits << 13;
        bits ^= bits >> 7;
        bits ^= bits << 17;
        byte = static_cast<char>(bits);
      }
      out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
  }
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

// One place's figures: seconds of each tool's first run and of a run with
// nothing to do.
struct Figures {
  double ours_first, ours_again, cp_first, rsync_first, rsync_again;
  int flushes_first;
  double restore, verify, checksum_first, checksum_again;
  std::uint32_t copied_first, copied_again, restored, verified;
};

Figures measure(const fs::path& base) {
  const fs::path tree = base / "Photos";
  std::printf("making 50,005 files in %s\n", tree.c_str());
  make_tree(tree);
  fs::create_directories(base / "data");
  auto state = std::make_unique<AppState>();
  std::snprintf(state->data.folder, kPathBytes, "%s/", (base / "data").c_str());
  state->data.usable = 1;
  std::snprintf(state->settings.backup_root, kPathBytes, "%s/", (base / "Backup").c_str());
  state->settings.select_mode = 1;
  Figures figures{};
  BackupReport report{};
  const BackupSettings settings = backup_settings_of(state->settings);
  // Everything made so far on the disk first, so that neither side pays for
  // the tree's own writes.
  sync();
  flushes = 0;
  set_flush_seam(count_flush);
  figures.ours_first = timed([&] {
    backup_folder(settings, state->data, state->catalog, state->scans, tree.c_str(), {}, {},
                  &report);
  });
  set_flush_seam(nullptr);
  figures.flushes_first = flushes;
  figures.copied_first = report.copied;
  figures.ours_again = timed([&] {
    backup_folder(settings, state->data, state->catalog, state->scans, tree.c_str(), {}, {},
                  &report);
  });
  figures.copied_again = report.copied;
  sync();
  const std::string cp = "cp -a '" + tree.string() + "' '" + (base / "cp").string() + "' && sync";
  figures.cp_first = timed([&] { tool_ok = std::system(cp.c_str()) == 0 && tool_ok; });
  const std::string rsync =
      "rsync -a '" + tree.string() + "/' '" + (base / "rsync").string() + "/'";
  figures.rsync_first = timed([&] { tool_ok = std::system(rsync.c_str()) == 0 && tool_ok; });
  figures.rsync_again = timed([&] { tool_ok = std::system(rsync.c_str()) == 0 && tool_ok; });
  RestoreReport restored{};
  const std::string to = (base / "restored").string();
  figures.restore = timed([&] {
    restore_files(settings, state->data, RestoreRequest{tree.c_str(), 0, to.c_str(), false},
                  &restored, {}, nullptr);
  });
  figures.restored = restored.restored;
  VerifyReport verified{};
  figures.verify = timed([&] {
    verify_folder(settings, state->data, state->catalog, tree.c_str(), &verified, {}, nullptr);
  });
  figures.verified = verified.problems == 0 ? verified.checked : 0;
  const std::string checksum =
      "rsync -a --checksum '" + tree.string() + "/' '" + (base / "checksum").string() + "/'";
  figures.checksum_first = timed([&] { tool_ok = std::system(checksum.c_str()) == 0 && tool_ok; });
  figures.checksum_again = timed([&] { tool_ok = std::system(checksum.c_str()) == 0 && tool_ok; });
  fs::remove_all(base);
  return figures;
}

void print(const char* place, const Figures& f) {
  std::printf("%s:\n", place);
  std::printf("  %-34s %7.3f s   cp -a, sync %7.3f s (%.2fx)   rsync -a %7.3f s (%.2fx)\n",
              "first backup (durable)", f.ours_first, f.cp_first, f.ours_first / f.cp_first,
              f.rsync_first, f.ours_first / f.rsync_first);
  std::printf("  %-34s %7.3f s   rsync -a %7.3f s (%.2fx)\n", "second backup (nothing changed)",
              f.ours_again, f.rsync_again, f.ours_again / f.rsync_again);
  std::printf(
      "  files copied: first %u, second %u; the first run's flushes: %d (%.2f per 1,000 files)\n",
      f.copied_first, f.copied_again, f.flushes_first, f.flushes_first * 1000.0 / kFiles);
  std::printf("  %-34s %7.3f s   cp -a %7.3f s (%.2fx)   rsync -a --checksum %7.3f s (%.2fx)\n",
              "restore of the tree", f.restore, f.cp_first, f.restore / f.cp_first,
              f.checksum_first, f.restore / f.checksum_first);
  std::printf("  %-34s %7.3f s   rsync -a --checksum, nothing to do %7.3f s (%.2fx)\n",
              "verify of the tree", f.verify, f.checksum_again, f.verify / f.checksum_again);
  std::printf("  files restored %u, verified sound %u; %.0f files/s restored, %.0f verified\n",
              f.restored, f.verified, f.restored / f.restore, f.verified / f.verify);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string name = "tessmira-backup-bench-" + std::to_string(getpid());
  const fs::path disk = fs::path(argc > 1 ? argv[1] : "/tmp") / name;
  const fs::path memory = fs::path(argc > 2 ? argv[2] : "/dev/shm") / name;

  // The catalog build, on disk.
  make_tree(disk / "Photos");
  fs::create_directories(disk / "data");
  auto state = std::make_unique<AppState>();
  std::snprintf(state->data.folder, kPathBytes, "%s/", (disk / "data").c_str());
  state->data.usable = 1;
  const std::vector<Drive> drives{Drive{(disk / "Photos").string(), DRIVE_FIXED}};
  const double build1 = timed([&] {
    catalog_build_drives(state->catalog, state->data, state->scans, drives, nullptr, nullptr);
  });
  const double build2 = timed([&] {
    catalog_build_drives(state->catalog, state->data, state->scans, drives, nullptr, nullptr);
  });
  fs::remove_all(disk);
  std::printf("%-36s %7.3f s\n", "first catalog build", build1);
  std::printf("%-36s %7.3f s\n", "second catalog build (nothing new)", build2);

  const Figures on_disk = measure(disk);
  const Figures in_memory = measure(memory);
  print(("on disk (" + disk.parent_path().string() + ")").c_str(), on_disk);
  print(("on tmpfs (" + memory.parent_path().string() + ")").c_str(), in_memory);
  if (!tool_ok) std::printf("(cp or rsync failed: are they installed?)\n");
  const bool right = on_disk.copied_first == kFiles && on_disk.copied_again == 0 &&
                     in_memory.copied_first == kFiles && in_memory.copied_again == 0 &&
                     on_disk.restored == kFiles && on_disk.verified == kFiles &&
                     in_memory.restored == kFiles && in_memory.verified == kFiles;
  return right ? 0 : 1;
}
