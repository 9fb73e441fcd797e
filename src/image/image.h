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

// The depth a buffer is sized for, from the bitmap's planes x bits per pixel.
std::uint32_t standard_depth(std::uint32_t planes_times_bits);
// Bytes of the pixel buffer for an image: the larger of the width-rounded-to-8
// size and the padded rows the copy writes, in 64 bits.
std::uint64_t image_buffer_size(std::uint32_t width, std::uint32_t height,
                                std::uint32_t planes_times_bits);

// Claims loader_busy: when it is held, waits six sleeps of 500 ms and tries
// once more. 1 when the caller now holds it, 0 when it stayed held.
std::int32_t claim_loader_busy(AppState& state);
// Replaces the current image by the picture at path; a file that cannot be
// loaded twice puts the failure title on the main window.
void load_image(AppState& state, const char* path);
// Frees the current image and its pixels.
void free_image(AppState& state);

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
void build_title(AppState& state, std::uint32_t scale, char title[kTitleBytes]);
// Every title the window shows is built here, from the state: what
// title_kind says, with the image's scale as painted now.
void window_title(AppState& state, char title[kTitleBytes]);
// Says what the title now tells (kind, and for a failure the file's path,
// else null) and puts the title on the window.
void show_title(AppState& state, TitleKind kind, const char* path);
// Paints the client area through the back buffer and, while a file list is
// in use, sets the title.
void paint_window(AppState& state);
