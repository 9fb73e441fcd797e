// Colour management for the Linux decoders: the display's profile, the
// transforms from a picture's colours to it (made once per pair of profiles
// and kept), and the colour tags of the formats that Qt's readers decode.
#include "platform/qt/picture_colour.h"

#include <lcms2.h>
#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// The display-side table is indexed by linear light's float bits: 512 steps
// in each power of two from 2^-20 to 1, so that the dark end, where the
// curves are steep, gets its share (below 2^-20 is black to half a level).
constexpr std::uint32_t kLowestBits = 0x35800000u;  // 2^-20
constexpr int kStepShift = 14;                      // 9 of the 23 fraction bits
constexpr int kEncodedSteps = static_cast<int>((0x3F800000u - kLowestBits) >> kStepShift);

// A pair of RGB profiles that are each three curves and a matrix (most
// photo and display profiles, and every described space): converted by
// tables and one matrix, as Little CMS computes them, in a fraction of its
// 8-bit path's time.
struct ShaperMatrix {
  float linear[3][256];                        // the picture's value (R, G, B) to linear light
  float matrix[3][3];                          // the picture's linear RGB to the display's
  std::uint8_t encoded[3][kEncodedSteps + 1];  // the display's linear light to its value
};

struct Conversion {
  cmsHTRANSFORM transform = nullptr;     // Little CMS's, for every other pair
  std::unique_ptr<ShaperMatrix> shaper;  // or the tables, where both allow them
  Conversion() = default;
  Conversion(const Conversion&) = delete;
  Conversion& operator=(const Conversion&) = delete;
  ~Conversion() {
    if (transform != nullptr) cmsDeleteTransform(transform);
  }
};

namespace {

// No profile is larger in practice; a bigger one is not used.
constexpr std::size_t kMostProfileBytes = 16u << 20;
// Transforms kept; a folder rarely holds pictures of more profiles.
constexpr std::size_t kKeptTransforms = 8;
// Pictures of more pixels are converted on two threads.
constexpr std::int64_t kSplitPixels = 1 << 20;

// The layouts Little CMS reads and writes: QImage's RGB32 is B, G, R, A in
// memory; a grey picture, decoded to RGB32, is read from its blue byte.
constexpr cmsUInt32Number kGreyInBgra =
    COLORSPACE_SH(PT_GRAY) | CHANNELS_SH(1) | BYTES_SH(1) | EXTRA_SH(3);

struct Display {
  std::mutex lock;
  std::vector<std::uint8_t> profile;  // empty: sRGB
  std::uint64_t serial = 0;           // counts the profiles set
};
Display& display() {
  static Display value;
  return value;
}

using Transform = std::shared_ptr<const Conversion>;

struct KeptTransform {
  std::string key;  // the source's profile or description, and the input layout
  std::uint64_t display_serial;
  Transform transform;  // null: the pair cannot be converted
};
std::mutex kept_lock;
std::vector<KeptTransform> kept;  // the newest last

cmsHPROFILE described_profile(const ColourTag& tag) {
  const cmsCIExyY white = {tag.white[0], tag.white[1], 1.0};
  const cmsCIExyYTRIPLE primaries = {{tag.red[0], tag.red[1], 1.0},
                                     {tag.green[0], tag.green[1], 1.0},
                                     {tag.blue[0], tag.blue[1], 1.0}};
  cmsToneCurve* curve = nullptr;
  if (tag.curve == ColourCurve::gamma) {
    curve = cmsBuildGamma(nullptr, tag.gamma);
  } else {
    // Y = (aX + b)^g above d, cX below.
    const cmsFloat64Number srgb[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    const cmsFloat64Number bt709[5] = {1 / 0.45, 1 / 1.099, 0.099 / 1.099, 1 / 4.5, 0.081};
    curve = cmsBuildParametricToneCurve(nullptr, 4, tag.curve == ColourCurve::srgb ? srgb : bt709);
  }
  if (curve == nullptr) return nullptr;
  cmsToneCurve* curves[3] = {curve, curve, curve};
  cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
  cmsFreeToneCurve(curve);
  return profile;
}

cmsHPROFILE display_profile(const std::vector<std::uint8_t>& bytes) {
  if (!bytes.empty()) {
    cmsHPROFILE profile =
        cmsOpenProfileFromMem(bytes.data(), static_cast<cmsUInt32Number>(bytes.size()));
    if (profile != nullptr && cmsGetColorSpace(profile) == cmsSigRgbData &&
        cmsIsIntentSupported(profile, INTENT_PERCEPTUAL, LCMS_USED_AS_OUTPUT)) {
      return profile;
    }
    if (profile != nullptr) cmsCloseProfile(profile);
  }
  return cmsCreate_sRGBProfile();
}

// The input layout for a source profile, 0 when it does not fit the pixels.
cmsUInt32Number input_layout(cmsHPROFILE source, bool cmyk, bool inverted) {
  const cmsColorSpaceSignature space = cmsGetColorSpace(source);
  if (cmyk) {
    if (space != cmsSigCmykData) return 0;
    return inverted ? TYPE_CMYK_8_REV : TYPE_CMYK_8;
  }
  if (space == cmsSigRgbData) return TYPE_BGRA_8;
  if (space == cmsSigGrayData) return kGreyInBgra;
  return 0;
}

// Three curves and a matrix, and the same in every intent.
bool plain_shaper(cmsHPROFILE profile, cmsUInt32Number direction) {
  return cmsGetColorSpace(profile) == cmsSigRgbData && cmsIsMatrixShaper(profile) &&
         !cmsIsCLUT(profile, INTENT_PERCEPTUAL, direction);
}

// The colorants as the columns of a matrix from linear RGB to XYZ (D50).
bool colorants(cmsHPROFILE profile, double m[3][3]) {
  const cmsTagSignature tags[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag,
                                   cmsSigBlueColorantTag};
  for (int column = 0; column < 3; ++column) {
    const auto* xyz = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, tags[column]));
    if (xyz == nullptr) return false;
    m[0][column] = xyz->X;
    m[1][column] = xyz->Y;
    m[2][column] = xyz->Z;
  }
  return true;
}

bool inverted_matrix(const double m[3][3], double out[3][3]) {
  const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                     m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                     m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  if (std::fabs(det) < 1e-12) return false;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      // The cofactor of (c, r), over the determinant.
      const int r1 = (c + 1) % 3, r2 = (c + 2) % 3, c1 = (r + 1) % 3, c2 = (r + 2) % 3;
      out[r][c] = (m[r1][c1] * m[r2][c2] - m[r1][c2] * m[r2][c1]) / det;
    }
  }
  return true;
}

// The tables for a pair of plain shaper profiles; null when they cannot be made.
std::unique_ptr<ShaperMatrix> shaper_for(cmsHPROFILE source, cmsHPROFILE output) {
  if (!plain_shaper(source, LCMS_USED_AS_INPUT) || !plain_shaper(output, LCMS_USED_AS_OUTPUT)) {
    return nullptr;
  }
  double from[3][3];
  double to[3][3];
  double back[3][3];
  if (!colorants(source, from) || !colorants(output, to) || !inverted_matrix(to, back)) {
    return nullptr;
  }
  auto shaper = std::make_unique<ShaperMatrix>();
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      double sum = 0;
      for (int k = 0; k < 3; ++k) sum += back[r][k] * from[k][c];
      shaper->matrix[r][c] = static_cast<float>(sum);
    }
  }
  const cmsTagSignature curves[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
  for (int channel = 0; channel < 3; ++channel) {
    const auto* in = static_cast<const cmsToneCurve*>(cmsReadTag(source, curves[channel]));
    const auto* out = static_cast<const cmsToneCurve*>(cmsReadTag(output, curves[channel]));
    cmsToneCurve* reversed = out != nullptr ? cmsReverseToneCurve(out) : nullptr;
    if (in == nullptr || reversed == nullptr) {
      if (reversed != nullptr) cmsFreeToneCurve(reversed);
      return nullptr;
    }
    for (int v = 0; v < 256; ++v) {
      shaper->linear[channel][v] =
          cmsEvalToneCurveFloat(in, static_cast<cmsFloat32Number>(v / 255.0));
    }
    for (int step = 0; step <= kEncodedSteps; ++step) {
      // The middle of the step's range.
      const float linear =
          std::min(1.0f, std::bit_cast<float>(kLowestBits +
                                              (static_cast<std::uint32_t>(step) << kStepShift) +
                                              (1u << (kStepShift - 1))));
      const double value = cmsEvalToneCurveFloat(reversed, step == 0 ? 0.0f : linear);
      shaper->encoded[channel][step] =
          static_cast<std::uint8_t>(std::lround(std::clamp(value, 0.0, 1.0) * 255));
    }
    cmsFreeToneCurve(reversed);
  }
  return shaper;
}

// Converts rows of B, G, R, A pixels through the tables; alpha is kept.
void shape_rows(const ShaperMatrix& shaper, const std::uint8_t* in, std::size_t in_stride,
                std::uint8_t* out, std::size_t out_stride, int width, int first, int last) {
  const auto& m = shaper.matrix;
  const auto step = [&shaper](int channel, float value) {
    const auto bits = std::bit_cast<std::uint32_t>(std::clamp(value, 0.0f, 1.0f));
    return shaper.encoded[channel][bits < kLowestBits ? 0 : (bits - kLowestBits) >> kStepShift];
  };
  for (int y = first; y < last; ++y) {
    const std::uint8_t* p = in + in_stride * static_cast<std::size_t>(y);
    std::uint8_t* q = out + out_stride * static_cast<std::size_t>(y);
    for (int x = 0; x < width; ++x, p += 4, q += 4) {
      const float r = shaper.linear[0][p[2]];
      const float g = shaper.linear[1][p[1]];
      const float b = shaper.linear[2][p[0]];
      const std::uint8_t alpha = p[3];
      q[2] = step(0, m[0][0] * r + m[0][1] * g + m[0][2] * b);
      q[1] = step(1, m[1][0] * r + m[1][1] * g + m[1][2] * b);
      q[0] = step(2, m[2][0] * r + m[2][1] * g + m[2][2] * b);
      q[3] = alpha;
    }
  }
}

// The transform from the tag's colours to the display's, made on first use.
Transform transform_for(const ColourTag& tag, bool cmyk, bool inverted) {
  std::string key = tag.described ? "described" : "icc";
  key += cmyk ? (inverted ? "/cmyk-inverted/" : "/cmyk/") : "/rgb/";
  if (tag.described) {
    const double numbers[] = {
        tag.white[0], tag.white[1], tag.red[0],  tag.red[1], tag.green[0],
        tag.green[1], tag.blue[0],  tag.blue[1], tag.gamma,  static_cast<double>(tag.curve)};
    key.append(reinterpret_cast<const char*>(numbers), sizeof numbers);
  } else {
    key.append(reinterpret_cast<const char*>(tag.profile.data()), tag.profile.size());
  }
  std::vector<std::uint8_t> target;
  std::uint64_t serial = 0;
  {
    std::lock_guard<std::mutex> hold(display().lock);
    target = display().profile;
    serial = display().serial;
  }
  {
    std::lock_guard<std::mutex> hold(kept_lock);
    for (const KeptTransform& entry : kept) {
      if (entry.display_serial == serial && entry.key == key) return entry.transform;
    }
  }
  // Made outside the lock: a large profile takes a while.
  Transform made;
  cmsHPROFILE source =
      tag.described ? described_profile(tag)
                    : cmsOpenProfileFromMem(tag.profile.data(),
                                            static_cast<cmsUInt32Number>(tag.profile.size()));
  if (source != nullptr) {
    const cmsUInt32Number layout = input_layout(source, cmyk, inverted);
    cmsHPROFILE output = display_profile(target);
    if (layout != 0 && output != nullptr) {
      auto conversion = std::make_shared<Conversion>();
      if (!cmyk) conversion->shaper = shaper_for(source, output);
      if (conversion->shaper == nullptr) {
        // No cache of the last pixel: one transform serves several threads.
        // Four inks interpolate on a coarse grid: a finer one keeps them
        // within a level or two.
        const cmsUInt32Number flags =
            cmsFLAGS_NOCACHE | (cmyk ? cmsFLAGS_HIGHRESPRECALC : cmsUInt32Number{0});
        conversion->transform =
            cmsCreateTransform(source, layout, output, TYPE_BGRA_8, INTENT_PERCEPTUAL, flags);
      }
      if (conversion->shaper != nullptr || conversion->transform != nullptr) {
        made = std::move(conversion);
      }
    }
    if (output != nullptr) cmsCloseProfile(output);
    cmsCloseProfile(source);
  }
  std::lock_guard<std::mutex> hold(kept_lock);
  if (kept.size() >= kKeptTransforms) kept.erase(kept.begin());
  kept.push_back(KeptTransform{std::move(key), serial, made});
  return made;
}

// Runs the transform over rows [0, height) of in and out, in two halves on
// two threads for a large picture.
void run_rows(const Transform& transform, const std::uint8_t* in, std::size_t in_stride,
              std::uint8_t* out, std::size_t out_stride, int width, int height) {
  const auto rows = [&](int first, int last) {
    if (last <= first) return;
    if (transform->shaper != nullptr) {
      shape_rows(*transform->shaper, in, in_stride, out, out_stride, width, first, last);
      return;
    }
    cmsDoTransformLineStride(
        transform->transform, in + in_stride * static_cast<std::size_t>(first),
        out + out_stride * static_cast<std::size_t>(first), static_cast<cmsUInt32Number>(width),
        static_cast<cmsUInt32Number>(last - first), static_cast<cmsUInt32Number>(in_stride),
        static_cast<cmsUInt32Number>(out_stride), 0, 0);
  };
  if (static_cast<std::int64_t>(width) * height < kSplitPixels) {
    rows(0, height);
    return;
  }
  const int middle = height / 2;
  std::thread other(rows, middle, height);
  rows(0, middle);
  other.join();
}

bool near(double a, double b) {
  return std::fabs(a - b) < 0.01;
}

std::uint32_t big_endian(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}
std::uint32_t little_endian(const std::uint8_t* p) {
  return (std::uint32_t{p[3]} << 24) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) |
         p[0];
}

// Inflates a zlib stream of at most kMostProfileBytes; empty when damaged.
std::vector<std::uint8_t> inflated(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> out;
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) return out;
  stream.next_in = const_cast<Bytef*>(data);
  stream.avail_in = static_cast<uInt>(size);
  int status = Z_OK;
  std::uint8_t piece[16384];
  while (status == Z_OK) {
    stream.next_out = piece;
    stream.avail_out = sizeof piece;
    status = inflate(&stream, Z_NO_FLUSH);
    out.insert(out.end(), piece, piece + (sizeof piece - stream.avail_out));
    if (out.size() > kMostProfileBytes || (status == Z_BUF_ERROR && stream.avail_in == 0)) break;
  }
  inflateEnd(&stream);
  if (status != Z_STREAM_END) out.clear();
  return out;
}

ColourTag png_tag(const std::uint8_t* bytes, std::size_t size) {
  ColourTag tag;
  bool srgb = false;
  std::uint32_t gamma = 0;
  double chromaticities[8] = {};
  bool chrm = false;
  std::size_t at = 8;
  while (at + 12 <= size) {
    const std::uint32_t length = big_endian(bytes + at);
    const std::uint8_t* type = bytes + at + 4;
    const std::uint8_t* data = bytes + at + 8;
    if (length > size - at - 12 || std::memcmp(type, "IDAT", 4) == 0) break;
    if (std::memcmp(type, "iCCP", 4) == 0) {
      // A name of 1 to 79 bytes, its NUL, the compression method (0), the stream.
      const auto* end = static_cast<const std::uint8_t*>(std::memchr(data, 0, length));
      if (end != nullptr && end + 2 <= data + length && end[1] == 0) {
        tag.profile = inflated(end + 2, static_cast<std::size_t>(data + length - end - 2));
      }
    } else if (std::memcmp(type, "sRGB", 4) == 0) {
      srgb = true;
    } else if (std::memcmp(type, "gAMA", 4) == 0 && length == 4) {
      gamma = big_endian(data);
    } else if (std::memcmp(type, "cHRM", 4) == 0 && length == 32) {
      for (std::size_t i = 0; i < 8; ++i) chromaticities[i] = big_endian(data + 4 * i) / 100000.0;
      chrm = true;
    }
    at += 12 + length;
  }
  // An embedded profile first, then sRGB's mark, then the description.
  if (!tag.profile.empty() || srgb || (gamma == 0 && !chrm)) return tag;
  tag = srgb_primaries(gamma != 0 ? ColourCurve::gamma : ColourCurve::srgb,
                       gamma != 0 ? 100000.0 / gamma : 1.0);
  if (chrm && chromaticities[0] > 0 && chromaticities[1] > 0) {
    std::copy(chromaticities, chromaticities + 2, tag.white);
    std::copy(chromaticities + 2, chromaticities + 4, tag.red);
    std::copy(chromaticities + 4, chromaticities + 6, tag.green);
    std::copy(chromaticities + 6, chromaticities + 8, tag.blue);
  }
  // The many writers that mark sRGB as gamma 1/2.2 with sRGB's primaries.
  const ColourTag srgb_like = srgb_primaries(ColourCurve::srgb, 1.0);
  if ((gamma == 0 || (gamma >= 45000 && gamma <= 46000)) &&
      near(tag.white[0], srgb_like.white[0]) && near(tag.white[1], srgb_like.white[1]) &&
      near(tag.red[0], srgb_like.red[0]) && near(tag.red[1], srgb_like.red[1]) &&
      near(tag.green[0], srgb_like.green[0]) && near(tag.green[1], srgb_like.green[1]) &&
      near(tag.blue[0], srgb_like.blue[0]) && near(tag.blue[1], srgb_like.blue[1])) {
    return ColourTag{};
  }
  if (tag.white[1] <= 0 || tag.red[1] <= 0 || tag.green[1] <= 0 || tag.blue[1] <= 0 ||
      tag.gamma <= 0 || tag.gamma > 10) {
    return ColourTag{};  // a damaged description: taken as sRGB
  }
  return tag;
}

ColourTag jpeg_tag(const std::uint8_t* bytes, std::size_t size) {
  // APP2 "ICC_PROFILE\0", sequence number, count, then the piece.
  std::vector<std::vector<std::uint8_t>> pieces;
  std::size_t at = 2;
  while (at + 4 <= size && bytes[at] == 0xFF) {
    const std::uint8_t marker = bytes[at + 1];
    if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
      at += 2;
      continue;
    }
    if (marker == 0xDA || marker == 0xD9) break;
    const std::size_t length = (std::size_t{bytes[at + 2]} << 8) | bytes[at + 3];
    if (length < 2 || at + 2 + length > size) break;
    const std::uint8_t* data = bytes + at + 4;
    if (marker == 0xE2 && length >= 16 && std::memcmp(data, "ICC_PROFILE\0", 12) == 0) {
      const std::size_t number = data[12];
      const std::size_t count = data[13];
      if (count == 0 || number == 0 || number > count) return ColourTag{};
      pieces.resize(std::max(pieces.size(), count));
      if (pieces.size() != count) return ColourTag{};
      pieces[number - 1].assign(data + 14, data + length - 2);
    }
    at += 2 + length;
  }
  ColourTag tag;
  for (const std::vector<std::uint8_t>& piece : pieces) {
    if (piece.empty()) return ColourTag{};  // a piece is missing
    tag.profile.insert(tag.profile.end(), piece.begin(), piece.end());
  }
  return tag;
}

ColourTag webp_tag(const std::uint8_t* bytes, std::size_t size) {
  ColourTag tag;
  std::size_t at = 12;
  while (at + 8 <= size) {
    const std::uint32_t length = little_endian(bytes + at + 4);
    if (length > size - at - 8) break;
    if (std::memcmp(bytes + at, "ICCP", 4) == 0) {
      tag.profile.assign(bytes + at + 8, bytes + at + 8 + length);
      break;
    }
    at += 8 + length + (length & 1);
  }
  return tag;
}

}  // namespace

void picture_set_display_profile(const std::uint8_t* profile, std::size_t size) {
  std::lock_guard<std::mutex> hold(display().lock);
  if (profile == nullptr || size > kMostProfileBytes) size = 0;
  display().profile.assign(profile, profile + size);
  ++display().serial;
}

bool tagged(const ColourTag& tag) {
  return tag.described || !tag.profile.empty();
}

ColourTag srgb_primaries(ColourCurve curve, double gamma) {
  ColourTag tag;
  tag.described = true;
  tag.white[0] = 0.3127;
  tag.white[1] = 0.3290;
  tag.red[0] = 0.64;
  tag.red[1] = 0.33;
  tag.green[0] = 0.30;
  tag.green[1] = 0.60;
  tag.blue[0] = 0.15;
  tag.blue[1] = 0.06;
  tag.curve = curve;
  tag.gamma = gamma;
  return tag;
}

std::shared_ptr<const Conversion> display_conversion(const ColourTag& tag) {
  if (!tagged(tag) || tag.profile.size() > kMostProfileBytes) return nullptr;
  return transform_for(tag, false, false);
}

void convert_rows(const Conversion& conversion, QImage& image, int first, int last) {
  const auto stride = static_cast<std::size_t>(image.bytesPerLine());
  // In place: bits() would detach a shared image, but this one is the caller's alone.
  std::uint8_t* pixels = image.bits();
  if (conversion.shaper != nullptr) {
    shape_rows(*conversion.shaper, pixels, stride, pixels, stride, image.width(), first, last);
    return;
  }
  cmsDoTransformLineStride(
      conversion.transform, pixels + stride * static_cast<std::size_t>(first),
      pixels + stride * static_cast<std::size_t>(first),
      static_cast<cmsUInt32Number>(image.width()), static_cast<cmsUInt32Number>(last - first),
      static_cast<cmsUInt32Number>(stride), static_cast<cmsUInt32Number>(stride), 0, 0);
}

void convert_to_display(QImage& image, const ColourTag& tag) {
  if (!tagged(tag) || tag.profile.size() > kMostProfileBytes || image.isNull()) return;
  const Transform transform = transform_for(tag, false, false);
  if (transform == nullptr) return;
  image.detach();
  const auto stride = static_cast<std::size_t>(image.bytesPerLine());
  run_rows(transform, image.constBits(), stride, image.bits(), stride, image.width(),
           image.height());
}

void convert_cmyk(const std::uint8_t* cmyk, bool inverted, const ColourTag& tag,
                  PictureColour colour, QImage& image) {
  const int width = image.width();
  const int height = image.height();
  image.fill(Qt::black);  // the alpha bytes the transform leaves
  const auto in_stride = static_cast<std::size_t>(width) * 4;
  if (colour == PictureColour::managed && !tag.profile.empty()) {
    const Transform transform = transform_for(tag, true, inverted);
    if (transform != nullptr) {
      run_rows(transform, cmyk, in_stride, image.bits(),
               static_cast<std::size_t>(image.bytesPerLine()), width, height);
      return;
    }
  }
  // Without a profile: each ink takes its share of white away.
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* in = cmyk + in_stride * static_cast<std::size_t>(y);
    auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < width; ++x, in += 4) {
      int c = in[0], m = in[1], ye = in[2], k = in[3];
      if (!inverted) {
        c = 255 - c;
        m = 255 - m;
        ye = 255 - ye;
        k = 255 - k;
      }
      out[x] = qRgb(c * k / 255, m * k / 255, ye * k / 255);
    }
  }
}

ColourTag find_colour_tag(const std::uint8_t* bytes, std::size_t size) {
  if (size >= 8 && std::memcmp(bytes, "\x89PNG\r\n\x1a\n", 8) == 0) return png_tag(bytes, size);
  if (size >= 4 && bytes[0] == 0xFF && bytes[1] == 0xD8) return jpeg_tag(bytes, size);
  if (size >= 12 && std::memcmp(bytes, "RIFF", 4) == 0 && std::memcmp(bytes + 8, "WEBP", 4) == 0) {
    return webp_tag(bytes, size);
  }
  return ColourTag{};
}
