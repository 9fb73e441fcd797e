// Win32 picture decoding through the Windows Imaging Component: the file is
// read whole (wide API, so any name opens), decoded from memory into 32-bit
// pixels composed over black, and turned upright by its EXIF orientation
// here (Wine's WIC has no working flip-rotator). Pictures are decoded at
// their full size: reducible is 0. Every type Windows has a codec for
// decodes (WebP, HEIF, AVIF, JPEG XL where one is installed); a type
// without one is not loaded, as a damaged file is. A picture's embedded
// profile, bounded first (platform/win32/png_profile.h), goes through WIC's
// colour transform. The rows are copied out band by band, bottom-up as
// picture_rows gives them, and the copy stops between bands when it is
// cancelled.
#include "ports/picture.h"

#include <windows.h>
// After windows.h, which it needs.
#include <wincodec.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "platform/win32/png_profile.h"
#include "platform/win32/win32_bitmap.h"
#include "platform/win32/win32_files.h"
#include "state/bitmap_header.h"

namespace {

// No image file worth showing is larger; a bigger one is refused unread.
constexpr std::uint64_t kMaxFileBytes = 1536ull << 20;
// Rows copied out of the decoder at a time.
constexpr std::int32_t kBandRows = 64;

// COM on the calling thread (the worker and the decoding threads each), for
// as long as the thread lives.
struct ComOnThread {
  HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  ~ComOnThread() {
    if (SUCCEEDED(result)) CoUninitialize();
  }
};

bool com_ready() {
  thread_local ComOnThread com;
  return SUCCEEDED(com.result) || com.result == RPC_E_CHANGED_MODE;
}

template <typename T>
struct Held {
  T* p = nullptr;
  ~Held() {
    if (p != nullptr) p->Release();
  }
  T** out() { return &p; }
  T* operator->() const { return p; }
};

// Reads the whole regular file; 0, kPictureNotLoaded or kPictureNoMemory.
std::uint32_t read_file(const char* path, std::vector<std::uint8_t>* bytes) {
  const std::wstring wide = wide_path(path);
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kPictureNotLoaded;
  LARGE_INTEGER size;
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size) || size.QuadPart < 0 ||
      static_cast<std::uint64_t>(size.QuadPart) > kMaxFileBytes) {
    CloseHandle(file);
    return kPictureNotLoaded;
  }
  try {
    bytes->resize(static_cast<std::size_t>(size.QuadPart));
  } catch (const std::bad_alloc&) {
    CloseHandle(file);
    return kPictureNoMemory;
  }
  std::size_t done = 0;
  DWORD got = 0;
  while (done < bytes->size() &&
         ReadFile(file, bytes->data() + done,
                  static_cast<DWORD>(std::min<std::size_t>(bytes->size() - done, 1u << 30)), &got,
                  nullptr) &&
         got > 0) {
    done += got;
  }
  CloseHandle(file);
  bytes->resize(done);  // a file that shrank while read decodes what there is
  return 0;
}

std::uint32_t read16(const std::uint8_t* at, bool big) {
  return big ? (at[0] << 8 | at[1]) : (at[1] << 8 | at[0]);
}

std::uint32_t read32(const std::uint8_t* at, bool big) {
  return big ? (read16(at, true) << 16 | read16(at + 2, true))
             : (read16(at + 2, false) << 16 | read16(at, false));
}

// The EXIF orientation (1..8) of a JPEG's first APP1 segment, 1 when none.
std::uint32_t exif_orientation(const std::vector<std::uint8_t>& bytes) {
  const std::size_t size = bytes.size();
  if (size < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8) return 1;
  std::size_t at = 2;
  while (at + 4 <= size && bytes[at] == 0xFF) {
    const std::uint8_t marker = bytes[at + 1];
    const std::size_t length = read16(&bytes[at + 2], true);
    if (marker == 0xDA || length < 2 || at + 2 + length > size) return 1;
    const std::uint8_t* segment = &bytes[at + 4];
    const std::size_t segment_size = length - 2;
    if (marker == 0xE1 && segment_size >= 14 && std::memcmp(segment, "Exif\0\0", 6) == 0) {
      const std::uint8_t* tiff = segment + 6;
      const std::size_t tiff_size = segment_size - 6;
      const bool big = tiff[0] == 'M';
      const std::size_t ifd = read32(tiff + 4, big);
      if (ifd + 2 > tiff_size) return 1;
      const std::size_t count = read16(tiff + ifd, big);
      for (std::size_t n = 0; n < count && ifd + 2 + n * 12 + 12 <= tiff_size; ++n) {
        const std::uint8_t* entry = tiff + ifd + 2 + n * 12;
        if (read16(entry, big) != 0x0112) continue;
        const std::uint32_t value = read16(entry + 8, big);
        return value >= 1 && value <= 8 ? value : 1;
      }
      return 1;
    }
    at += 2 + length;
  }
  return 1;
}

// The size a picture's container claims, read from its header before any
// decoder sees it (some decode the whole frame when asked for it, however
// large): a JPEG's first frame header, a PNG's IHDR, a GIF's screen or first
// image, a BMP's info header. False when the bytes are none of these or end
// before the size.
bool claimed_size(const std::vector<std::uint8_t>& bytes, std::uint64_t* width,
                  std::uint64_t* height) {
  const std::size_t size = bytes.size();
  const std::uint8_t* b = bytes.data();
  if (size >= 4 && b[0] == 0xFF && b[1] == 0xD8) {
    std::size_t at = 2;
    while (at + 4 <= size) {
      if (b[at] != 0xFF) return false;
      const std::uint8_t marker = b[at + 1];
      if (marker == 0xFF) {  // fill bytes before a marker
        ++at;
        continue;
      }
      const std::size_t length = read16(b + at + 2, true);
      // Frame headers: SOF0..SOF15 but DHT (C4), JPG (C8) and DAC (CC).
      if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
        if (length < 7 || at + 9 > size) return false;
        *height = read16(b + at + 5, true);
        *width = read16(b + at + 7, true);
        return true;
      }
      if (marker == 0xDA || length < 2) return false;
      at += 2 + length;
    }
    return false;
  }
  if (size >= 24 && std::memcmp(b, "\x89PNG\r\n\x1a\n", 8) == 0 &&
      std::memcmp(b + 12, "IHDR", 4) == 0) {
    *width = read32(b + 16, true);
    *height = read32(b + 20, true);
    return true;
  }
  if (size >= 10 && std::memcmp(b, "GIF8", 4) == 0) {
    *width = read16(b + 6, false);
    *height = read16(b + 8, false);
    // The first image may be larger than the screen it is placed on.
    std::size_t at = 13;
    if ((b[10] & 0x80) != 0) at += 3u << ((b[10] & 7) + 1);
    while (at < size && b[at] == 0x21) {  // extensions, skipped block by block
      at += 2;
      while (at < size && b[at] != 0) at += 1u + b[at];
      ++at;
    }
    if (at + 9 <= size && b[at] == 0x2C) {
      *width =
          std::max<std::uint64_t>(*width, read16(b + at + 1, false) + read16(b + at + 5, false));
      *height =
          std::max<std::uint64_t>(*height, read16(b + at + 3, false) + read16(b + at + 7, false));
    }
    return true;
  }
  if (size >= 26 && b[0] == 'B' && b[1] == 'M') {
    const std::uint32_t header = read32(b + 14, false);
    if (header == 12) {
      *width = read16(b + 18, false);
      *height = read16(b + 20, false);
      return true;
    }
    const auto signed_height = static_cast<std::int32_t>(read32(b + 22, false));
    *width = static_cast<std::uint32_t>(std::abs(static_cast<std::int32_t>(read32(b + 18, false))));
    *height = static_cast<std::uint32_t>(std::abs(signed_height));
    return true;
  }
  return false;
}

// The pixels of source (width x height, top-down) turned by an EXIF
// orientation into turned, whose size is swapped for orientations 5 to 8.
void turn(const std::vector<std::uint32_t>& source, std::int32_t width, std::int32_t height,
          std::uint32_t orientation, std::vector<std::uint32_t>* turned) {
  const bool swap = orientation >= 5;
  const std::int32_t out_width = swap ? height : width;
  const std::int32_t out_height = swap ? width : height;
  turned->resize(source.size());
  for (std::int32_t y = 0; y < out_height; ++y) {
    for (std::int32_t x = 0; x < out_width; ++x) {
      std::int32_t sx = x;
      std::int32_t sy = y;
      switch (orientation) {
        case 2:
          sx = width - 1 - x;
          break;
        case 3:
          sx = width - 1 - x;
          sy = height - 1 - y;
          break;
        case 4:
          sy = height - 1 - y;
          break;
        case 5:
          sx = y;
          sy = x;
          break;
        case 6:
          sx = y;
          sy = height - 1 - x;
          break;
        case 7:
          sx = width - 1 - y;
          sy = height - 1 - x;
          break;
        case 8:
          sx = width - 1 - y;
          sy = x;
          break;
        default:
          break;
      }
      (*turned)[static_cast<std::size_t>(y) * out_width + x] =
          source[static_cast<std::size_t>(sy) * width + sx];
    }
  }
}

}  // namespace

struct PictureSource {
  std::vector<std::uint8_t> bytes;
  IWICImagingFactory* factory = nullptr;
  IWICStream* stream = nullptr;
  IWICBitmapFrameDecode* frame = nullptr;
  std::uint32_t orientation = 1;
  UINT stored_width = 0;
  UINT stored_height = 0;
  PictureFacts facts{};
  ~PictureSource() {
    if (frame != nullptr) frame->Release();
    if (stream != nullptr) stream->Release();
    if (factory != nullptr) factory->Release();
  }
};

PictureSource* picture_open(const char* path, std::uint32_t* error) {
  auto* source = new (std::nothrow) PictureSource;
  if (source == nullptr || !com_ready()) {
    delete source;
    *error = source == nullptr ? kPictureNoMemory : kPictureNotLoaded;
    return nullptr;
  }
  *error = read_file(path, &source->bytes);
  if (*error != 0) {
    delete source;
    return nullptr;
  }
  *error = kPictureNotLoaded;
  // Bounded before WIC reads what a profile claims.
  if (!bound_png_profiles(&source->bytes)) {
    delete source;
    return nullptr;
  }
  std::uint64_t claimed_width = 0;
  std::uint64_t claimed_height = 0;
  // Refused at once, before WIC would decode pixels nobody may hold.
  if (claimed_size(source->bytes, &claimed_width, &claimed_height) &&
      claimed_width * claimed_height > kMaxPicturePixels) {
    delete source;
    return nullptr;
  }
  Held<IWICBitmapDecoder> decoder;
  if (source->bytes.empty() ||
      FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                              IID_PPV_ARGS(&source->factory))) ||
      FAILED(source->factory->CreateStream(&source->stream)) ||
      FAILED(source->stream->InitializeFromMemory(source->bytes.data(),
                                                  static_cast<DWORD>(source->bytes.size()))) ||
      FAILED(source->factory->CreateDecoderFromStream(
          source->stream, nullptr, WICDecodeMetadataCacheOnDemand, decoder.out())) ||
      FAILED(decoder->GetFrame(0, &source->frame)) ||
      FAILED(source->frame->GetSize(&source->stored_width, &source->stored_height)) ||
      source->stored_width == 0 || source->stored_height == 0 ||
      std::uint64_t{source->stored_width} * source->stored_height > kMaxPicturePixels) {
    delete source;
    return nullptr;
  }
  source->orientation = exif_orientation(source->bytes);
  const bool turned = source->orientation >= 5;
  const auto width = static_cast<std::int32_t>(source->stored_width);
  const auto height = static_cast<std::int32_t>(source->stored_height);
  source->facts = PictureFacts{turned ? height : width, turned ? width : height, 0};
  *error = 0;
  return source;
}

PictureFacts picture_facts(const PictureSource* source) {
  return source->facts;
}

void picture_close(PictureSource* source) {
  delete source;
}

namespace {

std::mutex display_lock;
std::vector<std::uint8_t> display_profile;  // empty: sRGB

// The frame's colours through WIC's colour transform to the display's
// profile (sRGB where it publishes none), when the frame carries a profile;
// else the frame itself. *held keeps what the result needs alive.
IWICBitmapSource* managed_source(PictureSource* source, Held<IWICColorTransform>* held) {
  UINT count = 0;
  if (FAILED(source->frame->GetColorContexts(0, nullptr, &count)) || count == 0) {
    return source->frame;
  }
  Held<IWICColorContext> from;
  Held<IWICColorContext> to;
  UINT got = 0;
  if (FAILED(source->factory->CreateColorContext(from.out())) ||
      FAILED(source->frame->GetColorContexts(1, &from.p, &got)) || got == 0 ||
      FAILED(source->factory->CreateColorContext(to.out()))) {
    return source->frame;
  }
  WICColorContextType type{};
  // An EXIF colour space of 1 is sRGB, what an untagged picture is anyway.
  UINT exif = 0;
  if (FAILED(from->GetType(&type)) || (type == WICColorContextExifColorSpace &&
                                       SUCCEEDED(from->GetExifColorSpace(&exif)) && exif == 1)) {
    return source->frame;
  }
  {
    std::lock_guard<std::mutex> hold(display_lock);
    const HRESULT made = display_profile.empty()
                             ? to->InitializeFromExifColorSpace(1)
                             : to->InitializeFromMemory(display_profile.data(),
                                                        static_cast<UINT>(display_profile.size()));
    if (FAILED(made)) return source->frame;
  }
  if (FAILED(source->factory->CreateColorTransformer(held->out())) ||
      FAILED((*held)->Initialize(source->frame, from.p, to.p, GUID_WICPixelFormat32bppBGRA))) {
    return source->frame;
  }
  return held->p;
}

}  // namespace

void picture_set_display_profile(const std::uint8_t* profile, std::size_t size) {
  std::lock_guard<std::mutex> hold(display_lock);
  if (profile == nullptr) size = 0;
  display_profile.assign(profile, profile + size);
}

PlatformBitmap* picture_decode(PictureSource* source, std::uint32_t reduction, PictureColour colour,
                               const std::atomic<bool>* cancel, std::uint32_t* error) {
  *error = kPictureNotLoaded;
  if (reduction != 1) return nullptr;
  Held<IWICColorTransform> transform;
  IWICBitmapSource* pixels_from =
      colour == PictureColour::managed ? managed_source(source, &transform) : source->frame;
  Held<IWICFormatConverter> converter;
  if (FAILED(source->factory->CreateFormatConverter(converter.out())) ||
      FAILED(converter->Initialize(pixels_from, GUID_WICPixelFormat32bppPBGRA,
                                   WICBitmapDitherTypeNone, nullptr, 0,
                                   WICBitmapPaletteTypeCustom))) {
    return nullptr;
  }
  const auto width = static_cast<std::int32_t>(source->stored_width);
  const auto height = static_cast<std::int32_t>(source->stored_height);
  const bool upright = source->orientation == 1;
  const auto columns = static_cast<std::size_t>(width);
  // Upright, the rows go straight to their bottom-up places; else top-down
  // first, to be turned.
  std::vector<std::uint32_t> pixels;
  std::vector<std::uint32_t> band;
  auto* bitmap = new (std::nothrow) PlatformBitmap;
  if (bitmap == nullptr) {
    *error = kPictureNoMemory;
    return nullptr;
  }
  std::vector<std::uint32_t>& rows = upright ? bitmap->pixels : pixels;
  try {
    rows.resize(columns * static_cast<std::size_t>(height));
    band.resize(columns * static_cast<std::size_t>(kBandRows));
  } catch (const std::bad_alloc&) {
    delete bitmap;
    *error = kPictureNoMemory;
    return nullptr;
  }
  const UINT stride = static_cast<UINT>(width) * 4;
  for (std::int32_t top = 0; top < height; top += kBandRows) {
    if (cancel != nullptr && cancel->load()) {
      delete bitmap;
      *error = kPictureCancelled;
      return nullptr;
    }
    const std::int32_t count = std::min(kBandRows, height - top);
    const WICRect rect{0, top, width, count};
    if (FAILED(converter->CopyPixels(&rect, stride, stride * static_cast<UINT>(count),
                                     reinterpret_cast<BYTE*>(band.data())))) {
      delete bitmap;
      return nullptr;
    }
    // Premultiplied colour is the colour composed over black.
    for (std::uint32_t& pixel : band) pixel |= 0xFF000000u;
    for (std::int32_t row = 0; row < count; ++row) {
      const std::int32_t at = upright ? height - 1 - (top + row) : top + row;
      std::memcpy(rows.data() + static_cast<std::size_t>(at) * columns,
                  band.data() + static_cast<std::size_t>(row) * columns, columns * 4);
    }
  }
  if (!upright) {
    turn(pixels, width, height, source->orientation, &bitmap->pixels);
    std::vector<std::uint32_t>().swap(pixels);
    const auto turned = static_cast<std::size_t>(source->facts.width);
    auto* data = bitmap->pixels.data();
    for (std::int32_t y = 0, z = source->facts.height - 1; y < z; ++y, --z) {
      std::swap_ranges(data + static_cast<std::size_t>(y) * turned,
                       data + static_cast<std::size_t>(y + 1) * turned,
                       data + static_cast<std::size_t>(z) * turned);
    }
  }
  bitmap->width = source->facts.width;
  bitmap->height = source->facts.height;
  *error = 0;
  return bitmap;
}

PictureInfo picture_info(const PlatformBitmap* bitmap) {
  return PictureInfo{bitmap->width, bitmap->height, 1, 32};
}

const std::uint8_t* picture_rows(const PlatformBitmap* bitmap) {
  return bitmap->pixels.empty() ? nullptr
                                : reinterpret_cast<const std::uint8_t*>(bitmap->pixels.data());
}

void delete_bitmap(PlatformBitmap* bitmap) {
  delete bitmap;
}
