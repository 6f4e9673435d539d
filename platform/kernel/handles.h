// The one table of kernel handles: files, mappings, searches, threads, events,
// semaphores and devices all live here, so CloseHandle works on any of them.
#pragma once

#include <memory>

#include "platform/kernel/types.h"

namespace platform {

enum class ObjectKind : uint8_t { File, FileMapping, FindSearch, Thread, Event, Semaphore, Mutex, Device };

// An object behind a handle. It lives while a handle or a user (a running thread,
// a mapped view) holds a reference; closing a handle only drops the handle's reference.
class KernelObject {
 public:
  explicit KernelObject(ObjectKind kind) : kind_(kind) {}
  virtual ~KernelObject() = default;
  KernelObject(const KernelObject&) = delete;
  KernelObject& operator=(const KernelObject&) = delete;
  ObjectKind kind() const { return kind_; }

 private:
  ObjectKind kind_;
};

// Enters an object into the table and returns its new handle (never 0 or INVALID_HANDLE_VALUE).
HANDLE handle_create(std::shared_ptr<KernelObject> object);

// The object behind a live handle, or null when the handle is not live.
std::shared_ptr<KernelObject> handle_object(HANDLE handle);

// The object behind a live handle of the given kind, or null.
template <typename T>
std::shared_ptr<T> handle_object_as(HANDLE handle, ObjectKind kind) {
  auto object = handle_object(handle);
  if (!object || object->kind() != kind) return nullptr;
  return std::static_pointer_cast<T>(object);
}

// Removes a handle from the table; false when it was not live.
bool handle_close(HANDLE handle);

// Number of live handles (for leak checks in tests).
size_t handle_count();

}  // namespace platform

// Closes any kernel handle; the object ends when its last user lets go.
BOOL CloseHandle(HANDLE handle);
