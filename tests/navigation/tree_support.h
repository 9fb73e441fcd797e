// Folder trees for the navigation tests, and seams that make draws predictable.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "image/image.h"
#include "navigation/navigation.h"
#include "platform/headless/headless_desktop.h"
#include "state/app_state.h"
#include "state/seams.h"
#include "support.h"

namespace tree {

using namespace test_support;

// A width x 1 24-bit BMP of one colour, so that loads succeed without an encoder.
inline void put_picture(const fs::path& path, std::uint8_t width = 1) {
  const std::uint8_t row = static_cast<std::uint8_t>((width * 3 + 3) / 4 * 4);
  Bytes bytes = {'B',   'M', static_cast<std::uint8_t>(54 + row),
                 0,     0,   0,
                 0,     0,   0,
                 0,     54,  0,
                 0,     0,   40,
                 0,     0,   0,
                 width, 0,   0,
                 0,     1,   0,
                 0,     0,   1,
                 0,     24,  0,
                 0,     0,   0,
                 0,     row, 0,
                 0,     0};
  bytes.resize(54, 0);
  for (std::uint8_t i = 0; i < width; ++i) bytes.insert(bytes.end(), {9, 99, 200});
  bytes.resize(54u + row, 0);
  write_bytes(path, bytes);
}

inline void put_file(const fs::path& path) {
  write_text(path, "");
}

// Draws come from this queue of 32-bit values while it lasts.
struct Draws {
  std::vector<std::uint32_t> values;
  std::size_t next = 0;
  int calls = 0;
};
inline Draws& draws() {
  static Draws queue;
  return queue;
}
inline bool queued_random(void* data, std::uint32_t size) {
  Draws& queue = draws();
  ++queue.calls;
  if (size != 4 || queue.next >= queue.values.size()) return false;
  std::memcpy(data, &queue.values[queue.next++], 4);
  return true;
}
// Makes random_in_range(n) answer each of answers in turn (1-based values).
inline void queue_draws(const std::vector<std::uint32_t>& answers, std::uint32_t n) {
  draws() = Draws{};
  for (const std::uint32_t answer : answers) draws().values.push_back(answer - 1 + n * 7);
  test_seams().random_bytes = queued_random;
}

// The step keys as the key table calls them, on the whole record.
using Key = void (*)(AppState&, std::uint32_t);
inline void forward_key(AppState& state, std::uint32_t modifiers) {
  step_forward(state.viewer, state.settings, modifiers);
}
inline void back_key(AppState& state, std::uint32_t modifiers) {
  step_back(state.viewer, state.settings, modifiers);
}
inline void next_key(AppState& state, std::uint32_t modifiers) {
  request_next_image(state.viewer, state.settings, modifiers);
}

// What the worker's picks work on.
inline Pick picking(AppState& state) {
  return Pick{state.viewer, state.settings, state.extra, state.scans, take_ahead_pick};
}

// A state that frees its image with it.
struct StateRelease {
  void operator()(AppState* state) const {
    free_image(state->viewer.image);
    delete state;
  }
};
using StatePtr = std::unique_ptr<AppState, StateRelease>;

inline StatePtr viewing(const fs::path& folder, std::uint32_t mode) {
  StatePtr state(new AppState);
  state->settings.select_mode = mode;
  state->settings.show_bmp = state->settings.show_jpg = state->settings.show_gif = 1;
  std::strcpy(state->settings.view_folder, folder.c_str());
  return state;
}

// The names (relative to root) in the view list.
inline std::vector<std::string> listed(const AppState& state, const fs::path& root) {
  std::vector<std::string> names;
  for (std::uint32_t i = 0; i < state.viewer.worker.file_count.load(); ++i) {
    names.push_back(fs::path(listed_path(state.viewer.list, i)).lexically_relative(root).string());
  }
  return names;
}

// A viewer over a temporary folder, against the headless desktop; its
// settings go to that folder too.
struct ViewerFixture : ::testing::Test {
  TempFolder temp;
  const fs::path& root = temp.path;
  StatePtr state = viewing(root, 0);
  void SetUp() override {
    headless_reset();
    test_seams() = TestSeams{};
    state->viewer.window = headless_window();
    std::strcpy(state->data.folder, (root.string() + "/").c_str());
    state->data.usable = 1;
  }
  void TearDown() override {
    headless_reset();
    test_seams() = TestSeams{};
  }
  // Serves a pending request as the worker would.
  void serve() {
    if (state->viewer.worker.request_pending.load() == 1) serve_request(*state);
    state->viewer.worker.request_pending = 0;
  }
};

}  // namespace tree
