// Picture decoding: an image file into a bitmap at its natural pixel size, or
// reduced where the decoder can do that cheaply (a JPEG's DCT scaling).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

// Core types passed along.
struct BitmapHeader;
struct PlatformBitmap;
// A picture file read into memory with its header parsed, not decoded yet.
struct PictureSource;

// Failure codes, as the core reports them.
constexpr std::uint32_t kPictureNotLoaded = 2;  // missing, unreadable or undecodable
constexpr std::uint32_t kPictureNoMemory = 8;
constexpr std::uint32_t kPictureCancelled = 10;  // stopped because it was no longer wanted
// The largest picture accepted, in pixels (16,384 x 16,384).
constexpr std::uint64_t kMaxPicturePixels = 1ull << 28;

struct PictureInfo {
  std::int32_t width;
  std::int32_t height;
  std::uint16_t planes;
  std::uint16_t bits_per_pixel;
};

// What the header says: the upright size (after the EXIF orientation), and 1
// when picture_decode can reduce the picture by 2, 4 or 8.
struct PictureFacts {
  std::int32_t width;
  std::int32_t height;
  std::int32_t reducible;
};

// Reads the file at path (any bytes) and its header. Returns the source, or
// null with *error set to kPictureNotLoaded or kPictureNoMemory; a picture
// larger than kMaxPicturePixels is not loaded.
PictureSource* picture_open(const char* path, std::uint32_t* error);
PictureFacts picture_facts(const PictureSource* source);
// How decoded colours are given: as the file stores them, or, for a picture
// that describes its colours (an ICC profile, PNG's colour chunks, HEIF's
// colour description), converted to the display's profile (sRGB where the
// display publishes none). An untagged picture is sRGB and comes out as
// stored either way.
enum class PictureColour { as_stored, managed };
// Decodes the source once, at 1/reduction of its size each way, rounded up
// (reduction 1, or 2, 4 or 8 for a reducible picture), turned upright, a
// GIF's first frame. Returns the bitmap, or null with *error set. A cancel
// flag that turns true stops a decode that can stop between its rows
// (JPEG's) with kPictureCancelled; others finish first.
PlatformBitmap* picture_decode(PictureSource* source, std::uint32_t reduction, PictureColour colour,
                               const std::atomic<bool>* cancel, std::uint32_t* error);
// The display's ICC profile, which managed colours are converted to; null or
// a profile that cannot be used means sRGB. Copied; any thread.
void picture_set_display_profile(const std::uint8_t* profile, std::size_t size);
// Frees a source; null is ignored.
void picture_close(PictureSource* source);

// Decodes the file at path (any bytes; JPEG turned upright by its EXIF
// orientation, a GIF's first frame). Returns the bitmap, or null with *error
// set to kPictureNotLoaded or kPictureNoMemory.
inline PlatformBitmap* load_picture_bitmap(const char* path, std::uint32_t* error,
                                           PictureColour colour = PictureColour::managed) {
  PictureSource* source = picture_open(path, error);
  if (source == nullptr) return nullptr;
  PlatformBitmap* bitmap = picture_decode(source, 1, colour, nullptr, error);
  picture_close(source);
  return bitmap;
}
// Size and depth of a decoded bitmap.
PictureInfo picture_info(const PlatformBitmap* bitmap);
// The decoded pixels, held by the bitmap until it is deleted (the one copy
// of them): bottom-up rows of 32-bit pixels (blue, green, red, unused), each
// width x 4 bytes. Null for a bitmap without pixels.
const std::uint8_t* picture_rows(const PlatformBitmap* bitmap);
// Deletes a bitmap (decoded picture or back buffer); null is ignored.
void delete_bitmap(PlatformBitmap* bitmap);
