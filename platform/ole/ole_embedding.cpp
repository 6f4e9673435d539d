// The OLE embedding interfaces' ids and the two runtime functions a container calls on
// a new object.
#include "platform/ole/ole_embedding.h"

#include <utility>

#include "platform/kernel/modules.h"

namespace {

constexpr GUID ole_guid(uint32_t first) { return {first, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}; }
constexpr GUID document_guid(uint32_t first) {
  return {first, 0x4E68, 0x101B, {0xA2, 0xBC, 0x00, 0xAA, 0x00, 0x40, 0x47, 0x70}};
}

}  // namespace

const IID IID_IOleObject = ole_guid(0x00000112);
const IID IID_IOleWindow = ole_guid(0x00000114);
const IID IID_IOleInPlaceObject = ole_guid(0x00000113);
const IID IID_IOleInPlaceActiveObject = ole_guid(0x00000117);
const IID IID_IOleInPlaceUIWindow = ole_guid(0x00000115);
const IID IID_IOleInPlaceFrame = ole_guid(0x00000116);
const IID IID_IOleClientSite = ole_guid(0x00000118);
const IID IID_IOleInPlaceSite = ole_guid(0x00000119);
const IID IID_IOleInPlaceSiteEx = {0x9C2CAD80, 0x3424, 0x11CF, {0xB6, 0x70, 0x00, 0xAA, 0x00, 0x4C, 0xD6, 0xD8}};
const IID IID_IParseDisplayName = ole_guid(0x0000011A);
const IID IID_IOleContainer = ole_guid(0x0000011B);
const IID IID_IOleItemContainer = ole_guid(0x0000011C);
const IID IID_IOleCommandTarget = document_guid(0xB722BCCB);
const IID IID_IOleDocument = document_guid(0xB722BCC5);
const IID IID_IOleDocumentView = document_guid(0xB722BCC6);
const IID IID_IOleDocumentSite = document_guid(0xB722BCC7);
const IID IID_IOleControlSite = {0xB196B289, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
const IID IID_IAdviseSink = ole_guid(0x0000010F);
const IID IID_IViewObject = ole_guid(0x0000010D);
const IID IID_IPersistStreamInit = {0x7FD52380, 0x4E07, 0x101B, {0xAE, 0x2D, 0x08, 0x00, 0x2B, 0x2E, 0xC7, 0x13}};
const IID IID_IRunnableObject = ole_guid(0x00000126);

namespace {

IRunnableObject* runnable_of(IUnknown* object) {
  IRunnableObject* runnable = nullptr;
  if (FAILED(object->QueryInterface(IID_IRunnableObject, reinterpret_cast<void**>(&runnable)))) return nullptr;
  return runnable;
}

}  // namespace

HRESULT OleSetContainedObject(IUnknown* object, BOOL contained) {
  if (!object) return E_INVALIDARG;
  IRunnableObject* runnable = runnable_of(object);
  if (!runnable) return S_OK;
  HRESULT result = runnable->SetContainedObject(contained);
  runnable->Release();
  return result;
}

HRESULT OleRun(IUnknown* object) {
  if (!object) return E_INVALIDARG;
  IRunnableObject* runnable = runnable_of(object);
  if (!runnable) return S_OK;
  HRESULT result = runnable->Run(nullptr);
  runnable->Release();
  return result;
}

namespace {

// Scripts that declare these functions of ole32.dll get the layer's own.
const bool registered_in_ole32 = [] {
  const std::pair<const char*, void*> functions[] = {
      {"OleSetContainedObject", reinterpret_cast<void*>(&OleSetContainedObject)},
      {"OleRun", reinterpret_cast<void*>(&OleRun)},
  };
  for (const auto& [name, address] : functions) platform::register_builtin_module_function("ole32", name, address);
  return true;
}();

}  // namespace
