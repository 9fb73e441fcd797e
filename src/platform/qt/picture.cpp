// Linux picture decoding: picture_open, picture_decode, picture_info,
// picture_rows, delete_bitmap. The file's bytes are read with POSIX calls, so
// any byte path opens; Qt's image readers decode them (PNG, GIF, BMP, TIFF,
// WebP), the layer's own adapters the rest (JPEG among them), and the
// colours of a tagged picture are converted to the display's. The decoded
// QImage is the picture's one copy of its pixels, its rows turned bottom-up
// in place.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QByteArray>
#include <QColorSpace>
#include <QImageIOHandler>
#include <QImageReader>
#include <cerrno>
#include <new>

#include "platform/qt/picture_colour.h"
#include "platform/qt/picture_decoders.h"
#include "platform/qt/qt_bitmap.h"
#include "ports/picture.h"
#include "state/bitmap_header.h"

namespace {

// No image file worth showing is larger; a bigger one is refused unread.
constexpr std::int64_t kMaxFileBytes = 1536LL << 20;
// Qt's reader refuses large images by default; allow what kMaxPicturePixels allows.
constexpr int kAllocationLimitMb = 1100;

// Reads the whole regular file; 0 when it cannot, 8 when memory runs out.
std::uint32_t read_file(const char* path, QByteArray* bytes) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return kPictureNotLoaded;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kMaxFileBytes) {
    close(fd);
    return kPictureNotLoaded;
  }
  try {
    bytes->resize(static_cast<qsizetype>(info.st_size));
  } catch (const std::bad_alloc&) {
    close(fd);
    return kPictureNoMemory;
  }
  qsizetype done = 0;
  while (done < bytes->size()) {
    const ssize_t got = read(fd, bytes->data() + done, static_cast<size_t>(bytes->size() - done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += got;
  }
  close(fd);
  bytes->resize(done);  // a file that shrank while read decodes what there is
  return 0;
}

}  // namespace

struct PictureSource {
  QByteArray bytes;
  PictureDecoder decoder = PictureDecoder::qt;
  QBuffer buffer;
  QImageReader reader;
  QSize stored;       // as stored in the file, before its orientation is applied
  QByteArray format;  // Qt's name of it, known before the read
  PictureFacts facts{};
};

PictureSource* picture_open(const char* path, std::uint32_t* error) {
  auto* source = new (std::nothrow) PictureSource;
  if (source == nullptr) {
    *error = kPictureNoMemory;
    return nullptr;
  }
  *error = read_file(path, &source->bytes);
  if (*error != 0) {
    delete source;
    return nullptr;
  }
  // A process-wide setting; set once, as pictures decode on several threads.
  static const bool limited = [] {
    QImageReader::setAllocationLimit(kAllocationLimitMb);
    return true;
  }();
  (void)limited;
  source->decoder = decoder_for(source->bytes);
  if (source->decoder != PictureDecoder::qt) {
    if (!adapter_facts(source->decoder, source->bytes, &source->facts)) {
      delete source;
      *error = kPictureNotLoaded;
      return nullptr;
    }
    return source;
  }
  source->buffer.setBuffer(&source->bytes);
  source->buffer.open(QIODevice::ReadOnly);
  QImageReader& reader = source->reader;
  reader.setDevice(&source->buffer);
  reader.setDecideFormatFromContent(true);
  reader.setAutoTransform(true);  // EXIF orientation: photos stand upright
  source->stored = reader.size();
  source->format = reader.format();
  const QSize stored = source->stored;
  if (stored.isValid() &&
      static_cast<std::uint64_t>(stored.width()) * static_cast<std::uint64_t>(stored.height()) >
          kMaxPicturePixels) {
    delete source;
    *error = kPictureNotLoaded;
    return nullptr;
  }
  const bool turned = (reader.transformation() & QImageIOHandler::TransformationRotate90) != 0;
  source->facts.width = turned ? stored.height() : stored.width();
  source->facts.height = turned ? stored.width() : stored.height();
  // Only JPEG's decoder reduces while it decodes; others would decode in
  // full and then resample.
  source->facts.reducible = stored.isValid() && source->format == "jpeg" ? 1 : 0;
  return source;
}

PictureFacts picture_facts(const PictureSource* source) {
  return source->facts;
}

void picture_close(PictureSource* source) {
  delete source;
}

namespace {

// Decodes with Qt's reader (at full size: JPEG, the one reducible type,
// has a decoder of its own); the picture's colour tag, where it has one, in
// *tag.
std::uint32_t qt_decode(PictureSource* source, QImage* image, ColourTag* tag) {
  QImageReader& reader = source->reader;
  if (!reader.read(image) || image->isNull()) return kPictureNotLoaded;
  if (static_cast<std::uint64_t>(image->width()) * static_cast<std::uint64_t>(image->height()) >
      kMaxPicturePixels) {
    return kPictureNotLoaded;
  }
  *tag = find_colour_tag(reinterpret_cast<const std::uint8_t*>(source->bytes.constData()),
                         static_cast<std::size_t>(source->bytes.size()));
  // TIFF's profile, as Qt's reader found it; the others' tags are read above.
  const QByteArray& format = source->format;
  if (format != "png" && format != "webp") {
    const QByteArray profile = image->colorSpace().iccProfile();
    tag->profile.assign(profile.begin(), profile.end());
  }
  *image = opaque(std::move(*image));
  return image->isNull() ? kPictureNoMemory : 0;
}

}  // namespace

PlatformBitmap* picture_decode(PictureSource* source, std::uint32_t reduction, PictureColour colour,
                               const std::atomic<bool>* cancel, std::uint32_t* error) {
  if (reduction > 1 &&
      (source->facts.reducible == 0 || (reduction != 2 && reduction != 4 && reduction != 8))) {
    *error = kPictureNotLoaded;
    return nullptr;
  }
  QImage image;
  ColourTag tag;
  PictureDecoder decoder = source->decoder;
  if (decoder == PictureDecoder::qt && source->format == "jpeg") decoder = PictureDecoder::rgb_jpeg;
  if (decoder == PictureDecoder::qt) {
    // Qt's readers cannot stop midway; at least none starts unwanted.
    *error =
        cancel != nullptr && cancel->load() ? kPictureCancelled : qt_decode(source, &image, &tag);
    if (*error == 0) image.mirror(false, true);  // bottom-up, in place
  } else {
    *error = adapter_decode(decoder, source->bytes, reduction, colour, cancel, &image, &tag);
  }
  if (*error != 0) return nullptr;
  if (colour == PictureColour::managed) convert_to_display(image, tag);
  auto* bitmap = new (std::nothrow) PlatformBitmap;
  if (bitmap == nullptr) {
    *error = kPictureNoMemory;
    return nullptr;
  }
  bitmap->width = image.width();
  bitmap->height = image.height();
  bitmap->image = std::move(image);
  return bitmap;
}

PictureInfo picture_info(const PlatformBitmap* bitmap) {
  return PictureInfo{bitmap->width, bitmap->height, 1, 32};
}

const std::uint8_t* picture_rows(const PlatformBitmap* bitmap) {
  return bitmap->image.isNull() ? nullptr : bitmap->image.constBits();
}

void delete_bitmap(PlatformBitmap* bitmap) {
  delete bitmap;
}
