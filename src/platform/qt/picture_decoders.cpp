// The Linux picture layer's adapters, one row a decoder library, each in a
// file of its own.
#include "platform/qt/picture_decoders.h"

#include "platform/qt/decoder_row.h"

namespace {

// In the order decoder_for asks them.
const DecoderRow* const kDecoders[] = {&kHeifDecoder, &kJxlDecoder, &kCmykJpegDecoder,
                                       &kRgbJpegDecoder};

const DecoderRow* row_of(PictureDecoder decoder) {
  for (const DecoderRow* row : kDecoders) {
    if (row->decoder == decoder) return row;
  }
  return nullptr;
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
  for (const DecoderRow* row : kDecoders) {
    if (row->sniff != nullptr && row->sniff(bytes)) return row->decoder;
  }
  return PictureDecoder::qt;
}

bool adapter_facts(PictureDecoder decoder, const QByteArray& bytes, PictureFacts* facts) {
  const DecoderRow* row = row_of(decoder);
  return row != nullptr && row->facts != nullptr && row->facts(bytes, facts);
}

std::uint32_t adapter_decode(PictureDecoder decoder, const QByteArray& bytes,
                             std::uint32_t reduction, PictureColour colour,
                             const std::atomic<bool>* cancel, QImage* image, ColourTag* tag) {
  *tag = ColourTag{};
  const DecoderRow* row = row_of(decoder);
  return row != nullptr ? row->decode(bytes, reduction, colour, cancel, image, tag)
                        : kPictureNotLoaded;
}
