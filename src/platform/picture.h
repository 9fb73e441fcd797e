// Picture decoding: an image file into a bitmap at its natural pixel size.
#pragma once

#include <cstdint>

// Core types passed along.
struct BitmapHeader;
struct PlatformBitmap;

// Failure codes, as the core reports them.
constexpr std::uint32_t kPictureNotLoaded = 2;  // missing, unreadable or undecodable
constexpr std::uint32_t kPictureNoMemory = 8;
// The largest picture accepted, in pixels (16,384 x 16,384).
constexpr std::uint64_t kMaxPicturePixels = 1ull << 28;

struct PictureInfo {
  std::int32_t width;
  std::int32_t height;
  std::uint16_t planes;
  std::uint16_t bits_per_pixel;
};

// Decodes the file at path (any bytes; JPEG turned upright by its EXIF
// orientation, a GIF's first frame). Returns the bitmap, or null with *error
// set to kPictureNotLoaded or kPictureNoMemory.
PlatformBitmap* load_picture_bitmap(const char* path, std::uint32_t* error);
// Size and depth of a decoded bitmap.
PictureInfo picture_info(const PlatformBitmap* bitmap);
// Copies the pixels into buffer as header describes them: bottom-up rows of
// 32-bit pixels (blue, green, red, unused), each row padded to 4 bytes.
// Returns 1, or 0 when the header does not match the bitmap.
std::int32_t picture_copy_rows(const PlatformBitmap* bitmap, std::uint8_t* buffer,
                               const BitmapHeader& header);
// Drops the decoded pixels, keeping the bitmap as the mark of a present image.
void picture_release_pixels(PlatformBitmap* bitmap);
// Deletes a bitmap (decoded picture or back buffer); null is ignored.
void delete_bitmap(PlatformBitmap* bitmap);
