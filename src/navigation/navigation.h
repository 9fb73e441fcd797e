// Navigation: the requests the window raises, the view list and the choice of
// the next file in each selection mode, and the viewer thread that serves them.
#pragma once

#include <cstdint>
#include <string>

#include "state/app_state.h"
#include "state/events.h"
#include "walk/walk.h"
// stop_counter: 666 asks the worker to stop, 667 says it did.
constexpr std::uint32_t kStopRequested = 666;

// The requests, raised on the window thread. modifiers are the event's
// kModifier bits; Shift pages.

// Right arrow and Space: the next file (Shift: a page further in the linear
// modes). Nothing when a request is waiting.
void step_forward(Viewer& viewer, const SettingsBlock& settings, std::uint32_t modifiers);
// Left arrow: the previous file (Shift: a page back in the linear modes), or
// the newest history entry in the random modes.
void step_back(Viewer& viewer, const SettingsBlock& settings, std::uint32_t modifiers);
// Left click and commands: the next file, Shift paging in every mode.
void request_next_image(Viewer& viewer, const SettingsBlock& settings, std::uint32_t modifiers);
// How many times the waiting steps have changed (WorkerProtocol::step_serial).
std::uint32_t step_serial(WorkerProtocol& worker);
// Asks for the view list of view_folder to be rebuilt; never lost, even
// while another request is being served.
void request_rebuild(Viewer& viewer);
// How pictures are coloured changed (the setting, the display's profile):
// the shown picture is decoded anew and nothing decoded before is shown.
void request_recolour(Viewer& viewer);
// Views the folder of the file at path, showing that file first (decoded by
// the worker, once). A path of 1 character
// or fewer, or one that does not fit 599 bytes, is ignored. True when taken.
bool open_image_file(Viewer& viewer, SettingsBlock& settings, const char* path);

// 1..n from the cryptographic source, 0..n from the fallback; 1 for n <= 1.
std::uint32_t random_in_range(Viewer& viewer, SettingsBlock& settings, std::uint32_t n);
// Path index of the view list; "" past its end.
const char* listed_path(const ViewScan& list, std::uint32_t index);
// True when the view list's walk enters the subfolder name ("low" only now
// and then, on a draw of random_in_range).
bool admit_subfolder(Viewer& viewer, SettingsBlock& settings, const char* name);
// The picture types by file-name ending (in any letter case). BMP, JPG and
// GIF are the first three; the others are listed only with
// more_picture_types, a JPEG's other endings also with show_jpg.
constexpr std::int32_t kTypeBmp = 1;
constexpr std::int32_t kTypeJpg = 2;
constexpr std::int32_t kTypeGif = 3;
constexpr std::int32_t kTypeJpeg = 4;  // .jpeg .jpe .jfif
constexpr std::int32_t kTypePng = 5;
constexpr std::int32_t kTypeWebp = 6;
constexpr std::int32_t kTypeTiff = 7;
constexpr std::int32_t kTypeAvif = 8;
constexpr std::int32_t kTypeHeif = 9;
constexpr std::int32_t kTypeJxl = 10;
struct PictureEnding {
  const char* ending;  // lower case, with its dot
  std::int32_t type;
};
// In the order the file dialog names them.
inline constexpr PictureEnding kPictureEndings[] = {
    {".jpg", kTypeJpg},   {".gif", kTypeGif},   {".bmp", kTypeBmp},   {".jpeg", kTypeJpeg},
    {".jpe", kTypeJpeg},  {".jfif", kTypeJpeg}, {".png", kTypePng},   {".webp", kTypeWebp},
    {".tif", kTypeTiff},  {".tiff", kTypeTiff}, {".avif", kTypeAvif}, {".heic", kTypeHeif},
    {".heif", kTypeHeif}, {".jxl", kTypeJxl},
};
// Whether pictures of type are listed with the settings as they are.
bool picture_type_listed(const SettingsBlock& settings, const ExtraSettings& extra,
                         std::int32_t type);
// The type of the file name when it is listed; 0 otherwise.
std::int32_t image_type_of(const SettingsBlock& settings, const ExtraSettings& extra,
                           const char* name);
// The listed endings as file-dialog patterns: "*.jpg *.gif *.bmp" and the rest.
std::string picture_patterns(const SettingsBlock& settings, const ExtraSettings& extra);
// draw when it is not among the recent picks (and records it), else -1.
std::int32_t check_recent_pick(Viewer& viewer, SettingsBlock& settings, std::uint32_t n,
                               std::uint32_t draw);
// Draws a random pick among count files on copies of random_state and the
// recent picks (into *draw); the slot, 0 when every draw was refused.
std::uint32_t draw_pick(Viewer& viewer, SettingsBlock& settings, std::uint32_t count,
                        PickDraw* draw);
// Writes a shown pick's copies back to the settings.
void commit_pick(Viewer& viewer, SettingsBlock& settings, const PickDraw& draw);
// Gives a thrown-away pick's random words back, to be drawn again first.
void give_back_pick(Viewer& viewer, const PickDraw& draw);
// Chooses the next file of the folder in path (rebuilding the list when
// list_use is not a step, or when none is there) and puts its path into path.
// Returns file_count.
// What a pick works on: the viewer, its settings, the scans' claim for a
// rebuild, and where a random pick drawn ahead is taken from (null: none).
struct Pick {
  Viewer& viewer;
  SettingsBlock& settings;
  const ExtraSettings& extra;
  Scans& scans;
  bool (*take_ahead)(Viewer& viewer, SettingsBlock& settings, std::uint32_t* slot);
};
std::uint32_t pick_file(const Pick& pick, char path[kPathBytes], SelectMode mode,
                        std::int32_t index, RequestKind list_use);

// The decoding threads: one prepares the picture the next forward step will
// show, one decodes a picture shown reduced in full when it is needed
// (navigation/prefetch.cpp). Started and stopped by the worker, which does
// all else here but set_magnifying and want_full_size.
void prefetch_start(Viewer& viewer, const ExtraSettings& extra);
void prefetch_stop(Viewer& viewer);
// Throws the picture ahead away: the list, the mode or the folder changes.
void prefetch_discard(Viewer& viewer);
// In a random mode, takes the pick drawn ahead when it was drawn on the
// present list: writes its draw back and puts its slot in *slot. True when taken.
bool take_ahead_pick(Viewer& viewer, SettingsBlock& settings, std::uint32_t* slot);
// Shows the file at path (slot index of the list): the prepared picture when
// it is that file, unchanged on disk, else a decode (load_image).
void show_file(Viewer& viewer, const SettingsBlock& settings, const ExtraSettings& extra,
               const char* path, std::int32_t index);
// After a picture is shown: queues the next forward step's picture and, for
// a picture shown reduced, readies its full-size decode (for the magnifier,
// or for when the user stays on it).
void prefetch_next(Viewer& viewer, SettingsBlock& settings);
// The window thread's drag magnifies (on) or ended: while it magnifies, a
// reduced picture's full size is decoded at once.
void set_magnifying(Viewer& viewer, bool on);
// The reduced pixels no longer cover what the window shows (it grew): the
// full size is decoded at once.
void want_full_size(Viewer& viewer);

// Runs the viewer thread detached; it is never joined.
void start_viewer_thread(AppState& state);
// The thread's body: shows image_path, then ticks until a stop request.
void viewer_thread(AppState& state);
// One tick without its sleep; ticks counts the auto-advance ticks.
void viewer_tick(AppState& state, std::uint32_t& ticks);
// Serves the waiting request; then, when no step waits, every step asked
// for is served (served_serial) and a repaint is on its way.
void serve_request(AppState& state);
// The stop handshake: 667, a wait of up to ten sleeps for loader_busy, 2071.
void viewer_stop(AppState& state);
// Wakes the worker's sleep so a request or stop is served at once.
void wake_worker(WorkerProtocol& worker);
