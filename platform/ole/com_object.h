// The IUnknown part that the objects of this layer and the project's own servers share:
// one interface (and its bases) besides IUnknown, and a count of references that
// deletes the object at zero.
#pragma once

#include <atomic>

#include "platform/ole/ole_types.h"

template <typename Interface>
class ComObject : public Interface {
 public:
  // The object answers for IUnknown, interface_id and, when given, also_id.
  explicit ComObject(const IID& interface_id, const IID* also_id = nullptr)
      : interface_id_(interface_id), also_id_(also_id) {}
  virtual ~ComObject() = default;

  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown || iid == interface_id_ || (also_id_ && iid == *also_id_)) {
      *object = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++references_; }
  ULONG Release() override {
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  ULONG references() const { return references_; }

 private:
  const IID& interface_id_;
  const IID* also_id_;
  std::atomic<ULONG> references_{1};
};
