// "--catalog" builds the catalog over the drives, "--catalog=FOLDER" over one
// tree.
#include <atomic>
#include <string>
#include <thread>

#include "catalog/catalog.h"
#include "catalog/finder.h"
#include "ports/clock.h"
#include "ports/console.h"
#include "ports/files.h"
#include "shell/startup.h"
#include "text/text.h"

namespace {

constexpr std::uint32_t kProgressMs = 250;

std::string why_not_opened(const ListFile& catalog) {
  switch (catalog.failure) {
    case OpenFailure::held:
      return "the catalog is held by another process (a build or a backup); try again when it "
             "ends";
    case OpenFailure::missing:
    case OpenFailure::not_list:
      return "the catalog could not be made in the data folder";
    default:
      return "the catalog could not be opened or made (is the disk full or read-only?)";
  }
}

}  // namespace

int run_catalog(AppState& state, const Invocation& call) {
  const char* folder = call.argument.c_str();
  std::vector<CatalogTree> trees;
  if (call.argument.empty()) {
    for (const Drive& drive : catalog_drives())
      trees.push_back(CatalogTree{drive.mount_point, true});
  } else {
    char current[kPathBytes];
    char absolute[kPathBytes];
    if (current_folder(current, sizeof current) < 0 || !normalise_path(folder, current, absolute) ||
        !is_folder(absolute)) {
      shell_say((std::string("no folder ") + folder + " to catalog").c_str());
      return kExitFailed;
    }
    trees.push_back(CatalogTree{absolute, false});
  }
  state.catalog.added = 0;
  state.catalog.met = 0;
  state.catalog.cancel = 0;
  catch_interrupt();
  CatalogBuilt built = CatalogBuilt::done;
  std::atomic<bool> running{true};
  std::thread build([&] {
    built = catalog_build_trees(state.catalog, state.data, state.scans, trees, nullptr, nullptr);
    running = false;
  });
  // The count a few times a second on a terminal; an interrupt winds the build up.
  const bool terminal = console_error_is_terminal();
  std::uint32_t shown_at = tick_count();
  bool shown = false;
  while (true) {
    sleep_ms(20);
    if (interrupted()) state.catalog.cancel = 1;
    if (!running.load()) break;
    if (terminal && tick_count() - shown_at >= kProgressMs) {
      shown_at = tick_count();
      console_error(("\r" + catalog_status(state.catalog, "") + "   ").c_str());
      shown = true;
    }
  }
  build.join();
  if (shown) console_error("\n");
  switch (built) {
    case CatalogBuilt::not_opened:
      shell_say(why_not_opened(state.catalog.list).c_str());
      return kExitFailed;
    case CatalogBuilt::busy:
      shell_say("another scan is running");
      return kExitFailed;
    case CatalogBuilt::stopped:
      shell_say("stopped by an interrupt; the catalog holds what was found so far");
      return kExitInterrupted;
    case CatalogBuilt::index_failed:
      shell_say("the catalog was built, but its index could not be written");
      break;
    case CatalogBuilt::done:
      break;
  }
  if (state.catalog.refused.load() > 0) {
    shell_say((std::to_string(state.catalog.refused.load()) +
               " files could not be added: the catalog could not grow (is the disk full?)")
                  .c_str());
    return kExitFailed;
  }
  console_out((catalog_status(state.catalog, "") + "\n").c_str());
  return built == CatalogBuilt::done ? kExitDone : kExitFailed;
}
