// What each decoder library's file gives the picture decoders: one row of
// the table decoder_for and the adapters read, and the bounds they share.
#pragma once

#include <QByteArray>
#include <QImage>
#include <atomic>
#include <cstdint>

#include "platform/qt/picture_decoders.h"

// One decoder library's adapter.
struct DecoderRow {
  PictureDecoder decoder;
  // Whether the bytes are for this decoder, by their first bytes; null for
  // one never chosen so.
  bool (*sniff)(const QByteArray& bytes);
  // The picture's upright size; null where the picture layer asks Qt.
  bool (*facts)(const QByteArray& bytes, PictureFacts* facts);
  // Decodes at 1/reduction into *image, its rows bottom-up, its colour tag
  // in *tag; 0, kPictureNotLoaded, kPictureNoMemory or kPictureCancelled.
  std::uint32_t (*decode)(const QByteArray& bytes, std::uint32_t reduction, PictureColour colour,
                          const std::atomic<bool>* cancel, QImage* image, ColourTag* tag);
};

extern const DecoderRow kHeifDecoder;      // libheif: HEIF and AVIF
extern const DecoderRow kJxlDecoder;       // libjxl: JPEG XL
extern const DecoderRow kCmykJpegDecoder;  // libjpeg: JPEGs of four inks
extern const DecoderRow kRgbJpegDecoder;   // libjpeg: JPEGs of RGB or grey

// A decoder of whole pictures only (reduction 1) as a row's decode: its
// rows turned bottom-up in place.
template <std::uint32_t (*whole)(const QByteArray& bytes, QImage* image, ColourTag* tag)>
std::uint32_t bottom_up(const QByteArray& bytes, std::uint32_t reduction, PictureColour,
                        const std::atomic<bool>*, QImage* image, ColourTag* tag) {
  if (reduction != 1) return kPictureNotLoaded;
  const std::uint32_t error = whole(bytes, image, tag);
  if (error == 0) image->mirror(false, true);
  return error;
}

// The widest side any decoder is let allocate for.
inline constexpr int kMostSide = 1 << 16;

inline bool too_many(std::int64_t width, std::int64_t height) {
  return width <= 0 || height <= 0 ||
         static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > kMaxPicturePixels;
}

inline const std::uint8_t* data_of(const QByteArray& bytes) {
  return reinterpret_cast<const std::uint8_t*>(bytes.constData());
}
