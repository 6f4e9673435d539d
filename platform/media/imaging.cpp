// The imaging factory and its images, and the bitmap loaders of the shell and of GDI.
#include "platform/media/imaging.h"

#include <atomic>
#include <cstring>
#include <new>
#include <vector>

#include "platform/gdi/dib_pixels.h"
#include "platform/kernel/files.h"
#include "platform/kernel/modules.h"
#include "platform/media/image_decoder.h"
#include "platform/media/resources.h"

const uint8_t CLSID_ImagingFactory_bytes[16] = {0xA8, 0xBD, 0x7A, 0x32, 0x2B, 0x07, 0xD3, 0x11,
                                                0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E};
const uint8_t IID_IImagingFactory_bytes[16] = {0xA7, 0xBD, 0x7A, 0x32, 0x2B, 0x07, 0xD3, 0x11,
                                               0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E};

namespace platform {
namespace {

// Files larger than this are not images the device could hold.
constexpr DWORD kLargestImageFile = 64u << 20;

// The whole file, or false.
bool read_file(LPCWSTR name, std::vector<uint8_t>* bytes) {
  HANDLE file = CreateFileW(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD high = 0;
  DWORD size = GetFileSize(file, &high);
  bool ok = size != 0xFFFFFFFFu && high == 0 && size <= kLargestImageFile;
  if (ok) {
    bytes->resize(size);
    DWORD read = 0;
    ok = size == 0 || (ReadFile(file, bytes->data(), size, &read, nullptr) && read == size);
  }
  CloseHandle(file);
  return ok;
}

uint8_t expand5(uint32_t c) { return uint8_t((c << 3) | (c >> 2)); }
uint8_t expand6(uint32_t c) { return uint8_t((c << 2) | (c >> 4)); }

// Source over destination at the source's alpha, per 8-bit channel.
uint8_t over(uint32_t source, uint32_t destination, uint32_t alpha) {
  return uint8_t((source * alpha + destination * (255 - alpha) + 127) / 255);
}

// The reference count every object of the component keeps; the last Release deletes it.
template <class Interface>
class Counted : public Interface {
 public:
  ULONG AddRef() override { return ++references_; }
  ULONG Release() override {
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  virtual ~Counted() = default;

 private:
  std::atomic<ULONG> references_{1};
};

class DecodedImageObject final : public Counted<IImage> {
 public:
  explicit DecodedImageObject(DecodedImage&& image) : image_(std::move(image)) {}

  HRESULT QueryInterface(const void*, void** object) override {
    if (object) *object = nullptr;
    return E_NOTIMPL;
  }
  HRESULT GetPhysicalDimension(void*) override { return E_NOTIMPL; }
  HRESULT GetImageInfo(ImageInfo* info) override {
    if (!info) return E_INVALIDARG;
    std::memset(info, 0, sizeof(*info));
    info->PixelFormat = 0x0026200A;
    info->Width = UINT(image_.width);
    info->Height = UINT(image_.height);
    info->TileWidth = UINT(image_.width);
    info->TileHeight = 1;
    info->Xdpi = info->Ydpi = 96.0;
    return S_OK;
  }
  HRESULT SetImageFlags(UINT) override { return S_OK; }

  HRESULT Draw(HDC dc, const RECT* destination, const RECT* source) override {
    DibPixels target{};
    if (!destination || !dc_pixels(dc, &target)) return E_INVALIDARG;
    RECT from = source ? *source : RECT{0, 0, image_.width, image_.height};
    if (from.left < 0 || from.top < 0 || from.right > image_.width || from.bottom > image_.height ||
        from.right <= from.left || from.bottom <= from.top)
      return E_INVALIDARG;
    const RECT& to = *destination;
    int64_t to_width = int64_t(to.right) - to.left, to_height = int64_t(to.bottom) - to.top;
    if (to_width <= 0 || to_height <= 0) return S_OK;
    LONG left = to.left > 0 ? to.left : 0, top = to.top > 0 ? to.top : 0;
    LONG right = to.right < target.width ? to.right : target.width;
    LONG bottom = to.bottom < target.height ? to.bottom : target.height;
    int64_t from_width = from.right - from.left, from_height = from.bottom - from.top;
    for (LONG y = top; y < bottom; ++y) {
      int64_t sy = from.top + (int64_t(y) - to.top) * from_height / to_height;
      LONG row = target.top_down ? y : target.height - 1 - y;
      uint8_t* line = target.bits + size_t(row) * target.pitch;
      for (LONG x = left; x < right; ++x) {
        int64_t sx = from.left + (int64_t(x) - to.left) * from_width / to_width;
        const uint8_t* p = &image_.rgba[(size_t(sy) * size_t(image_.width) + size_t(sx)) * 4];
        put(line, x, target.bit_count, p);
      }
    }
    return S_OK;
  }

 private:
  ~DecodedImageObject() override = default;

  static void put(uint8_t* line, LONG x, WORD bit_count, const uint8_t* rgba) {
    uint32_t a = rgba[3];
    if (bit_count == 16) {
      uint16_t d;
      std::memcpy(&d, line + 2 * x, 2);
      uint32_t r = over(rgba[0], expand5(d >> 11), a), g = over(rgba[1], expand6((d >> 5) & 63), a),
               b = over(rgba[2], expand5(d & 31), a);
      uint16_t out = uint16_t(((r & 0xF8) << 8) | ((g & 0xFC) << 3) | (b >> 3));
      std::memcpy(line + 2 * x, &out, 2);
    } else {
      uint8_t* pixel = line + size_t(x) * (bit_count / 8);
      pixel[0] = over(rgba[2], pixel[0], a);
      pixel[1] = over(rgba[1], pixel[1], a);
      pixel[2] = over(rgba[0], pixel[2], a);
    }
  }

  DecodedImage image_;
};

HRESULT image_from_bytes(const uint8_t* data, size_t size, IImage** image) {
  if (!image) return E_INVALIDARG;
  *image = nullptr;
  DecodedImage decoded;
  if (!decode_image(data, size, kLargestImageSide, &decoded)) return E_FAIL;
  auto* object = new (std::nothrow) DecodedImageObject(std::move(decoded));
  if (!object) return E_OUTOFMEMORY;
  *image = object;
  return S_OK;
}

class ImagingFactory final : public Counted<IImagingFactory> {
 public:
  HRESULT QueryInterface(const void* iid, void** object) override {
    if (!object) return E_INVALIDARG;
    if (iid && std::memcmp(iid, IID_IImagingFactory_bytes, 16) == 0) {
      AddRef();
      *object = this;
      return S_OK;
    }
    *object = nullptr;
    return E_NOTIMPL;
  }
  HRESULT CreateImageFromStream(void*, IImage** image) override {
    if (image) *image = nullptr;
    return E_NOTIMPL;
  }
  HRESULT CreateImageFromFile(LPCWSTR name, IImage** image) override {
    if (!image || !name) return E_INVALIDARG;
    *image = nullptr;
    std::vector<uint8_t> bytes;
    if (!read_file(name, &bytes)) return E_FAIL;
    return image_from_bytes(bytes.data(), bytes.size(), image);
  }
  HRESULT CreateImageFromBuffer(const void* buffer, UINT size, uint32_t, IImage** image) override {
    if (!buffer) {
      if (image) *image = nullptr;
      return E_INVALIDARG;
    }
    return image_from_bytes(static_cast<const uint8_t*>(buffer), size, image);
  }

 private:
  ~ImagingFactory() override = default;
};

// A decoded image as a top-down 24-bit DIB section.
HBITMAP dib_from_image(const DecodedImage& image) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = image.width;
  info.bmiHeader.biHeight = -image.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  DibPixels pixels{};
  if (!bitmap || !bitmap_pixels(bitmap, &pixels)) return bitmap;
  for (int y = 0; y < image.height; ++y) {
    uint8_t* line = pixels.bits + size_t(y) * pixels.pitch;
    const uint8_t* rgba = &image.rgba[size_t(y) * size_t(image.width) * 4];
    for (int x = 0; x < image.width; ++x, rgba += 4) {
      // Alpha over black, as drawing into a new bitmap does.
      line[3 * x] = over(rgba[2], 0, rgba[3]);
      line[3 * x + 1] = over(rgba[1], 0, rgba[3]);
      line[3 * x + 2] = over(rgba[0], 0, rgba[3]);
    }
  }
  return bitmap;
}

void put16(uint8_t* at, uint16_t value) { std::memcpy(at, &value, 2); }
void put32(uint8_t* at, uint32_t value) { std::memcpy(at, &value, 4); }
uint32_t get32(const uint8_t* at) {
  uint32_t value;
  std::memcpy(&value, at, 4);
  return value;
}

}  // namespace

HRESULT imaging_factory_create(IImagingFactory** factory) {
  if (!factory) return E_INVALIDARG;
  *factory = new (std::nothrow) ImagingFactory;
  return *factory ? S_OK : E_OUTOFMEMORY;
}

}  // namespace platform

using namespace platform;

HBITMAP SHLoadDIBitmap(LPCWSTR file) {
  std::vector<uint8_t> bytes;
  if (!file || !read_file(file, &bytes) || bytes.size() < 2 || bytes[0] != 'B' || bytes[1] != 'M') return nullptr;
  DecodedImage image;
  if (!decode_image(bytes.data(), bytes.size(), kLargestImageSide, &image)) return nullptr;
  return dib_from_image(image);
}

HBITMAP LoadBitmapW(HMODULE module, LPCWSTR name) {
  HRSRC found = FindResourceW(module, name, MAKEINTRESOURCEW(2));
  if (!found) return nullptr;
  auto* dib = static_cast<const uint8_t*>(LockResource(LoadResource(module, found)));
  DWORD size = SizeofResource(module, found);
  if (!dib || size < sizeof(BITMAPINFOHEADER)) return nullptr;
  // The resource is a BMP file without its 14-byte file header: put one in front.
  uint32_t header_size = get32(dib), bit_count = uint32_t(dib[14] | dib[15] << 8), compression = get32(dib + 16);
  uint32_t colours = get32(dib + 32);
  if (colours == 0 && bit_count <= 8) colours = 1u << bit_count;
  uint64_t table = uint64_t(header_size) + (compression == BI_BITFIELDS ? 12 : 0) + uint64_t(colours) * 4;
  if (header_size < sizeof(BITMAPINFOHEADER) || table > size) return nullptr;
  std::vector<uint8_t> file(14 + size_t(size));
  file[0] = 'B';
  file[1] = 'M';
  put32(&file[2], uint32_t(file.size()));
  put16(&file[6], 0);
  put16(&file[8], 0);
  put32(&file[10], uint32_t(14 + table));
  std::memcpy(&file[14], dib, size);
  DecodedImage image;
  if (!decode_image(file.data(), file.size(), kLargestImageSide, &image)) return nullptr;
  return dib_from_image(image);
}

namespace {
const bool registered = [] {
  platform::register_builtin_module_function("aygshell", "SHLoadDIBitmap", reinterpret_cast<void*>(&SHLoadDIBitmap));
  platform::register_builtin_module_function("coredll", "LoadBitmapW", reinterpret_cast<void*>(&LoadBitmapW));
  return true;
}();
}  // namespace
