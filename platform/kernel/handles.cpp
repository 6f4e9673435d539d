// Handle table: slot indices behind small handle values, reused after close.
#include "platform/kernel/handles.h"

#include <mutex>
#include <vector>

namespace platform {
namespace {

// Handle values are 4 * (slot + 1) + base: small, aligned, never 0 or -1.
constexpr uintptr_t kHandleBase = 0x1000;

struct HandleTable {
  std::mutex lock;
  std::vector<std::shared_ptr<KernelObject>> slots;
  std::vector<size_t> free_slots;
  size_t live = 0;
};

HandleTable& table() {
  static HandleTable* instance = new HandleTable;  // outlives every static destructor
  return *instance;
}

bool slot_of(HANDLE handle, size_t& slot) {
  auto value = reinterpret_cast<uintptr_t>(handle);
  if (value < kHandleBase + 4 || (value - kHandleBase) % 4 != 0) return false;
  slot = (value - kHandleBase) / 4 - 1;
  return true;
}

}  // namespace

HANDLE handle_create(std::shared_ptr<KernelObject> object) {
  auto& t = table();
  std::lock_guard guard(t.lock);
  size_t slot;
  if (!t.free_slots.empty()) {
    slot = t.free_slots.back();
    t.free_slots.pop_back();
    t.slots[slot] = std::move(object);
  } else {
    slot = t.slots.size();
    t.slots.push_back(std::move(object));
  }
  ++t.live;
  return reinterpret_cast<HANDLE>(kHandleBase + 4 * (slot + 1));
}

std::shared_ptr<KernelObject> handle_object(HANDLE handle) {
  size_t slot;
  if (!slot_of(handle, slot)) return nullptr;
  auto& t = table();
  std::lock_guard guard(t.lock);
  if (slot >= t.slots.size()) return nullptr;
  return t.slots[slot];
}

bool handle_close(HANDLE handle) {
  size_t slot;
  if (!slot_of(handle, slot)) return false;
  std::shared_ptr<KernelObject> released;  // destroyed outside the lock
  auto& t = table();
  {
    std::lock_guard guard(t.lock);
    if (slot >= t.slots.size() || !t.slots[slot]) return false;
    released = std::move(t.slots[slot]);
    t.free_slots.push_back(slot);
    --t.live;
  }
  return true;
}

size_t handle_count() {
  auto& t = table();
  std::lock_guard guard(t.lock);
  return t.live;
}

}  // namespace platform

BOOL CloseHandle(HANDLE handle) {
  if (platform::handle_close(handle)) return TRUE;
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}
