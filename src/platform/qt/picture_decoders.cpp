// HEIF/AVIF, JPEG XL and CMYK JPEG adapters for the Linux picture layer.
#include "platform/qt/picture_decoders.h"

#include <jxl/decode.h>
#include <libheif/heif.h>

#include <QBuffer>
#include <QImageIOHandler>
#include <QImageReader>
#include <QTransform>
#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>
// After cstdio, which it needs.
#include <jpeglib.h>
#include <csetjmp>

namespace {

// The widest side any decoder is let allocate for.
constexpr int kMostSide = 1 << 16;

bool too_many(std::int64_t width, std::int64_t height) {
  return width <= 0 || height <= 0 ||
         static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > kMaxPicturePixels;
}

const std::uint8_t* data_of(const QByteArray& bytes) {
  return reinterpret_cast<const std::uint8_t*>(bytes.constData());
}

// --- HEIF and AVIF --------------------------------------------------------

struct HeifHandle {
  heif_context* context = heif_context_alloc();
  heif_image_handle* handle = nullptr;
  ~HeifHandle() {
    if (handle != nullptr) heif_image_handle_release(handle);
    heif_context_free(context);
  }
  // The primary picture of the bytes; false when they hold none.
  bool open(const QByteArray& bytes) {
    if (context == nullptr) return false;
    heif_context_set_maximum_image_size_limit(context, kMostSide);
    return heif_context_read_from_memory_without_copy(
               context, bytes.constData(), static_cast<std::size_t>(bytes.size()), nullptr)
                   .code == heif_error_Ok &&
           heif_context_get_primary_image_handle(context, &handle).code == heif_error_Ok;
  }
};

ColourTag heif_tag(const heif_image_handle* handle) {
  ColourTag tag;
  const heif_color_profile_type type = heif_image_handle_get_color_profile_type(handle);
  if (type == heif_color_profile_type_prof || type == heif_color_profile_type_rICC) {
    const std::size_t size = heif_image_handle_get_raw_color_profile_size(handle);
    tag.profile.resize(size);
    if (size == 0 ||
        heif_image_handle_get_raw_color_profile(handle, tag.profile.data()).code != heif_error_Ok) {
      tag.profile.clear();
    }
    return tag;
  }
  heif_color_profile_nclx* nclx = nullptr;
  if (heif_image_handle_get_nclx_color_profile(handle, &nclx).code != heif_error_Ok ||
      nclx == nullptr) {
    return tag;
  }
  const int primaries = nclx->color_primaries;
  const int transfer = nclx->transfer_characteristics;
  // BT.709's primaries are sRGB's; 2 is "unspecified".
  const bool srgb_primaries = primaries == 1 || primaries == 2;
  const bool srgb_curve = transfer == 13 || transfer == 2;
  if (!(srgb_primaries && srgb_curve) && nclx->color_primary_white_y > 0) {
    tag.described = true;
    tag.white[0] = nclx->color_primary_white_x;
    tag.white[1] = nclx->color_primary_white_y;
    tag.red[0] = nclx->color_primary_red_x;
    tag.red[1] = nclx->color_primary_red_y;
    tag.green[0] = nclx->color_primary_green_x;
    tag.green[1] = nclx->color_primary_green_y;
    tag.blue[0] = nclx->color_primary_blue_x;
    tag.blue[1] = nclx->color_primary_blue_y;
    if (transfer == 1 || transfer == 6 || transfer == 14 || transfer == 15) {
      tag.curve = ColourCurve::bt709;
    } else if (transfer == 4 || transfer == 5 || transfer == 8) {
      tag.curve = ColourCurve::gamma;
      tag.gamma = transfer == 4 ? 2.2 : transfer == 5 ? 2.8 : 1.0;
    }
  }
  heif_nclx_color_profile_free(nclx);
  return tag;
}

bool heif_facts(const QByteArray& bytes, PictureFacts* facts) {
  HeifHandle heif;
  if (!heif.open(bytes)) return false;
  // The size after the file's own turns and mirrors, which decoding applies.
  facts->width = heif_image_handle_get_width(heif.handle);
  facts->height = heif_image_handle_get_height(heif.handle);
  facts->reducible = 0;
  return !too_many(facts->width, facts->height);
}

std::uint32_t heif_decode(const QByteArray& bytes, QImage* image, ColourTag* tag) {
  HeifHandle heif;
  if (!heif.open(bytes) || too_many(heif_image_handle_get_width(heif.handle),
                                    heif_image_handle_get_height(heif.handle))) {
    return kPictureNotLoaded;
  }
  const bool alpha = heif_image_handle_has_alpha_channel(heif.handle) != 0;
  heif_image* decoded = nullptr;
  if (heif_decode_image(heif.handle, &decoded, heif_colorspace_RGB,
                        alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, nullptr)
              .code != heif_error_Ok ||
      decoded == nullptr) {
    return kPictureNotLoaded;
  }
  const std::unique_ptr<heif_image, void (*)(const heif_image*)> held(decoded, heif_image_release);
  int stride = 0;
  const std::uint8_t* plane =
      heif_image_get_plane_readonly(decoded, heif_channel_interleaved, &stride);
  const int width = heif_image_get_width(decoded, heif_channel_interleaved);
  const int height = heif_image_get_height(decoded, heif_channel_interleaved);
  if (plane == nullptr || too_many(width, height)) return kPictureNotLoaded;
  // A view of libheif's pixels, copied by the conversion.
  *image = opaque(QImage(plane, width, height, stride,
                         alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888));
  if (image->isNull()) return kPictureNoMemory;
  *tag = heif_tag(heif.handle);
  return 0;
}

// --- JPEG XL --------------------------------------------------------------

using JxlHeld = std::unique_ptr<JxlDecoder, void (*)(JxlDecoder*)>;

// The decoder over the bytes, wanting events; null without memory.
JxlHeld jxl_decoder(const QByteArray& bytes, int events) {
  JxlHeld decoder(JxlDecoderCreate(nullptr), JxlDecoderDestroy);
  if (decoder == nullptr || JxlDecoderSubscribeEvents(decoder.get(), events) != JXL_DEC_SUCCESS ||
      JxlDecoderSetInput(decoder.get(), data_of(bytes), static_cast<std::size_t>(bytes.size())) !=
          JXL_DEC_SUCCESS) {
    return JxlHeld(nullptr, JxlDecoderDestroy);
  }
  JxlDecoderCloseInput(decoder.get());
  return decoder;
}

// The upright size from the basic information (libjxl turns the pixels).
bool jxl_upright(const JxlBasicInfo& info, PictureFacts* facts) {
  const bool turned = info.orientation >= JXL_ORIENT_TRANSPOSE;
  facts->width = static_cast<std::int32_t>(turned ? info.ysize : info.xsize);
  facts->height = static_cast<std::int32_t>(turned ? info.xsize : info.ysize);
  facts->reducible = 0;
  return info.xsize <= static_cast<std::uint32_t>(kMostSide) &&
         info.ysize <= static_cast<std::uint32_t>(kMostSide) && !too_many(info.xsize, info.ysize);
}

bool jxl_facts(const QByteArray& bytes, PictureFacts* facts) {
  JxlHeld decoder = jxl_decoder(bytes, JXL_DEC_BASIC_INFO);
  JxlBasicInfo info{};
  return decoder != nullptr && JxlDecoderProcessInput(decoder.get()) == JXL_DEC_BASIC_INFO &&
         JxlDecoderGetBasicInfo(decoder.get(), &info) == JXL_DEC_SUCCESS &&
         jxl_upright(info, facts);
}

ColourTag jxl_tag(const JxlDecoder* decoder) {
  ColourTag tag;
  JxlColorEncoding encoding{};
  if (JxlDecoderGetColorAsEncodedProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                         &encoding) == JXL_DEC_SUCCESS &&
      encoding.color_space != JXL_COLOR_SPACE_XYB && encoding.white_point == JXL_WHITE_POINT_D65 &&
      (encoding.color_space == JXL_COLOR_SPACE_GRAY || encoding.primaries == JXL_PRIMARIES_SRGB) &&
      (encoding.transfer_function == JXL_TRANSFER_FUNCTION_SRGB ||
       // sRGB as the many writers mark it, gamma 1/2.2 (as PNG's gAMA is read)
       (encoding.transfer_function == JXL_TRANSFER_FUNCTION_GAMMA && encoding.gamma >= 0.45 &&
        encoding.gamma <= 0.46))) {
    return tag;  // sRGB itself
  }
  std::size_t size = 0;
  if (JxlDecoderGetICCProfileSize(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &size) ==
          JXL_DEC_SUCCESS &&
      size > 0) {
    tag.profile.resize(size);
    if (JxlDecoderGetColorAsICCProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                       tag.profile.data(), size) != JXL_DEC_SUCCESS) {
      tag.profile.clear();
    }
  }
  return tag;
}

std::uint32_t jxl_decode(const QByteArray& bytes, QImage* image, ColourTag* tag) {
  JxlHeld decoder =
      jxl_decoder(bytes, JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE);
  if (decoder == nullptr) return kPictureNoMemory;
  JxlBasicInfo info{};
  PictureFacts facts{};
  // Grey pictures come as grey and alpha, the others as RGBA.
  JxlPixelFormat format{4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
  QImage pixels;
  for (;;) {
    const JxlDecoderStatus status = JxlDecoderProcessInput(decoder.get());
    if (status == JXL_DEC_BASIC_INFO) {
      if (JxlDecoderGetBasicInfo(decoder.get(), &info) != JXL_DEC_SUCCESS ||
          !jxl_upright(info, &facts)) {
        return kPictureNotLoaded;
      }
    } else if (status == JXL_DEC_COLOR_ENCODING) {
      *tag = jxl_tag(decoder.get());
    } else if (status == JXL_DEC_NEED_IMAGE_OUT_BUFFER) {
      if (info.num_color_channels == 1) format.num_channels = 2;
      std::size_t size = 0;
      pixels = QImage(facts.width, facts.height,
                      format.num_channels == 4 ? QImage::Format_RGBA8888 : QImage::Format_RGB32);
      if (pixels.isNull()) return kPictureNoMemory;
      // Grey and alpha pairs go into the first half of each RGB32 row, and are
      // spread over it below.
      format.align = static_cast<std::size_t>(pixels.bytesPerLine());
      if (JxlDecoderImageOutBufferSize(decoder.get(), &format, &size) != JXL_DEC_SUCCESS ||
          size > static_cast<std::size_t>(pixels.sizeInBytes()) ||
          JxlDecoderSetImageOutBuffer(decoder.get(), &format, pixels.bits(),
                                      static_cast<std::size_t>(pixels.sizeInBytes())) !=
              JXL_DEC_SUCCESS) {
        return kPictureNotLoaded;
      }
    } else if (status == JXL_DEC_FULL_IMAGE) {
      break;  // the first frame
    } else {
      return kPictureNotLoaded;  // damaged, cut short or not JPEG XL
    }
  }
  if (pixels.isNull()) return kPictureNotLoaded;
  if (format.num_channels == 2) {
    for (int y = 0; y < pixels.height(); ++y) {
      std::uint8_t* row = pixels.scanLine(y);
      auto* out = reinterpret_cast<QRgb*>(row);
      for (int x = pixels.width() - 1; x >= 0; --x) {
        const auto at = 2 * static_cast<std::size_t>(x);
        const int grey = row[at] * row[at + 1] / 255;  // over black
        out[x] = qRgb(grey, grey, grey);
      }
    }
  }
  *image = opaque(std::move(pixels));
  return image->isNull() ? kPictureNoMemory : 0;
}

// --- CMYK JPEG ------------------------------------------------------------

struct JpegFailure {
  jpeg_error_mgr manager;
  std::jmp_buf back;
};

// libjpeg's way back from an error; an exception must not cross its C frames.
void jpeg_failed(j_common_ptr info) {
  // NOLINTNEXTLINE(cert-err52-cpp): libjpeg's error protocol
  std::longjmp(reinterpret_cast<JpegFailure*>(info->err)->back, 1);
}
void jpeg_quiet(j_common_ptr, int) {}

// The number of components of the JPEG's frame, 0 when there is none.
int jpeg_components(const QByteArray& bytes) {
  const std::uint8_t* data = data_of(bytes);
  const auto size = static_cast<std::size_t>(bytes.size());
  if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return 0;
  std::size_t at = 2;
  while (at + 4 <= size && data[at] == 0xFF) {
    const std::uint8_t marker = data[at + 1];
    if (marker == 0xFF) {
      ++at;
      continue;
    }
    const std::size_t length = (std::size_t{data[at + 2]} << 8) | data[at + 3];
    // SOF0..SOF15 but DHT (C4), JPG (C8) and DAC (CC).
    if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
      return at + 9 < size ? data[at + 9] : 0;
    }
    if (marker == 0xDA || length < 2) return 0;
    at += 2 + length;
  }
  return 0;
}

// The EXIF orientation Qt's reader finds in the bytes.
QImageIOHandler::Transformations jpeg_orientation(const QByteArray& bytes) {
  QByteArray copy = bytes;  // shared, not copied
  QBuffer buffer(&copy);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, "jpeg");
  return reader.transformation();
}

QImage turned_upright(const QImage& image, QImageIOHandler::Transformations turn) {
  if (turn == QImageIOHandler::TransformationRotate270) {
    return image.transformed(QTransform().rotate(270));
  }
  QImage out = image.mirrored((turn & QImageIOHandler::TransformationMirror) != 0,
                              (turn & QImageIOHandler::TransformationFlip) != 0);
  if ((turn & QImageIOHandler::TransformationRotate90) != 0) {
    out = out.transformed(QTransform().rotate(90));
  }
  return out;
}

// Opens the bytes in info; false when their header is damaged or the
// components are not what is asked for (four inks or not).
bool jpeg_begin(jpeg_decompress_struct& info, const QByteArray& bytes, bool cmyk) {
  jpeg_mem_src(&info, data_of(bytes), static_cast<unsigned long>(bytes.size()));
  return jpeg_read_header(&info, TRUE) == JPEG_HEADER_OK && (info.num_components == 4) == cmyk &&
         info.num_components != 2;
}

bool cmyk_facts(const QByteArray& bytes, PictureFacts* facts) {
  jpeg_decompress_struct info{};
  JpegFailure failure{};
  info.err = jpeg_std_error(&failure.manager);
  failure.manager.error_exit = jpeg_failed;
  failure.manager.emit_message = jpeg_quiet;
  volatile bool sound = false;
  jpeg_create_decompress(&info);
  // NOLINTNEXTLINE(cert-err52-cpp): libjpeg's error protocol
  if (setjmp(failure.back) == 0 && jpeg_begin(info, bytes, true)) {
    sound = !too_many(info.image_width, info.image_height);
    const bool turned = (jpeg_orientation(bytes) & QImageIOHandler::TransformationRotate90) != 0;
    facts->width = static_cast<std::int32_t>(turned ? info.image_height : info.image_width);
    facts->height = static_cast<std::int32_t>(turned ? info.image_width : info.image_height);
    facts->reducible = 1;
  }
  jpeg_destroy_decompress(&info);
  return sound;
}

// Where read_jpeg puts the rows: 4 bytes a pixel, the inks of a CMYK JPEG,
// else B, G, R and 0xFF.
struct JpegRows {
  bool cmyk = false;
  bool bottom_up = false;                     // the first row placed is the picture's last
  std::uint32_t reduction = 1;                // the DCT's own scaling: 1, 2, 4 or 8
  const std::atomic<bool>* cancel = nullptr;  // asked after every band
  // Once the size is known: the first row's place (rows follow at width x
  // 4 bytes), or null without memory.
  std::uint8_t* (*place)(void* context, int width, int height, bool inverted) = nullptr;
  // After every band of rows, with the count decoded so far.
  void (*band)(void* context, int rows) = nullptr;
  void* context = nullptr;
};

// Rows decoded between two calls of JpegRows::band.
constexpr int kBandRows = 64;

// Decodes the JPEG into the rows' place; 0, kPictureNotLoaded,
// kPictureNoMemory or kPictureCancelled.
std::uint32_t read_jpeg(const QByteArray& bytes, const JpegRows& rows) {
  jpeg_decompress_struct info{};
  JpegFailure failure{};
  info.err = jpeg_std_error(&failure.manager);
  failure.manager.error_exit = jpeg_failed;
  failure.manager.emit_message = jpeg_quiet;
  volatile std::uint32_t error = kPictureNotLoaded;
  jpeg_create_decompress(&info);
  // NOLINTNEXTLINE(cert-err52-cpp): libjpeg's error protocol
  if (setjmp(failure.back) == 0 && jpeg_begin(info, bytes, rows.cmyk) &&
      !too_many(info.image_width, info.image_height)) {
    info.out_color_space = rows.cmyk ? JCS_CMYK : JCS_EXT_BGRX;
    info.scale_num = 1;
    info.scale_denom = rows.reduction;
    jpeg_start_decompress(&info);
    const int width = static_cast<int>(info.output_width);
    // Adobe's writers store the inks inverted, and mark their files.
    std::uint8_t* first = rows.place(rows.context, width, static_cast<int>(info.output_height),
                                     info.saw_Adobe_marker != 0);
    if (first == nullptr) {
      error = kPictureNoMemory;
    } else {
      const std::size_t stride = static_cast<std::size_t>(width) * 4;
      const JDIMENSION last = info.output_height - 1;
      bool cancelled = false;
      while (info.output_scanline < info.output_height && !cancelled) {
        const JDIMENSION band_end =
            std::min<JDIMENSION>(info.output_height, info.output_scanline + kBandRows);
        while (info.output_scanline < band_end) {
          const JDIMENSION row =
              rows.bottom_up ? last - info.output_scanline : info.output_scanline;
          JSAMPROW line = first + stride * row;
          jpeg_read_scanlines(&info, &line, 1);
        }
        if (rows.band != nullptr) rows.band(rows.context, static_cast<int>(band_end));
        cancelled = rows.cancel != nullptr && rows.cancel->load(std::memory_order_relaxed);
      }
      if (cancelled) {
        jpeg_abort_decompress(&info);
        error = kPictureCancelled;
      } else {
        jpeg_finish_decompress(&info);
        error = 0;
      }
    }
  }
  jpeg_destroy_decompress(&info);
  return error;
}

std::uint32_t cmyk_decode(const QByteArray& bytes, std::uint32_t reduction, PictureColour colour,
                          const std::atomic<bool>* cancel, QImage* image, ColourTag* tag) {
  struct Inks {
    std::vector<std::uint8_t> bytes;
    int width = 0;
    int height = 0;
    bool inverted = false;
  } inks;
  JpegRows rows;
  rows.cmyk = true;
  rows.reduction = reduction;
  rows.cancel = cancel;
  rows.context = &inks;
  rows.place = [](void* context, int width, int height, bool inverted) -> std::uint8_t* {
    auto* held = static_cast<Inks*>(context);
    held->width = width;
    held->height = height;
    held->inverted = inverted;
    try {
      held->bytes.resize(static_cast<std::size_t>(width) * 4 * static_cast<std::size_t>(height));
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
    return held->bytes.data();
  };
  const std::uint32_t error = read_jpeg(bytes, rows);
  if (error != 0) return error;
  QImage pixels(inks.width, inks.height, QImage::Format_RGB32);
  if (pixels.isNull()) return kPictureNoMemory;
  const ColourTag found = find_colour_tag(data_of(bytes), static_cast<std::size_t>(bytes.size()));
  convert_cmyk(inks.bytes.data(), inks.inverted, found, colour, pixels);
  *image = turned_upright(pixels, jpeg_orientation(bytes));
  *tag = ColourTag{};  // converted already
  return image->isNull() ? kPictureNoMemory : 0;
}

// A JPEG of RGB or grey, its rows bottom-up (upright ones decode so); the
// colours of a tagged one converted band by band on a second thread while
// later bands decode, so that the conversion costs little more than its last
// band.
std::uint32_t rgb_jpeg_decode(const QByteArray& bytes, std::uint32_t reduction,
                              const ColourTag& found, const std::atomic<bool>* cancel,
                              QImage* image) {
  struct Pipeline {
    QImage pixels;
    std::shared_ptr<const Conversion> conversion;
    std::mutex lock;
    std::condition_variable signal;
    int ready = 0;  // rows decoded
    bool ended = false;
    bool bottom_up = false;
    std::thread converter;
    void convert() {
      int done = 0;
      for (;;) {
        std::unique_lock<std::mutex> hold(lock);
        signal.wait(hold, [this, done] { return ready > done || ended; });
        const int upto = ready;
        const bool last = ended;
        hold.unlock();
        if (upto > done) {
          const int height = pixels.height();
          // Band rows count from the top, the image's from the bottom.
          if (bottom_up) {
            convert_rows(*conversion, pixels, height - upto, height - done);
          } else {
            convert_rows(*conversion, pixels, done, upto);
          }
        }
        done = upto;
        if (last && done >= upto) return;
      }
    }
  } pipeline;
  pipeline.conversion = display_conversion(found);
  const QImageIOHandler::Transformations turn = jpeg_orientation(bytes);
  pipeline.bottom_up = turn == QImageIOHandler::TransformationNone;
  JpegRows rows;
  rows.reduction = reduction;
  rows.bottom_up = pipeline.bottom_up;
  rows.cancel = cancel;
  rows.context = &pipeline;
  rows.place = [](void* context, int width, int height, bool) -> std::uint8_t* {
    auto* held = static_cast<Pipeline*>(context);
    held->pixels = QImage(width, height, QImage::Format_RGB32);
    if (held->pixels.isNull()) return nullptr;
    if (held->conversion != nullptr) held->converter = std::thread(&Pipeline::convert, held);
    return held->pixels.bits();
  };
  rows.band = [](void* context, int done) {
    auto* held = static_cast<Pipeline*>(context);
    if (held->conversion == nullptr) return;
    {
      std::lock_guard<std::mutex> hold(held->lock);
      held->ready = done;
    }
    held->signal.notify_one();
  };
  const std::uint32_t error = read_jpeg(bytes, rows);
  if (pipeline.converter.joinable()) {
    {
      std::lock_guard<std::mutex> hold(pipeline.lock);
      pipeline.ended = true;
    }
    pipeline.signal.notify_one();
    pipeline.converter.join();
  }
  if (error != 0) return error;
  if (pipeline.bottom_up) {
    *image = std::move(pipeline.pixels);
    return 0;
  }
  *image = turned_upright(pipeline.pixels, turn);
  image->mirror(false, true);
  return image->isNull() ? kPictureNoMemory : 0;
}

}  // namespace

QImage opaque(QImage image) {
  if (!image.hasAlphaChannel()) return image.convertToFormat(QImage::Format_RGB32);
  image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  // Premultiplied colour is the colour composed over black.
  for (int y = 0; y < image.height(); ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) row[x] |= 0xFF000000u;
  }
  return image.convertToFormat(QImage::Format_RGB32);
}

PictureDecoder decoder_for(const QByteArray& bytes) {
  const std::uint8_t* data = data_of(bytes);
  const auto size = static_cast<std::size_t>(bytes.size());
  if (size >= 12 && std::memcmp(data + 4, "ftyp", 4) == 0) {
    for (const char* brand :
         {"heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "msf1", "avif", "avis"}) {
      if (std::memcmp(data + 8, brand, 4) == 0) return PictureDecoder::heif;
    }
  }
  if ((size >= 2 && data[0] == 0xFF && data[1] == 0x0A) ||
      (size >= 12 && std::memcmp(data, "\0\0\0\x0cJXL \r\n\x87\n", 12) == 0)) {
    return PictureDecoder::jxl;
  }
  if (jpeg_components(bytes) == 4) return PictureDecoder::cmyk_jpeg;
  return PictureDecoder::qt;
}

bool adapter_facts(PictureDecoder decoder, const QByteArray& bytes, PictureFacts* facts) {
  switch (decoder) {
    case PictureDecoder::heif:
      return heif_facts(bytes, facts);
    case PictureDecoder::jxl:
      return jxl_facts(bytes, facts);
    case PictureDecoder::cmyk_jpeg:
      return cmyk_facts(bytes, facts);
    case PictureDecoder::rgb_jpeg:
    case PictureDecoder::qt:
      break;
  }
  return false;
}

std::uint32_t adapter_decode(PictureDecoder decoder, const QByteArray& bytes,
                             std::uint32_t reduction, PictureColour colour,
                             const std::atomic<bool>* cancel, QImage* image, ColourTag* tag) {
  *tag = ColourTag{};
  std::uint32_t error = kPictureNotLoaded;
  switch (decoder) {
    case PictureDecoder::heif:
      if (reduction == 1) error = heif_decode(bytes, image, tag);
      break;
    case PictureDecoder::jxl:
      if (reduction == 1) error = jxl_decode(bytes, image, tag);
      break;
    case PictureDecoder::cmyk_jpeg:
      error = cmyk_decode(bytes, reduction, colour, cancel, image, tag);
      break;
    case PictureDecoder::rgb_jpeg: {
      // Converted while it decodes; nothing is left to convert after.
      const ColourTag found =
          colour == PictureColour::managed
              ? find_colour_tag(data_of(bytes), static_cast<std::size_t>(bytes.size()))
              : ColourTag{};
      return rgb_jpeg_decode(bytes, reduction, found, cancel, image);
    }
    case PictureDecoder::qt:
      break;
  }
  if (error == 0) image->mirror(false, true);  // bottom-up, in place
  return error;
}
