// The application state: the one record both threads share, with the settings
// block stored byte for byte as the settings file holds it.
#pragma once

#include <atomic>
#include <bit>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "catalog/list_file.h"

// Every path and most working texts live in buffers of this size.
constexpr std::uint32_t kPathBytes = 600;
// Entries of the recent-folders list.
constexpr std::uint32_t kRecentFolderCount = 10;
// Entries of the random-mode back history and of the recent random draws.
constexpr std::uint32_t kHistoryCount = 100;

// Placement of the main window, as the settings file stores it.
struct WindowPlacement {
  std::uint32_t length;
  std::uint32_t flags;
  std::uint32_t show_state;  // 1 normal, 2 minimised, 3 maximised
  std::int32_t min_x, min_y;
  std::int32_t max_x, max_y;
  std::int32_t normal_left, normal_top, normal_right, normal_bottom;
};
static_assert(sizeof(WindowPlacement) == 44);

// The persistent stretch of the state: the settings file is an 8-byte header
// followed by exactly these 10,000 bytes, little-endian.
struct SettingsBlock {
  std::uint32_t select_mode;      // 0 Linear, 1 Deep Linear, 2 Random, 3 Deep Random
  std::uint32_t advance_setting;  // 0 off, 1..6 = 5, 10, 20, 30, 45, 60 seconds
  WindowPlacement window_placement;
  std::uint32_t random_state;        // fallback random generator
  std::uint32_t translucency_alpha;  // opacity used when translucent
  std::uint32_t translucent;
  std::uint32_t always_on_top;
  std::uint8_t spare_68[8];
  std::uint32_t show_bmp;
  std::uint32_t show_jpg;
  std::uint32_t show_gif;
  std::uint32_t reserved_88[5];  // written with defaults, never read
  std::uint32_t recent_picks[kHistoryCount];
  std::uint8_t spare_508[1200];
  std::uint32_t full_screen;
  std::uint32_t backup_generation;
  std::uint8_t spare_1716[16];
  char image_path[kPathBytes];
  char view_folder[kPathBytes];
  char recent_folders[kRecentFolderCount][kPathBytes];
  char backup_root[kPathBytes];
  std::uint8_t spare_9532[468];
};

static_assert(std::endian::native == std::endian::little,
              "the settings block is stored as it lies in memory, little-endian");
static_assert(sizeof(SettingsBlock) == 10000);
static_assert(offsetof(SettingsBlock, select_mode) == 0);
static_assert(offsetof(SettingsBlock, advance_setting) == 4);
static_assert(offsetof(SettingsBlock, window_placement) == 8);
static_assert(offsetof(SettingsBlock, random_state) == 52);
static_assert(offsetof(SettingsBlock, translucency_alpha) == 56);
static_assert(offsetof(SettingsBlock, translucent) == 60);
static_assert(offsetof(SettingsBlock, always_on_top) == 64);
static_assert(offsetof(SettingsBlock, spare_68) == 68);
static_assert(offsetof(SettingsBlock, show_bmp) == 76);
static_assert(offsetof(SettingsBlock, show_jpg) == 80);
static_assert(offsetof(SettingsBlock, show_gif) == 84);
static_assert(offsetof(SettingsBlock, reserved_88) == 88);
static_assert(offsetof(SettingsBlock, recent_picks) == 108);
static_assert(offsetof(SettingsBlock, spare_508) == 508);
static_assert(offsetof(SettingsBlock, full_screen) == 1708);
static_assert(offsetof(SettingsBlock, backup_generation) == 1712);
static_assert(offsetof(SettingsBlock, spare_1716) == 1716);
static_assert(offsetof(SettingsBlock, image_path) == 1732);
static_assert(offsetof(SettingsBlock, view_folder) == 2332);
static_assert(offsetof(SettingsBlock, recent_folders) == 2932);
static_assert(offsetof(SettingsBlock, backup_root) == 8932);
static_assert(offsetof(SettingsBlock, spare_9532) == 9532);

// Header of the pixel buffer: a device-independent bitmap header and one colour entry.
struct BitmapHeader {
  std::uint32_t size;  // 40
  std::int32_t width;
  std::int32_t height;  // positive: rows stored bottom-up
  std::uint16_t planes;
  std::uint16_t bit_count;
  std::uint32_t compression;  // 0: uncompressed
  std::uint32_t size_image;
  std::int32_t x_pels_per_meter;
  std::int32_t y_pels_per_meter;
  std::uint32_t colors_used;
  std::uint32_t colors_important;
  std::uint8_t color[4];  // blue, green, red, reserved
};
static_assert(sizeof(BitmapHeader) == 44);

// Platform objects the state holds; each platform layer defines them.
struct PlatformBitmap;
struct PlatformWindow;

// Record of the "Select File..." dialog, filled just before use.
struct OpenFileRequest {
  std::int32_t filter_index;  // filter chosen last, kept for the run
};

// Reads the main window's placement; returns 1 when it filled placement.
using PlacementReader = int (*)(const PlatformWindow* window, WindowPlacement* placement);

using PathSlot = char[kPathBytes];

struct AppState {
  SettingsBlock settings = {};

  // Navigation and worker protocol, shared by the window and the worker thread.
  std::atomic<std::int32_t> request_pending{0};
  std::atomic<std::int32_t> request_kind{0};  // 1 rebuild, 2 step
  std::atomic<std::int32_t> back_pending{0};
  std::atomic<std::int32_t> current_index{0};  // compared as unsigned; -1 = choose
  std::atomic<std::uint32_t> file_count{0};
  std::atomic<std::uint32_t> page_step{0};
  std::atomic<std::int32_t> history[kHistoryCount] = {};
  std::atomic<std::uint32_t> advance_ticks{0};
  std::atomic<std::uint32_t> stop_counter{0};  // 666 stop asked, 667 worker stopped
  std::atomic<std::int32_t> loader_busy{0};
  std::atomic<std::int32_t> scan_mode{0};  // 0 none, 1 view list, 2 catalog, 3 backup
  // 1 from the worker's start until its very last step (it is never joined).
  std::atomic<std::int32_t> worker_running{0};
  PathSlot* file_list = nullptr;  // the view list, 100,000 slots
  // A rebuild asked for while a request is served; the worker's own
  // request_kind = 2 cannot overwrite it, so it is served next.
  std::atomic<std::int32_t> rebuild_wanted{0};
  // Guards the texts and words both threads change while running (image_path,
  // view_folder, recent_picks, random_state); save_settings holds it while it
  // copies the block.
  std::mutex shared_text_lock;
  // Wakes the worker's 500 ms sleep when a request or a stop is raised.
  std::mutex wake_lock;
  std::condition_variable wake_signal;
  bool wake_flag = false;

  // Image and painting. The image fields change under image_lock, which
  // painting holds while it reads them; loader_busy marks a load in progress.
  std::mutex image_lock;
  PlatformBitmap* image_bitmap = nullptr;
  std::uint8_t* pixel_buffer = nullptr;
  BitmapHeader image_header = {};
  std::int32_t image_width = 0;
  std::int32_t image_height = 0;
  PlatformBitmap* back_buffer = nullptr;
  std::int32_t client_width = 0;
  std::int32_t client_height = 0;
  std::int32_t zoom_level = 0;  // 0 fitted, 1..5 magnified during a drag
  std::int32_t pan_x = 0;
  std::int32_t pan_y = 0;

  // Window and process.
  std::intptr_t instance_handle = 0;  // module handle where the platform has one
  // Read by the worker for its titles and posts; cleared when the window goes.
  std::atomic<PlatformWindow*> main_window{nullptr};
  PlatformWindow* tooltip_window = nullptr;
  std::int32_t translucency_available = 0;
  std::int32_t about_open = 0;
  OpenFileRequest open_file_request = {};
  char program_path[kPathBytes] = {};  // program's folder, trailing '/'
  char data_folder[kPathBytes] = {};   // settings and catalog folder, trailing '/'
  // 0 when the data folder could not be named within its buffer: settings are
  // then defaulted and never saved, rather than written to a wrong place.
  std::int32_t data_folder_usable = 0;
  // Set by the window layer once the main window exists.
  PlacementReader placement_reader = nullptr;
  // Seams that tests replace; null means the platform's own.
  void (*sleep_ms)(std::uint32_t ms) = nullptr;                   // every 500 ms wait
  std::uint32_t (*tick_count)() = nullptr;                        // milliseconds
  int (*random_bytes)(void* data, std::uint32_t size) = nullptr;  // 1 = filled
  // The catalog's per-file step of a scan in scan mode 2; returns the new count.
  std::uint32_t (*catalog_add_file)(AppState& state, const char* folder, const char* name,
                                    std::uint32_t count) = nullptr;
  ListFile catalog;             // open only while a catalog build or a backup runs
  char* catalog_log = nullptr;  // the running build's log text
  // Files the running catalog build has added, for its progress display, and
  // a request to wind the build up early (the session is ending).
  std::atomic<std::uint32_t> catalog_added{0};
  std::atomic<std::int32_t> catalog_cancel{0};
  // While not 0, scans stay on the file system with this device number (a
  // catalog drive); while backup_skip_device is not 0, they skip the folder
  // with that device and inode (the backup root).
  std::uint64_t scan_device = 0;
  std::uint64_t backup_skip_device = 0;
  std::uint64_t backup_skip_inode = 0;
};

// Settings words that one thread writes while the other reads them
// (select_mode, advance_setting) go through these, keeping the block's layout.
inline std::uint32_t read_shared(const std::uint32_t& word) {
  return std::atomic_ref<std::uint32_t>(const_cast<std::uint32_t&>(word)).load();
}
inline void write_shared(std::uint32_t& word, std::uint32_t value) {
  std::atomic_ref<std::uint32_t>(word).store(value);
}

// Waits ms milliseconds through the sleep seam.
void pause_ms(const AppState& state, std::uint32_t ms);
// The millisecond tick through the tick seam.
std::uint32_t ticks_now(const AppState& state);
// Fills size random bytes through the random seam; 1 when it could.
int fill_random(const AppState& state, void* data, std::uint32_t size);

// Cuts a file path to its folder in place; the root keeps its separator.
void strip_to_folder(char* path);
// Puts folder at the front of the recent folders unless an entry holds it already.
void remember_folder(AppState& state, const char* folder);
// Moves recent-folder entry n (0..9) to the front.
void promote_recent_folder(AppState& state, std::uint32_t n);
