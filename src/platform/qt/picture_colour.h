// What the Linux picture decoders share: how a picture says what its colours
// are, and the conversion of its pixels to the display's colours through
// Little CMS (platform/qt/picture_colour.cpp).
#pragma once

#include <QImage>
#include <cstdint>
#include <memory>
#include <vector>

#include "ports/picture.h"

// The curve a described colour space encodes its values with.
enum class ColourCurve { srgb, bt709, gamma };

// A picture's colours: untagged (sRGB), an embedded ICC profile, or a space
// described by its primaries and curve (PNG's cHRM and gAMA, HEIF's nclx).
struct ColourTag {
  std::vector<std::uint8_t> profile;  // an ICC profile, when one is embedded
  bool described = false;
  double white[2] = {}, red[2] = {}, green[2] = {}, blue[2] = {};  // CIE xy
  ColourCurve curve = ColourCurve::srgb;
  double gamma = 1.0;  // the decoding exponent of ColourCurve::gamma
};

// A conversion from a tag's colours to the display's (made once per pair of
// profiles and kept); its use is thread-safe.
struct Conversion;

// The conversion for the tag; null for an untagged picture or one whose
// profile cannot be used.
std::shared_ptr<const Conversion> display_conversion(const ColourTag& tag);
// Converts rows [first, last) of the opaque RGB32 image in place, on the
// calling thread.
void convert_rows(const Conversion& conversion, QImage& image, int first, int last);

// Whether the tag says anything but sRGB.
bool tagged(const ColourTag& tag);
// The described space of sRGB's primaries and white, with curve.
ColourTag srgb_primaries(ColourCurve curve, double gamma);
// Converts the opaque 32-bit pixels in place from the tag's colours to the
// display's; an untagged picture, or a profile that cannot be used, stays as
// it is.
void convert_to_display(QImage& image, const ColourTag& tag);
// 4-byte CMYK rows (inverted ones as Adobe's writers store them) into image,
// through the tag's profile when colour is managed and it is a CMYK one,
// else by the plain formula. image is RGB32 of the same size.
void convert_cmyk(const std::uint8_t* cmyk, bool inverted, const ColourTag& tag,
                  PictureColour colour, QImage& image);

// The ICC profile (or sRGB or gAMA/cHRM description) of PNG, JPEG and WebP
// bytes, where they hold one; untagged otherwise.
ColourTag find_colour_tag(const std::uint8_t* bytes, std::size_t size);
