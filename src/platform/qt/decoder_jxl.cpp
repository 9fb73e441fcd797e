// JPEG XL through libjxl.
#include <jxl/decode.h>

#include <cstring>
#include <memory>

#include "platform/qt/decoder_row.h"

namespace {

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

bool jxl_sniff(const QByteArray& bytes) {
  const std::uint8_t* data = data_of(bytes);
  const auto size = static_cast<std::size_t>(bytes.size());
  return (size >= 2 && data[0] == 0xFF && data[1] == 0x0A) ||
         (size >= 12 && std::memcmp(data, "\0\0\0\x0cJXL \r\n\x87\n", 12) == 0);
}

}  // namespace

const DecoderRow kJxlDecoder{PictureDecoder::jxl, jxl_sniff, jxl_facts, bottom_up<jxl_decode>};
