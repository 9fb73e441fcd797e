// The worker serving requests: rebuilds, steps, auto-advance and the stop,
// the picture prepared ahead, and the queue of key presses.
#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "navigation/navigation.h"
#include "shell/shell.h"
#include "tree_support.h"

using namespace tree;

namespace {

struct WorkerFixture : ViewerFixture {
  std::uint32_t ticks = 0;
  void pictures(std::initializer_list<const char*> names) {
    for (const char* name : names) put_picture(root / name);
  }
  void tick() { viewer_tick(*state, ticks); }
  std::string shown() const {
    return fs::path(state->settings.image_path).lexically_relative(root).string();
  }
};

TEST_F(WorkerFixture, ServesARebuildThenStepsWithTitlesAndRepaints) {
  pictures({"a.bmp", "b.bmp", "c.bmp"});
  std::strcpy(state->settings.image_path, (root / "b.bmp").c_str());
  request_rebuild(state->viewer);
  tick();
  EXPECT_EQ(state->viewer.worker.request_pending.load(), 0);
  EXPECT_EQ(state->viewer.worker.request_kind.load(), RequestKind::step);
  EXPECT_EQ(shown(), "b.bmp");  // the rebuild stays on the shown image
  EXPECT_NE(state->viewer.image.pixel_buffer, nullptr);
  EXPECT_EQ(headless_titles(), (std::vector<std::string>{"Building new list...", "Loading Image"}));
  EXPECT_EQ(headless_repaints(), 1);
  step_back(state->viewer, state->settings, 0);
  tick();
  EXPECT_EQ(shown(), "a.bmp");
  // A folder without images says so.
  fs::remove_all(root);
  put_file(root / "notes.txt");
  headless_reset();
  request_rebuild(state->viewer);
  tick();
  EXPECT_EQ(headless_titles().back(), "No valid images in directory - " + root.string());
}

TEST_F(WorkerFixture, RandomLeftWithNothingToGoBackToDrawsANewPick) {
  pictures({"a.bmp", "b.bmp", "c.bmp"});
  state->settings.select_mode = 2;
  std::strcpy(state->settings.image_path, (root / "c.bmp").c_str());
  request_rebuild(state->viewer);
  tick();
  ASSERT_EQ(shown(), "c.bmp");
  // Never the list's first file for an empty history: a draw, as for -1.
  queue_draws({2}, 3);
  step_back(state->viewer, state->settings, 0);
  tick();
  EXPECT_EQ(shown(), "b.bmp");
  EXPECT_EQ(draws().next, 1u);
}

TEST_F(WorkerFixture, ARebuildRaisedWhileAStepIsServedComesRightAfter) {
  pictures({"a.bmp", "b.bmp"});
  put_picture(root / "other/z.bmp");
  request_rebuild(state->viewer);
  tick();
  // A folder change arrives while a step is being served (here: while the
  // scan draws for a "low" folder): the step ends with request_kind step, and
  // the rebuild is served right after it.
  fs::create_directory(root / "low");
  state->settings.select_mode = 1;
  static AppState* target;
  static std::string next_folder;
  target = state.get();
  next_folder = (root / "other").string();
  test_seams().random_bytes = [](void* data, std::uint32_t) {
    std::strcpy(target->settings.view_folder, next_folder.c_str());
    request_rebuild(target->viewer);
    test_seams().random_bytes = nullptr;
    std::memset(data, 0, 4);
    return true;
  };
  request_rebuild(state->viewer);
  tick();
  EXPECT_EQ(state->viewer.worker.request_kind.load(), RequestKind::step);
  EXPECT_EQ(state->viewer.worker.request_pending.load(), 1);
  tick();
  EXPECT_EQ(shown(), "other/z.bmp");
  EXPECT_EQ(state->viewer.worker.file_count.load(), 1u);
}

TEST_F(WorkerFixture, AutoAdvanceCountsTicksWithoutRequests) {
  pictures({"a.bmp"});
  state->settings.advance_setting = 1;
  state->viewer.worker.advance_ticks = 8;
  for (int i = 0; i < 7; ++i) tick();
  EXPECT_EQ(state->viewer.worker.request_pending.load(), 0);
  state->viewer.worker.loader_busy = 1;  // a load in progress: no tick counts
  tick();
  EXPECT_EQ(state->viewer.worker.request_pending.load(), 0);
  state->viewer.worker.loader_busy = 0;
  tick();
  EXPECT_EQ(state->viewer.worker.request_pending.load(), 1);
  EXPECT_EQ(ticks, 0u);
  // The interval counts from the picture shown: a step served (a slow one,
  // or the user's) starts it again.
  tick();
  for (int i = 0; i < 5; ++i) tick();
  step_forward(state->viewer, state->settings, 0);
  tick();
  for (int i = 0; i < 7; ++i) tick();
  EXPECT_EQ(state->viewer.worker.request_pending.load(), 0);
  tick();
  EXPECT_EQ(state->viewer.worker.request_pending.load(), 1);
}

int stop_sleeps = 0;

TEST_F(WorkerFixture, StopClearsALoadThatNeverEndsAfterTenSleeps) {
  stop_sleeps = 0;
  test_seams().sleep_ms = [](std::uint32_t) { ++stop_sleeps; };
  state->viewer.worker.loader_busy = 1;
  state->viewer.worker.stop_counter = kStopRequested;
  viewer_stop(*state);
  EXPECT_EQ(stop_sleeps, 10);
  EXPECT_EQ(state->viewer.worker.loader_busy.load(), 0);
  EXPECT_EQ(state->viewer.worker.stop_counter.load(), 667u);
}

// Every decode, by file name; a decode of `blocked` waits until it is cleared.
struct DecodeLog {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<std::string> names;
  std::string blocked;
  bool held = false;  // a decode waits on blocked
};
DecodeLog decode_log;

void logged_decode(const char* path, std::uint32_t) {
  std::unique_lock<std::mutex> hold(decode_log.lock);
  const std::string name = fs::path(path).filename().string();
  decode_log.names.push_back(name);
  if (name != decode_log.blocked) return;
  decode_log.held = true;
  decode_log.changed.notify_all();
  decode_log.changed.wait(hold, [] { return decode_log.blocked.empty(); });
  decode_log.held = false;
}

// The worker served by the test, the decoding thread running as in the viewer.
struct PrefetchFixture : WorkerFixture {
  void SetUp() override {
    WorkerFixture::SetUp();
    decode_log.names.clear();
    decode_log.blocked.clear();
    test_seams().decoding = logged_decode;
    prefetch_start(state->viewer, state->extra);
  }
  void TearDown() override {
    release();
    prefetch_stop(state->viewer);
    WorkerFixture::TearDown();
  }
  void block(const std::string& name) {
    std::lock_guard<std::mutex> hold(decode_log.lock);
    decode_log.blocked = name;
    decode_log.changed.notify_all();
  }
  void release() { block(""); }
  static bool held() {
    std::lock_guard<std::mutex> hold(decode_log.lock);
    return decode_log.held;
  }
  int decodes(const std::string& name) {
    std::lock_guard<std::mutex> hold(decode_log.lock);
    return static_cast<int>(std::count(decode_log.names.begin(), decode_log.names.end(), name));
  }
  AheadStatus ahead_status() {
    std::lock_guard<std::mutex> hold(state->viewer.prefetch.lock);
    return state->viewer.prefetch.ahead.status;
  }
  bool ahead_ready() {
    return eventually([&] { return ahead_status() == AheadStatus::ready; });
  }
};

TEST_F(PrefetchFixture, TheNextFileIsShownWithoutADecodeUnlessItChanged) {
  pictures({"a.bmp", "b.bmp", "c.bmp", "d.bmp"});
  std::strcpy(state->settings.image_path, (root / "a.bmp").c_str());
  request_rebuild(state->viewer);
  tick();
  ASSERT_TRUE(ahead_ready());
  EXPECT_EQ(decodes("b.bmp"), 1);
  step_forward(state->viewer, state->settings, 0);
  tick();
  EXPECT_EQ(shown(), "b.bmp");
  EXPECT_EQ(decodes("b.bmp"), 1);  // shown as prepared
  EXPECT_NE(state->viewer.image.pixel_buffer, nullptr);
  // c is prepared, then rewritten wider: the step shows the new content.
  ASSERT_TRUE(ahead_ready());
  put_picture(root / "c.bmp", 3);
  step_forward(state->viewer, state->settings, 0);
  tick();
  EXPECT_EQ(shown(), "c.bmp");
  EXPECT_EQ(state->viewer.image.image_width, 3);
  EXPECT_EQ(decodes("c.bmp"), 2);
  // A rebuild throws d away even though d did not change; a jump leaves the
  // next file for another.
  ASSERT_TRUE(ahead_ready());
  request_rebuild(state->viewer);
  tick();
  ASSERT_TRUE(ahead_ready());
  EXPECT_EQ(decodes("d.bmp"), 2);
  EXPECT_EQ(decodes("c.bmp"), 2);  // the rebuild stayed on c without decoding it
  // New colours: the shown picture is decoded again, and so is the one ahead.
  request_recolour(state->viewer);
  tick();
  EXPECT_EQ(decodes("c.bmp"), 3);
  ASSERT_TRUE(ahead_ready());
  EXPECT_EQ(decodes("d.bmp"), 3);
  state->viewer.worker.current_index = 0;  // as a page step leaves it
  step_forward(state->viewer, state->settings, 0);
  tick();
  EXPECT_EQ(shown(), "b.bmp");
  EXPECT_EQ(decodes("b.bmp"), 2);
  ASSERT_TRUE(ahead_ready());
  std::lock_guard<std::mutex> hold(state->viewer.prefetch.lock);
  EXPECT_STREQ(state->viewer.prefetch.ahead.path, (root / "c.bmp").c_str());
}

TEST_F(PrefetchFixture, AReplacedFileIsDecodedAgainAndABrokenOneOnlyOnce) {
  pictures({"a.bmp", "b.bmp", "c.bmp", "d.bmp"});
  write_text(root / "b.bmp", "no picture");
  std::strcpy(state->settings.image_path, (root / "a.bmp").c_str());
  request_rebuild(state->viewer);
  tick();
  ASSERT_TRUE(eventually([&] { return ahead_status() == AheadStatus::failed; }));
  headless_reset();
  step_forward(state->viewer, state->settings, 0);
  tick();
  EXPECT_EQ(decodes("b.bmp"), 1);
  EXPECT_EQ(state->viewer.image.pixel_buffer, nullptr);
  EXPECT_EQ(state->viewer.image.title_kind, TitleKind::failed);
  // c, prepared, is replaced by a file of the same size and write time (a
  // copy that kept the time): its new content is shown.
  ASSERT_TRUE(ahead_ready());
  const fs::path c = root / "c.bmp";
  Bytes other = read_bytes(c);
  other[54] = 77;
  write_bytes(root / "c.new", other);
  fs::last_write_time(root / "c.new", fs::last_write_time(c));
  fs::rename(root / "c.new", c);
  step_forward(state->viewer, state->settings, 0);
  tick();
  EXPECT_EQ(shown(), "c.bmp");
  EXPECT_EQ(decodes("c.bmp"), 2);
  // Stepped back to, not prepared: b fails in one decode more.
  step_back(state->viewer, state->settings, 0);
  tick();
  EXPECT_EQ(shown(), "b.bmp");
  EXPECT_EQ(decodes("b.bmp"), 2);
}

TEST_F(PrefetchFixture, ARequestIsServedWhileAPrefetchRunsAndWaitsForItsOwnPicture) {
  pictures({"a.bmp", "b.bmp", "c.bmp"});
  block("b.bmp");
  request_rebuild(state->viewer);
  tick();
  ASSERT_EQ(shown(), "a.bmp");
  ASSERT_TRUE(eventually(held));
  // b is being prepared and stuck; Left (to c) is served meanwhile.
  step_back(state->viewer, state->settings, 0);
  tick();
  EXPECT_EQ(shown(), "c.bmp");
  EXPECT_EQ(state->viewer.worker.request_pending.load(), 0);
  EXPECT_EQ(ahead_status(), AheadStatus::queued);  // a, the next after c, waits its turn
  EXPECT_TRUE(held());
  // The step to a picture being prepared waits for that decode.
  release();
  ASSERT_TRUE(ahead_ready());
  block("b.bmp");
  step_forward(state->viewer, state->settings, 0);
  tick();
  ASSERT_EQ(shown(), "a.bmp");
  ASSERT_TRUE(eventually(held));
  const int before = decodes("b.bmp");
  step_forward(state->viewer, state->settings, 0);
  std::thread step([&] { tick(); });
  release();
  step.join();
  EXPECT_EQ(shown(), "b.bmp");
  EXPECT_EQ(decodes("b.bmp"), before);
}

// The most decoded pictures (and their pixels) held at any one time.
std::atomic<std::int32_t> most_pictures{0};
std::atomic<std::uint64_t> most_pixels{0};
void count_held(std::int32_t pictures, std::uint64_t pixels) {
  std::int32_t seen = most_pictures.load();
  while (pictures > seen && !most_pictures.compare_exchange_weak(seen, pictures)) {
  }
  std::uint64_t seen_pixels = most_pixels.load();
  while (pixels > seen_pixels && !most_pixels.compare_exchange_weak(seen_pixels, pixels)) {
  }
}

TEST_F(PrefetchFixture, ABurstOfStepsWithTheMagnifierOnStaysWithinTheMemoryBudget) {
  // Large for the window: shown and prepared at an eighth, in full while the
  // drag magnifies, each full decode stopped by the next step.
  QImage photo(1600, 1200, QImage::Format_RGB32);
  photo.fill(qRgb(40, 120, 200));
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(
        photo.save(QString::fromStdString((root / ("p" + std::to_string(i) + ".jpg")).string())));
  }
  state->viewer.image.fit_width = 100;
  state->viewer.image.fit_height = 75;
  most_pictures = 0;
  most_pixels = 0;
  test_seams().pictures_held = count_held;
  set_magnifying(state->viewer, true);
  request_rebuild(state->viewer);
  tick();
  for (int step = 0; step < 20; ++step) {
    step % 7 == 3 ? step_back(state->viewer, state->settings, 0)
                  : step_forward(state->viewer, state->settings, 0);
    tick();
    ASSERT_NE(state->viewer.image.pixel_buffer, nullptr);
  }
  // The last one shown stays: its full size arrives.
  ASSERT_TRUE(eventually([&] {
    std::lock_guard<std::mutex> hold(state->viewer.image.image_lock);
    return state->viewer.image.image_header.width == 1600;
  }));
  set_magnifying(state->viewer, false);
  prefetch_stop(state->viewer);
  EXPECT_LE(most_pictures.load(), kHeldPicturesBudget);
  EXPECT_LE(most_pixels.load(), 1600u * 1200u + 2u * 200u * 150u);
  free_image(state->viewer.image);
  EXPECT_EQ(state->viewer.image.held_pictures.load(), 0);
  EXPECT_EQ(state->viewer.image.held_pixels.load(), 0u);
}

// A fixed stream of random words, and the picks and settings a run ends with.
std::uint32_t stream_word;
bool stream_random(void* data, std::uint32_t size) {
  stream_word = stream_word * 1664525u + 1013904223u;
  std::memcpy(data, &stream_word, size < 4 ? size : 4);
  return true;
}

TEST_F(PrefetchFixture, RandomPicksAreTheSameWithAndWithoutPrefetch) {
  for (int i = 0; i < 12; ++i) put_picture(root / ("p" + std::to_string(10 + i) + ".bmp"));
  state->settings.select_mode = 2;
  auto run = [&](std::int32_t enabled) {
    prefetch_stop(state->viewer);
    state->viewer.prefetch.enabled = enabled;
    prefetch_start(state->viewer, state->extra);
    stream_word = 7;
    test_seams().random_bytes = stream_random;
    std::fill(std::begin(state->settings.recent_picks), std::end(state->settings.recent_picks), 0);
    state->settings.random_state = 0;
    std::strcpy(state->settings.image_path, (root / "p10.bmp").c_str());
    for (HistoryEntry& entry : state->viewer.worker.history) entry = -1;
    request_rebuild(state->viewer);
    tick();
    std::vector<std::int64_t> shown;  // the picks, then the random state and recent picks
    for (int i = 0; i < 30; ++i) {
      std::unique_lock<std::mutex> hold(state->viewer.prefetch.lock);
      const std::int32_t ahead = state->viewer.prefetch.ahead.index;
      hold.unlock();
      const bool forward = i % 9 != 4 && i % 7 != 6;
      if (forward) step_forward(state->viewer, state->settings, 0);
      if (i % 9 == 4) {  // throws a prepared pick away, and draws for a file not listed
        std::strcpy(state->settings.image_path, "/nowhere.bmp");
        request_rebuild(state->viewer);
      }
      if (i % 7 == 6)
        step_back(state->viewer, state->settings, 0);  // after a rebuild: served after it
      while (state->viewer.worker.request_pending.load() == 1) tick();
      shown.push_back(state->viewer.worker.current_index.load());
      // The pick drawn ahead is the one the step shows.
      if (forward && enabled != 0) {
        EXPECT_EQ(shown.back(), ahead) << i;
      }
    }
    shown.push_back(state->settings.random_state);
    shown.insert(shown.end(), std::begin(state->settings.recent_picks),
                 std::end(state->settings.recent_picks));
    return shown;
  };
  const auto without = run(0);
  const auto with = run(1);
  EXPECT_EQ(with, without);
  // Stopping throws the last pick away: the settings never hold it.
  prefetch_stop(state->viewer);
  EXPECT_EQ(state->settings.recent_picks[0], static_cast<std::uint32_t>(with[29] + 1));
}

// Steps pressed while a request is served: queued, coalesced, served after
// it. The worker is served by the test; every decode is logged.
struct StepFixture : WorkerFixture {
  void SetUp() override {
    WorkerFixture::SetUp();
    for (int i = 0; i < 8; ++i)
      put_picture(root / (std::string(1, static_cast<char>('a' + i)) + ".bmp"));
    state->viewer.worker.page_step = 3;
    test_seams().decoding = logged_decode;
  }
  void start(std::uint32_t mode) {
    state->settings.select_mode = mode;
    std::strcpy(state->settings.image_path, (root / "a.bmp").c_str());
    request_rebuild(state->viewer);
    tick();
    decode_log.names.clear();
  }
  // What each served request shows, until nothing waits.
  std::vector<std::string> served() {
    std::vector<std::string> names;
    while (state->viewer.worker.request_pending.load() == 1) {
      tick();
      names.push_back(shown());
    }
    return names;
  }
  std::vector<std::string> decoded() {
    std::lock_guard<std::mutex> hold(decode_log.lock);
    return decode_log.names;
  }
};

TEST_F(StepFixture, LinearPressesCoalesceCancelAndKeepTheirOrder) {
  for (const std::uint32_t mode : {0u, 1u}) {
    start(mode);
    // Pressed while the worker is busy: three Rights, a page, a Right.
    for (int i = 0; i < 3; ++i) step_forward(state->viewer, state->settings, 0);
    step_forward(state->viewer, state->settings, kModifierShift);
    request_next_image(state->viewer, state->settings, 0);
    EXPECT_EQ(served(), (std::vector<std::string>{"d.bmp", "h.bmp", "a.bmp"})) << mode;
    EXPECT_EQ(decoded(), (std::vector<std::string>{"d.bmp", "h.bmp", "a.bmp"})) << mode;
    // A Right and a Left cancel out, either way round; three Lefts wrap.
    step_forward(state->viewer, state->settings, 0);
    step_back(state->viewer, state->settings, 0);
    step_back(state->viewer, state->settings, 0);
    step_forward(state->viewer, state->settings, 0);
    EXPECT_EQ(served(), std::vector<std::string>{"a.bmp"}) << mode;  // nothing left to do
    for (int i = 0; i < 3; ++i) step_back(state->viewer, state->settings, 0);
    EXPECT_EQ(served(), std::vector<std::string>{"f.bmp"}) << mode;
  }
}

TEST_F(StepFixture, ARebuildWinsOverWaitingStepsAndRepeatsQueueAtMostOne) {
  start(0);
  step_forward(state->viewer, state->settings, 0);
  step_forward(state->viewer, state->settings, 0);
  request_rebuild(state->viewer);
  EXPECT_EQ(served(), std::vector<std::string>{"a.bmp"});
  // The shown picture, unchanged, is not decoded again by the rebuild.
  EXPECT_TRUE(decoded().empty());
  // A held key: its repeats queue a step only while none waits.
  step_forward(state->viewer, state->settings, 0);
  for (int i = 0; i < 5; ++i) step_forward(state->viewer, state->settings, kModifierRepeat);
  EXPECT_EQ(served(), std::vector<std::string>{"b.bmp"});
  step_forward(state->viewer, state->settings, kModifierRepeat);
  step_forward(state->viewer, state->settings, kModifierRepeat);
  EXPECT_EQ(served(), std::vector<std::string>{"c.bmp"});
  // The picture rewritten since it was shown is decoded by the rebuild.
  put_picture(root / "c.bmp", 2);
  request_rebuild(state->viewer);
  EXPECT_EQ(served(), std::vector<std::string>{"c.bmp"});
  EXPECT_EQ(decoded(), (std::vector<std::string>{"b.bmp", "c.bmp", "c.bmp"}));
}

// What a window thread that fell behind a slow picture hands over, its
// clock the test's: repeats stamped while the picture of the step before
// them was on its way add no step, nor does one that waited longer than the
// key's repeat interval; a press among them does.
std::uint32_t fake_now = 0;
AppState* keyed = nullptr;
void keys_while_decoding(const char* path, std::uint32_t reduction) {
  logged_decode(path, reduction);
  if (fs::path(path).filename() != "b.bmp") return;
  fake_now = 1400;
  for (std::uint32_t stamp = 1040; stamp <= 1360; stamp += 40)
    handle_key(*keyed, kKeyRight, kModifierRepeat, stamp);
  handle_key(*keyed, kKeyRight, 0, 1380);
}

TEST_F(StepFixture, RepeatsThatWaitedBehindASlowPictureAddNoStepAndPressesDo) {
  start(0);
  keyed = state.get();
  test_seams().tick_count = [] { return fake_now; };
  test_seams().decoding = keys_while_decoding;
  fake_now = 1005;
  handle_key(*state, kKeyRight, 0, 1000);
  EXPECT_EQ(served(), (std::vector<std::string>{"b.bmp", "c.bmp"}));
  fake_now = 1500;
  handle_paint(*state);  // c reaches the screen
  const auto repeat = [&](std::uint32_t stamp, std::uint32_t now) {
    fake_now = now;
    handle_key(*state, kKeyRight, kModifierRepeat, stamp);
    return served();
  };
  EXPECT_TRUE(repeat(1490, 1505).empty());  // generated before c was painted
  EXPECT_TRUE(repeat(1530, 1600).empty());  // 65 ms old, the stamps 40 ms apart
  EXPECT_EQ(repeat(1570, 1572), std::vector<std::string>{"d.bmp"});
  EXPECT_TRUE(repeat(1610, 1612).empty());  // d not painted yet
  EXPECT_EQ(decoded(), (std::vector<std::string>{"b.bmp", "c.bmp", "d.bmp"}));
}

TEST_F(StepFixture, RandomPressesCoalescedDrawAsStepsServedOneByOne) {
  for (const std::uint32_t mode : {2u, 3u}) {
    // The same draws and presses: each served alone, then queued together.
    const auto run = [&](bool together) {
      start(mode);
      stream_word = 11;
      test_seams().random_bytes = stream_random;
      state->settings.random_state = 0;
      std::fill(std::begin(state->settings.recent_picks), std::end(state->settings.recent_picks),
                0);
      for (HistoryEntry& entry : state->viewer.worker.history) entry = -1;
      std::vector<std::int64_t> seen;
      for (const auto& [key, times] :
           {std::pair<Key, int>{forward_key, 4}, std::pair<Key, int>{back_key, 3}}) {
        for (int i = 0; i < times; ++i) {
          key(*state, 0);
          if (!together) served();
        }
        served();
        seen.push_back(state->viewer.worker.current_index.load());
      }
      for (const HistoryEntry& entry : state->viewer.worker.history) seen.push_back(entry.load());
      seen.push_back(state->settings.random_state);
      seen.insert(seen.end(), std::begin(state->settings.recent_picks),
                  std::end(state->settings.recent_picks));
      return seen;
    };
    const auto alone = run(false);
    const auto together = run(true);
    EXPECT_EQ(together, alone) << mode;
    // Four picks, three of them retraced: only the last of each run decoded.
    EXPECT_EQ(decoded().size(), 2u) << mode;
  }
}

TEST_F(StepFixture, OnTheRealThreadPressesDuringTheFirstDecodeActRightAfterIt) {
  std::strcpy(state->settings.image_path, (root / "a.bmp").c_str());
  {
    std::lock_guard<std::mutex> hold(decode_log.lock);
    decode_log.names.clear();
    decode_log.blocked = "a.bmp";
  }
  // As the viewer starts: the thread shows the last run's picture, a rebuild
  // follows, and the user presses Right three times meanwhile. The thread
  // body as start_viewer_thread runs it, but joined here: Qt's bookkeeping
  // for a thread that used it runs at that thread's exit, which only a join
  // orders before the test's own end.
  std::thread worker(viewer_thread, std::ref(*state));
  request_rebuild(state->viewer);
  const auto held = [] {
    std::lock_guard<std::mutex> hold(decode_log.lock);
    return decode_log.held;
  };
  ASSERT_TRUE(eventually(held));
  for (int i = 0; i < 3; ++i) step_forward(state->viewer, state->settings, 0);
  {
    std::lock_guard<std::mutex> hold(decode_log.lock);
    decode_log.blocked.clear();
    decode_log.changed.notify_all();
  }
  EXPECT_TRUE(eventually([&] {
    std::lock_guard<std::mutex> hold(state->viewer.texts);
    return shown() == "d.bmp" && state->viewer.worker.request_pending.load() == 0;
  }));
  const auto names = decoded();
  // Decoded once at the start, not again by the rebuild; b and c only passed.
  EXPECT_EQ(std::count(names.begin(), names.end(), "a.bmp"), 1);
  EXPECT_EQ(std::count(names.begin(), names.end(), "c.bmp"), 0);
  state->viewer.worker.stop_counter = kStopRequested;
  wake_worker(state->viewer.worker);
  EXPECT_TRUE(eventually([] { return !headless_commands().empty(); }));
  EXPECT_EQ(state->viewer.worker.stop_counter.load(), 667u);
  EXPECT_EQ(headless_commands(), std::vector<std::int32_t>{kCommandWorkerStopped});
  worker.join();
}

}  // namespace
