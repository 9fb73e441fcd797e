// HEIF and AVIF through libheif.
#include <libheif/heif.h>

#include <cstring>
#include <memory>

#include "platform/qt/decoder_row.h"

namespace {

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

bool heif_sniff(const QByteArray& bytes) {
  const std::uint8_t* data = data_of(bytes);
  if (bytes.size() < 12 || std::memcmp(data + 4, "ftyp", 4) != 0) return false;
  for (const char* brand :
       {"heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "msf1", "avif", "avis"}) {
    if (std::memcmp(data + 8, brand, 4) == 0) return true;
  }
  return false;
}

}  // namespace

const DecoderRow kHeifDecoder{PictureDecoder::heif, heif_sniff, heif_facts, bottom_up<heif_decode>};
