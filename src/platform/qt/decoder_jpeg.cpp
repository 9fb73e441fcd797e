// JPEGs through libjpeg: those of four inks, whose inks Qt's reader cannot
// hand over for colour management, and those of RGB or grey, decoded in bands
// that a cancel stops and converted while they decode.
#include <QBuffer>
#include <QImageIOHandler>
#include <QImageReader>
#include <QTransform>
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

#include "platform/qt/decoder_row.h"

namespace {

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

bool cmyk_sniff(const QByteArray& bytes) {
  return jpeg_components(bytes) == 4;
}

std::uint32_t cmyk_bottom_up(const QByteArray& bytes, std::uint32_t reduction, PictureColour colour,
                             const std::atomic<bool>* cancel, QImage* image, ColourTag* tag) {
  const std::uint32_t error = cmyk_decode(bytes, reduction, colour, cancel, image, tag);
  if (error == 0) image->mirror(false, true);  // bottom-up, in place
  return error;
}

// Converted while it decodes; nothing is left to convert after.
std::uint32_t rgb_converted(const QByteArray& bytes, std::uint32_t reduction, PictureColour colour,
                            const std::atomic<bool>* cancel, QImage* image, ColourTag*) {
  const ColourTag found =
      colour == PictureColour::managed
          ? find_colour_tag(data_of(bytes), static_cast<std::size_t>(bytes.size()))
          : ColourTag{};
  return rgb_jpeg_decode(bytes, reduction, found, cancel, image);
}

}  // namespace

const DecoderRow kCmykJpegDecoder{PictureDecoder::cmyk_jpeg, cmyk_sniff, cmyk_facts,
                                  cmyk_bottom_up};
const DecoderRow kRgbJpegDecoder{PictureDecoder::rgb_jpeg, nullptr, nullptr, rgb_converted};
