// The Linux picture layer's own adapters, beside Qt's readers: HEIF and AVIF
// through libheif, JPEG XL through libjxl, and CMYK JPEGs through libjpeg
// (whose inks Qt's reader cannot hand over for colour management). Each
// decodes the bytes already read, refuses a picture of more than
// kMaxPicturePixels before it holds any pixels, and gives opaque RGB32.
#pragma once

#include <QByteArray>
#include <QImage>
#include <atomic>
#include <cstdint>

#include "platform/qt/picture_colour.h"
#include "ports/picture.h"

// rgb_jpeg is never chosen by decoder_for: the picture layer takes it for
// every JPEG of RGB or grey that Qt's reader recognises, for its bands (a
// decode that stops when cancelled, colours converted while it decodes)
// and its rows written bottom-up.
enum class PictureDecoder { qt, heif, jxl, cmyk_jpeg, rgb_jpeg };

// Which decoder the bytes are for, by their first bytes: a HEIF brand, JPEG
// XL's signatures, a JPEG of four components; qt for the rest.
PictureDecoder decoder_for(const QByteArray& bytes);
// The picture's upright size (and, for a CMYK JPEG, reducible); false when
// the header is damaged or the picture too large.
bool adapter_facts(PictureDecoder decoder, const QByteArray& bytes, PictureFacts* facts);
// Decodes at 1/reduction (JPEG only; 1 for the others) into *image, its
// rows bottom-up, with its colour tag in *tag (a JPEG's colours are
// converted here, as colour says); a JPEG stops when *cancel turns true.
// 0, kPictureNotLoaded, kPictureNoMemory or kPictureCancelled.
std::uint32_t adapter_decode(PictureDecoder decoder, const QByteArray& bytes,
                             std::uint32_t reduction, PictureColour colour,
                             const std::atomic<bool>* cancel, QImage* image, ColourTag* tag);
// 32-bit pixels without alpha; transparent parts come out black, as the
// window's background.
QImage opaque(QImage image);
