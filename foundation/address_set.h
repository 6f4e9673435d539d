// A set of record addresses in one table with linear probing, at most half full: a lookup
// is a multiplication and a probe or two in adjacent memory, and nothing is allocated
// except when the table grows. The records a script names by number (sprites, surfaces,
// fonts) are entered here, so a handle is checked before it is followed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class AddressSet {
 public:
  bool contains(const void* address) const {
    if (slots_.empty() || !address) return false;
    for (size_t i = home(address);; i = next(i)) {
      if (slots_[i] == address) return true;
      if (!slots_[i]) return false;
    }
  }
  // Throws std::bad_alloc when the table cannot grow.
  void insert(const void* address) {
    if (!address) return;
    if ((count_ + 1) * 2 > slots_.size()) grow();
    size_t i = home(address);
    while (slots_[i] && slots_[i] != address) i = next(i);
    if (slots_[i]) return;
    slots_[i] = address;
    ++count_;
  }
  void erase(const void* address) {
    if (slots_.empty() || !address) return;
    size_t hole = home(address);
    while (slots_[hole] != address) {
      if (!slots_[hole]) return;
      hole = next(hole);
    }
    // The entries after the hole move up into it when their probes pass it, so that no
    // probe stops at the hole before reaching them.
    for (size_t i = next(hole); slots_[i]; i = next(i)) {
      size_t travelled = (i - home(slots_[i])) & mask();
      if (travelled >= ((i - hole) & mask())) {
        slots_[hole] = slots_[i];
        hole = i;
      }
    }
    slots_[hole] = nullptr;
    --count_;
  }
  size_t size() const { return count_; }

 private:
  size_t mask() const { return slots_.size() - 1; }
  size_t next(size_t i) const { return (i + 1) & mask(); }
  size_t home(const void* address) const {
    return size_t((uint32_t(reinterpret_cast<uintptr_t>(address)) * 2654435769u) >> shift_);
  }
  void grow() {
    std::vector<const void*> old(slots_.empty() ? 64 : slots_.size() * 2, nullptr);
    old.swap(slots_);
    shift_ = 32;
    for (size_t size = slots_.size(); size > 1; size >>= 1) --shift_;
    for (const void* address : old) {
      if (!address) continue;
      size_t i = home(address);
      while (slots_[i]) i = next(i);
      slots_[i] = address;
    }
  }

  std::vector<const void*> slots_;
  size_t count_ = 0;
  uint32_t shift_ = 32;
};
