// Image pipeline: the image buffer (load, free, the loader-busy claim), the
// paint geometry and the window title (image/title.cpp).
#pragma once

#include <cstdint>

#include "state/app_state.h"

// Title text of a file that cannot be shown; " - " and the path follow.
inline constexpr char kIncompatibleTitle[] = "Image Incompatable With Tessmira";
// Title bytes, terminator included.
constexpr std::uint32_t kTitleBytes = 2000;

// a x 100 / b: the product modulo 2^32, unsigned division; 0 when b is 0.
std::uint32_t percent_of(std::uint32_t a, std::uint32_t b);
// A text of more than 75 characters becomes "..." and its last 75 characters.
void shorten_path(char* text);

// Claims loader_busy: when it is held, waits six sleeps of 500 ms and tries
// once more. True when the caller now holds it, false when it stayed held.
bool claim_loader_busy(WorkerProtocol& worker);
// The reduction (1, 2, 4 or 8) a width x height picture decodes at for a
// client area: when it is fitted at 50% or less, the largest whose pixels
// still cover the fitted size; else 1.
std::uint32_t fit_reduction(std::int32_t client_width, std::int32_t client_height,
                            std::int32_t width, std::int32_t height);
// The memory budget of decoded pictures: at most the one shown, one prepared
// ahead and one full-size decode for the magnifier are held at once; and no
// picture is decoded ahead beyond this many pixels, counting those held.
constexpr std::int32_t kHeldPicturesBudget = 3;
constexpr std::uint64_t kPrefetchBudgetPixels = 256ull << 20;
// A budget that refuses nothing (the decoder's own limit stays).
constexpr std::uint64_t kUnboundedPixels = ~std::uint64_t{0};
// decode_picture's answer for a picture over its budget; nothing was decoded.
constexpr std::uint32_t kPictureOverBudget = 9;
// Decodes the picture at path into *picture: reduced for a client area of
// fit_width x fit_height as fit_reduction says (0 x 0: full size), within
// budget pixels; stopped when *cancel turns true. Returns 0, or a kPicture
// code with *picture empty.
std::uint32_t decode_picture(ImageView& image, const ExtraSettings& extra, const char* path,
                             std::int32_t fit_width, std::int32_t fit_height, std::uint64_t budget,
                             Picture* picture, const std::atomic<bool>* cancel = nullptr);
void free_picture(ImageView& image, Picture* picture);
// Deletes the bitmap of a decoded picture, counting it out of the pictures
// held; null is ignored.
void release_bitmap(ImageView& image, PlatformBitmap* bitmap);
// Whether the image's pixels are a reduced decode of it (fewer than its own
// size). Under image_lock.
inline bool pixels_reduced(const ImageView& image) {
  return image.pixel_buffer != nullptr && (image.image_header.width != image.image_width ||
                                           image.image_header.height != image.image_height);
}
// The shown picture's pixels are reduced and fewer than its fitted view in
// the client area draws (the window grew). Window thread.
bool larger_than_reduced(ImageView& image);
// Shows *picture (taken, left empty), decoded from path, in place of the
// current image. The caller holds loader_busy or otherwise owns the right to
// replace it.
void install_picture(ImageView& image, Picture* picture, const char* path);
// True when the file at path is still the one picture was decoded (or failed
// to decode) from: the same stamp.
bool picture_current(const Picture& picture, const char* path);
// Replaces the current image by the picture at path, reduced for the client
// size when a decoding thread is there to decode it in full next; a file that
// cannot be loaded (tried again only when it changed meanwhile) puts the
// failure title on the main window.
void load_image(Viewer& viewer, const SettingsBlock& settings, const ExtraSettings& extra,
                const char* path);
// What load_image shows for a file that cannot be loaded, without trying it:
// no image, the failure title.
void show_load_failure(Viewer& viewer, const SettingsBlock& settings, const char* path);
// Frees the current image and its pixels.
void free_image(ImageView& image);

// What one paint draws: the scale in percent and, when draw is 1, the image's
// target rectangle in the client area and the source origin (columns from
// the left, rows from the bottom).
struct PaintPlan {
  std::uint32_t scale;
  std::int32_t draw;
  std::int32_t target_x, target_y, target_width, target_height;
  std::int32_t source_x, source_y;
};
// Fitted view at zoom 0, magnified by 2^zoom with the pointer (pan) choosing
// the part shown. Draws nothing for a zero scale or client size.
PaintPlan plan_paint(std::int32_t client_width, std::int32_t client_height,
                     std::int32_t image_width, std::int32_t image_height, std::int32_t zoom_level,
                     std::int32_t pan_x, std::int32_t pan_y);
// The image's title: path (size @ scale%) folder [n of] count Files - Tessmira 1.0.
void build_title(Viewer& viewer, const SettingsBlock& settings, std::uint32_t scale,
                 char title[kTitleBytes]);
// Every title the window shows is built here, from the state: what
// title_kind says, with the image's scale as painted now.
void window_title(Viewer& viewer, const SettingsBlock& settings, char title[kTitleBytes]);
// Says what the title now tells (kind, and for a failure the file's path,
// else null) and puts the title on the window.
void show_title(Viewer& viewer, const SettingsBlock& settings, TitleKind kind, const char* path);
// Paints the client area through the back buffer and, while a file list is
// in use, sets the title.
void paint_window(Viewer& viewer, const SettingsBlock& settings);
