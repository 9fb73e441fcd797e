// The application state: the one record both threads share, in sub-records
// by concern. Each says who writes it and under which lock; atomics need none.
// The window thread runs the event handlers and commands, the worker thread
// serves requests (navigation/viewer_thread.cpp), and a catalog build runs on
// a thread of its own while its report shows.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ports/files.h"
#include "ports/paths.h"
#include "state/bitmap_header.h"
#include "state/list_record.h"
#include "state/settings_block.h"

// Platform objects the state holds; each platform layer defines them.
struct PlatformBitmap;
struct PlatformWindow;

using PathSlot = char[kPathBytes];

// One entry of the back history: an atomic list index that starts empty (-1).
struct HistoryEntry : std::atomic<std::int32_t> {
  HistoryEntry() : std::atomic<std::int32_t>(-1) {}
  using std::atomic<std::int32_t>::operator=;
};

// The selection mode: which files a step takes, stored in the settings block
// as a 32-bit word (select_mode_of and set_select_mode convert).
enum class SelectMode : std::uint32_t { linear = 0, deep_linear = 1, random = 2, deep_random = 3 };
// The deep modes enter subfolders; the random ones draw their picks.
constexpr bool is_deep(SelectMode mode) {
  return mode == SelectMode::deep_linear || mode == SelectMode::deep_random;
}
constexpr bool is_random(SelectMode mode) {
  return mode == SelectMode::random || mode == SelectMode::deep_random;
}

// What the request the worker serves asks for.
enum class RequestKind : std::int32_t { none, rebuild, step };

// Which scan runs: the one claim for a folder scan.
enum class ScanMode : std::int32_t { none, view_list, catalog, backup };

// A step the window asked for. The window thread records what was pressed;
// the worker works out where it leads when it serves it.
enum class StepKind : std::int32_t {
  forward,       // Right, Space, a click
  back,          // Left
  page_forward,  // Shift+Right or Shift+Space in the linear modes
  page_back,     // Shift+Left in the linear modes
  next_page,     // Shift+click: a page on in every mode
};
// Steps of one kind pressed one after another, served as one request.
struct StepRun {
  StepKind kind;
  std::uint32_t count;
};
// Runs kept waiting at most; more alternating pages than that are dropped.
constexpr std::uint32_t kStepRunLimit = 64;

// The worker's request words. The window thread queues steps (or asks for a
// rebuild) first and sets request_pending last; the worker serves them and
// clears request_pending. history and current_index are the worker's while
// it runs.
struct WorkerProtocol {
  std::atomic<std::int32_t> request_pending{0};
  std::atomic<RequestKind> request_kind{RequestKind::none};
  // The steps pressed and not yet served, in the order pressed (under
  // step_lock): never dropped while a request is served. step_serial counts
  // every change to them; served_serial is the count up to which every step
  // is served and its picture on its way to the screen.
  std::mutex step_lock;
  std::deque<StepRun> steps;
  std::uint32_t step_serial = 0;
  std::atomic<std::uint32_t> served_serial{0};
  std::atomic<std::int32_t> current_index{0};  // compared as unsigned; -1 = choose
  std::atomic<std::uint32_t> file_count{0};
  std::atomic<std::uint32_t> page_step{0};
  // Random modes' back history, newest first; -1 where there is nothing to
  // go back to, so Left then draws a new pick.
  HistoryEntry history[kHistoryCount];
  std::atomic<std::uint32_t> advance_ticks{0};
  std::atomic<std::uint32_t> stop_counter{0};  // 666 stop asked, 667 worker stopped
  std::atomic<std::int32_t> loader_busy{0};    // a load (or a delete question) holds the image
  // 1 from the worker's start until its very last step (it is never joined).
  std::atomic<std::int32_t> worker_running{0};
  // A rebuild asked for while a request is served; the worker's own
  // request_kind = step cannot overwrite it, so it is served next.
  std::atomic<std::int32_t> rebuild_wanted{0};
  // Wakes the worker's 500 ms sleep when a request or a stop is raised.
  std::mutex wake_lock;
  std::condition_variable wake_signal;
  bool wake_flag = false;  // under wake_lock
};

// What the window's title says; the image subsystem builds its text.
enum class TitleKind : std::int32_t {
  program,    // "Tessmira 1.0", before anything was shown
  building,   // the worker is building the view list
  loading,    // the worker is loading the picture
  image,      // the picture shown, its size, scale and position
  failed,     // the picture at title_path could not be shown
  no_images,  // the viewed folder has no picture
  missing,    // nothing at title_path, the path named on the command line
};

// A decoded picture: its own (upright) size, and its pixels as the image
// buffer holds them, at that size or reduced by the decoder; with the stamp
// its file had when it was read.
struct Picture {
  PlatformBitmap* bitmap = nullptr;      // the mark of a decoded picture
  const std::uint8_t* pixels = nullptr;  // the bitmap's own rows; null for none
  BitmapHeader header = {};              // the pixels' size
  std::int32_t width = 0;
  std::int32_t height = 0;
  FileStamp stamp;
  std::uint32_t colour_serial = 0;  // the colour choices it was decoded under
};

// The image and the view of it. The worker replaces the image under
// image_lock, which painting holds while it reads the image fields; the view
// fields (back buffer, client size, zoom, pan) belong to the window thread.
struct ImageView {
  std::mutex image_lock;
  PlatformBitmap* image_bitmap = nullptr;
  const std::uint8_t* pixel_buffer = nullptr;  // image_bitmap's own rows
  BitmapHeader image_header = {};
  std::int32_t image_width = 0;  // the picture's own size; the pixels may be reduced
  std::int32_t image_height = 0;
  // Counts the pictures shown; a full-size decode is put in place only
  // while the picture it was made for is still shown.
  std::uint32_t shown_serial = 0;
  std::uint32_t painted_serial = 0;  // the shown_serial the last paint drew
  // The file shown and its stamp when it was read: a rebuild that stays on
  // it, unchanged, shows it without decoding it again. Worker only.
  char shown_file[kPathBytes] = {};
  FileStamp shown_stamp;
  std::uint32_t shown_colour = 0;  // the shown picture's colour_serial
  // Counts the changes of how pictures are coloured (the colour management
  // setting, the display's profile): a picture decoded before one is stale.
  std::atomic<std::uint32_t> colour_serial{0};
  // The client size for the decoding threads (the window thread's own copy
  // is client_width and client_height).
  std::atomic<std::int32_t> fit_width{0};
  std::atomic<std::int32_t> fit_height{0};
  PlatformBitmap* back_buffer = nullptr;
  std::int32_t client_width = 0;
  std::int32_t client_height = 0;
  std::int32_t zoom_level = 0;  // 0 fitted, 1..5 magnified during a drag
  // Whether a drag magnifies (zoom_level above 0), for the decoding threads.
  std::atomic<bool> magnifying{false};
  // The decoded pictures held now (shown, ahead, being decoded) and their
  // pixels: what the budget in image/image.h bounds.
  std::atomic<std::int32_t> held_pictures{0};
  std::atomic<std::uint64_t> held_pixels{0};
  std::int32_t pan_x = 0;
  std::int32_t pan_y = 0;
  // Raised by any request or change of picture: a full-size decode under
  // way stops at once.
  std::atomic<bool> full_cancel{false};
  // Told after each paint that drew shown_serial (painted_serial set): who
  // waits for the picture to reach the screen (the prefetcher) is woken.
  std::atomic<void (*)(void* context)> painted{nullptr};
  std::atomic<void*> painted_context{nullptr};
  // Set by whoever changes what the title says (either thread).
  std::atomic<TitleKind> title_kind{TitleKind::program};
  char title_path[kPathBytes] = {};  // under Viewer::texts
};

// Random words one pick may take: a first draw and up to 100 refused ones.
constexpr std::uint32_t kMaxPickDraws = 101;

// The working copies one random pick is drawn on, written back to the
// settings only when the pick is shown; and the words it took from the
// random source, given back when the pick is thrown away unseen.
struct PickDraw {
  std::uint32_t random_state = 0;
  std::uint32_t recent_picks[kHistoryCount] = {};
  std::uint32_t taken[kMaxPickDraws] = {};
  std::uint32_t taken_count = 0;
};

enum class AheadStatus : std::int32_t { none, queued, decoding, ready, failed, over_budget };

// The picture the next forward step will show, prepared while the present
// one is looked at: the next file in the linear modes, the next random pick
// (drawn ahead) in the random ones.
struct AheadPicture {
  AheadStatus status = AheadStatus::none;
  std::uint32_t ticket = 0;      // changes whenever the record is thrown away
  std::uint32_t generation = 0;  // of the view list the file was chosen from
  SelectMode mode = SelectMode::linear;
  std::int32_t index = -1;
  std::int32_t drawn = 0;  // random modes: draw holds a pick no step took yet
  PickDraw draw;
  char path[kPathBytes] = {};
  std::chrono::steady_clock::time_point queued_at;
  Picture picture;  // once ready
};

// Without a step for this long the user is looking at the picture: its
// full-size pixels are decoded for a magnifier they may use.
constexpr std::uint32_t kFullSizeIdleMs = 2000;

// The decoding threads' work: the picture ahead, and the shown picture's
// full-size pixels when it was shown reduced, one thread each. All under lock
// but running, stop and enabled; the worker fills the jobs, the threads do them.
struct PrefetchState {
  std::mutex lock;
  std::condition_variable signal;  // a job queued, a decode done, a stop
  std::thread ahead_thread;        // both between prefetch_start and prefetch_stop
  std::thread full_thread;
  std::atomic<std::int32_t> running{0};
  bool stop = false;
  std::int32_t enabled = 1;  // 0: nothing is prepared ahead (set before the start)
  AheadPicture ahead;
  // The shown picture is reduced: its full-size pixels can be decoded, for
  // the magnifier (at once) or after full_idle_ms without a step.
  bool full_armed = false;
  bool full_urgent = false;       // the window needs the pixels now
  std::uint32_t full_serial = 0;  // the shown picture it is for
  std::chrono::steady_clock::time_point full_armed_at;
  std::uint32_t full_idle_ms = kFullSizeIdleMs;
  char full_path[kPathBytes] = {};
  // Words of thrown-away picks, handed out again before the source's own;
  // under Viewer::texts.
  std::uint32_t returned[2 * kMaxPickDraws] = {};
  std::uint32_t returned_count = 0;
};

// Record of the "Select File..." dialog, filled just before use.
struct OpenFileRequest {
  std::int32_t filter_index;  // filter chosen last, kept for the run
};

// A held key's repeats as the window thread judges them (window thread
// only): a repeat adds a step only once the picture of the key's step
// before it is on the screen, and only when it was generated after that and
// has not waited longer than the key's repeat interval.
struct KeyRepeats {
  bool step_on_its_way = false;  // a key's step asked for, its picture not painted yet
  std::uint32_t asked = 0;       // WorkerProtocol::step_serial once that step was queued
  std::uint32_t shown_at = 0;    // ticks_now() when its picture was painted
  // The key events' clock against ticks_now(): the difference the first
  // event showed (handled minus stamped), and the least one since, less
  // that: the clocks' offset plus the quickest delivery.
  bool clock_known = false;
  std::uint32_t first_difference = 0;
  std::int32_t least_more = 0;
  // The key's repeat interval, as the stamps of two repeats in a row tell
  // it (the window system repeats on a timer of its own), and the last
  // repeat's stamp; 0 when the last event was a press.
  std::uint32_t repeat_interval = 40;
  std::uint32_t last_repeat = 0;
};

// The window thread's own: set by start-up before the worker starts.
struct WindowState {
  KeyRepeats key_repeats;
  std::int32_t translucency_available = 0;
  std::int32_t about_open = 0;  // window thread
  OpenFileRequest open_file_request = {};
  // The settings file read at start was damaged and set aside (told once).
  bool settings_set_aside = false;
};

// Settings beyond the settings block, whose layout is fixed: kept in a text
// file of key=value lines of their own (settings/options.cpp). The flags are
// set on the window thread and read by the decoding threads.
struct ExtraSettings {
  // The picture types beyond JPG, BMP and GIF are listed.
  std::atomic<bool> more_picture_types{true};
  // Tagged pictures are converted to the display's colours.
  std::atomic<bool> colour_management{true};
  // The file's lines this program does not know, written back as they were
  // (window thread).
  std::vector<std::string> other_lines;
};

struct AppState;

// The view list: its paths one after another, each with its terminator, in
// blocks of kListBlockBytes filled to their own lengths (a full block is
// never moved, so the list grows without copying), and where each path
// begins: its block's number x kListBlockBytes + its offset in the block.
constexpr std::uint32_t kListBlockBytes = 1u << 20;
struct ViewList {
  std::vector<std::vector<char>> blocks;  // kept from one build to the next
  std::uint32_t used_blocks = 0;          // those the present list fills
  std::vector<std::uint32_t> starts;
};

// The view list the worker builds and steps through (worker only).
struct ViewScan {
  ViewList files;
  std::uint32_t generation = 0;  // counts the view list's builds
  // The image shown when the view list's build began, whose slot it looks for.
  char shown_path[kPathBytes] = {};
};

// The viewer: what the window thread, the worker and the decoding threads
// share about the pictures shown, each part saying who writes what.
struct Viewer {
  // Guards the settings texts and words both threads change while running
  // (image_path, view_folder, recent_picks, random_state) and title_path;
  // a save holds it while it copies the settings block.
  std::mutex texts;
  // The window repaints and titles go to; cleared when it goes.
  std::atomic<PlatformWindow*> window{nullptr};
  WorkerProtocol worker;
  ViewScan list;
  ImageView image;
  PrefetchState prefetch;
};

// One scan runs at a time in a process: the worker's (view_list), a catalog
// build's on its own thread (catalog) or a backup's walk on the only thread
// of a backup run (backup); mode says which.
struct Scans {
  std::atomic<ScanMode> mode{ScanMode::none};
};

// The catalog while a build or a backup has it open, and a build's progress.
struct Catalog {
  ListFile list;        // open only while a catalog build or a backup runs
  char* log = nullptr;  // the running build's log text
  // Files the running build has added, for its progress display, and a
  // request to wind the build up early (the session is ending).
  std::atomic<std::uint32_t> added{0};
  std::atomic<std::int32_t> cancel{0};
  // Files the running build has met, listed or not.
  std::atomic<std::uint32_t> met{0};
  // Files it could not add: the catalog could not grow.
  std::atomic<std::uint32_t> refused{0};
  // The catalog's answers changed since its index was written (a record
  // added or a gone mark changed): whoever closes it writes the index.
  bool answers_changed = false;
};

// Where the program's files lie: its own folder and the data folder, each
// with its trailing separator. Set once at the start.
struct DataFolder {
  char program_path[kPathBytes] = {};
  char folder[kPathBytes] = {};
  // 0 when the data folder could not be named within its buffer: settings are
  // then defaulted and never saved, rather than written to a wrong place.
  std::int32_t usable = 0;
};
// The data folder's file name in path (600 bytes): every file the program
// keeps is named here. False when the data folder is unusable or the path
// would not fit.
bool data_file_path(const DataFolder& data, const char* name, char* path);

// The whole record: the shell's, which hands each subsystem its parts.
struct AppState {
  SettingsBlock settings = {};
  ExtraSettings extra;
  DataFolder data;
  Scans scans;
  Catalog catalog;
  Viewer viewer;
  WindowState window;
};

// Settings words that one thread writes while the other reads them
// (select_mode, advance_setting) go through these, keeping the block's layout.
inline std::uint32_t read_shared(const std::uint32_t& word) {
  return std::atomic_ref<std::uint32_t>(const_cast<std::uint32_t&>(word)).load();
}
inline void write_shared(std::uint32_t& word, std::uint32_t value) {
  std::atomic_ref<std::uint32_t>(word).store(value);
}
// The selection mode of the block's word (kept within 0..3 by loading).
inline SelectMode select_mode_of(const SettingsBlock& block) {
  return static_cast<SelectMode>(read_shared(block.select_mode) & 3u);
}
inline void set_select_mode(SettingsBlock& block, SelectMode mode) {
  write_shared(block.select_mode, static_cast<std::uint32_t>(mode));
}

// Waits ms milliseconds through the sleep seam.
void pause_ms(std::uint32_t ms);
// The millisecond tick through the tick seam.
std::uint32_t ticks_now();
// Fills size random bytes through the random seam; true when it could.
bool fill_random(void* data, std::uint32_t size);

// Cuts a file path to its folder in place; the root keeps its separator: a
// text as long as the shortest root with its separator ("/", "C:\\") or
// shorter stays, and a file in the root gives the root.
void strip_to_folder(char* path, const PathRules& rules = path_rules());
// Puts folder at the front of the recent folders unless an entry holds it already.
void remember_folder(SettingsBlock& settings, const char* folder,
                     const PathRules& rules = path_rules());
// Moves recent-folder entry n (0..9) to the front.
void promote_recent_folder(SettingsBlock& settings, std::uint32_t n);
