// The table of live handles the runtime gave to scripts.
#include "foundation/live_handles.h"

#include <mutex>
#include <unordered_map>

namespace {

struct LiveHandle {
  LiveHandleKind kind;
  const void* heap;
};

std::mutex table_mutex;
std::unordered_map<const void*, LiveHandle>& table() {
  // Never destroyed: program ends during process exit may still ask.
  static auto* handles = new std::unordered_map<const void*, LiveHandle>();
  return *handles;
}

}  // namespace

void live_handle_add(LiveHandleKind kind, const void* address, const void* heap) {
  if (!address) return;
  std::lock_guard<std::mutex> lock(table_mutex);
  table()[address] = LiveHandle{kind, heap};
}

bool live_handle_is(LiveHandleKind kind, const void* address) {
  if (!address) return false;
  std::lock_guard<std::mutex> lock(table_mutex);
  auto found = table().find(address);
  return found != table().end() && found->second.kind == kind;
}

bool live_handle_remove(LiveHandleKind kind, const void* address) {
  if (!address) return false;
  std::lock_guard<std::mutex> lock(table_mutex);
  auto found = table().find(address);
  if (found == table().end() || found->second.kind != kind) return false;
  table().erase(found);
  return true;
}

void live_handles_forget_heap(const void* heap) {
  if (!heap) return;
  std::lock_guard<std::mutex> lock(table_mutex);
  std::erase_if(table(), [heap](const auto& entry) { return entry.second.heap == heap; });
}
