// The imaging component: a factory that decodes PNG, JPEG, GIF and BMP images (over
// stb_image) into image objects that draw themselves into a device context, and the
// shell's and GDI's bitmap loaders (SHLoadDIBitmap, LoadBitmapW).
#pragma once

#include <cstdint>

#include "platform/gdi/dib_section.h"
#include "platform/kernel/system_info.h"
#include "platform/kernel/types.h"

constexpr HRESULT S_OK = 0;
constexpr HRESULT E_FAIL = HRESULT(0x80004005u);
constexpr HRESULT E_INVALIDARG = HRESULT(0x80070057u);
constexpr HRESULT E_OUTOFMEMORY = HRESULT(0x8007000Eu);
constexpr HRESULT E_NOTIMPL = HRESULT(0x80004001u);

// What GetImageInfo describes; only the size and the pixel format are filled here.
struct ImageInfo {
  uint8_t RawDataFormat[16];
  uint32_t PixelFormat;  // 0x0026200A: 32-bit ARGB
  UINT Width;
  UINT Height;
  UINT TileWidth;
  UINT TileHeight;
  double Xdpi;
  double Ydpi;
  UINT Flags;
};

// The buffer handed to CreateImageFromBuffer stays the caller's.
constexpr uint32_t BufferDisposalFlagNone = 0;

// A decoded image. The first three operations are those of every COM object.
class IImage {
 public:
  virtual HRESULT QueryInterface(const void* iid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;
  virtual HRESULT GetPhysicalDimension(void* size) = 0;
  virtual HRESULT GetImageInfo(ImageInfo* info) = 0;
  virtual HRESULT SetImageFlags(UINT flags) = 0;
  // Draws the image (or its source rectangle, in pixels; null: all of it) scaled into the
  // destination rectangle of the bitmap selected into dc, blending its alpha over what is
  // there. 16-bit (RGB565), 24-bit and 32-bit DIBs.
  virtual HRESULT Draw(HDC dc, const RECT* destination, const RECT* source) = 0;

 protected:
  ~IImage() = default;
};

class IImagingFactory {
 public:
  virtual HRESULT QueryInterface(const void* iid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;
  virtual HRESULT CreateImageFromStream(void* stream, IImage** image) = 0;
  virtual HRESULT CreateImageFromFile(LPCWSTR name, IImage** image) = 0;
  // Decodes size bytes at buffer; E_FAIL for data that is not a whole image of a known format.
  virtual HRESULT CreateImageFromBuffer(const void* buffer, UINT size, uint32_t disposal, IImage** image) = 0;

 protected:
  ~IImagingFactory() = default;
};

// {327ABDA8-072B-11D3-9D7B-0000F81EF32E} and {327ABDA7-072B-11D3-9D7B-0000F81EF32E}, as
// the bytes of a GUID record.
extern const uint8_t CLSID_ImagingFactory_bytes[16];
extern const uint8_t IID_IImagingFactory_bytes[16];

namespace platform {

// A new factory (one reference), as CoCreateInstance(CLSID_ImagingFactory) gives it; the
// COM runtime registers this as the class's in-process server.
HRESULT imaging_factory_create(IImagingFactory** factory);

// Decoded images larger than this on a side are refused.
constexpr int kLargestImageSide = 8192;

}  // namespace platform

// A ".bmp" file as a 24-bit top-down DIB section; null when it cannot be read or is not
// a BMP image.
HBITMAP SHLoadDIBitmap(LPCWSTR file);
// An RT_BITMAP resource of module (null: the running program) as a DIB section.
HBITMAP LoadBitmapW(HMODULE module, LPCWSTR name);
