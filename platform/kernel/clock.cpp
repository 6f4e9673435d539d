// The real and the virtual clock behind every time query of the platform.
#include "platform/kernel/clock.h"

#include <time.h>

#include <atomic>

#include "platform/kernel/config.h"

namespace platform {
namespace {

uint64_t monotonic_microseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000u + static_cast<uint64_t>(now.tv_nsec) / 1000u;
}

// Taken when the library loads, so that "since start" means since the program started.
const uint64_t real_origin = monotonic_microseconds();

std::atomic<uint64_t> virtual_microseconds{0};

enum Mode : int { kUnread = 0, kReal = 1, kVirtual = 2 };
std::atomic<int> mode{kUnread};

int current_mode() {
  int value = mode.load(std::memory_order_acquire);
  if (value != kUnread) return value;
  int chosen = setting("ZRK_CLOCK") == "virtual" ? kVirtual : kReal;
  int expected = kUnread;
  // A concurrent first use or a test hook may have decided first; theirs stands.
  if (!mode.compare_exchange_strong(expected, chosen, std::memory_order_acq_rel)) return expected;
  return chosen;
}

}  // namespace

uint64_t clock_now_microseconds() {
  if (current_mode() == kVirtual) return virtual_microseconds.load(std::memory_order_acquire);
  return monotonic_microseconds() - real_origin;
}

bool clock_is_virtual() { return current_mode() == kVirtual; }

namespace {
thread_local bool follows_clock = false;
}  // namespace

void clock_follow_on_this_thread() { follows_clock = true; }

bool clock_follows_on_this_thread() { return follows_clock; }

void clock_advance_microseconds(uint64_t microseconds) {
  if (current_mode() == kVirtual) virtual_microseconds.fetch_add(microseconds, std::memory_order_acq_rel);
}

void clock_select_virtual(bool use_virtual) { mode.store(use_virtual ? kVirtual : kReal, std::memory_order_release); }

}  // namespace platform
