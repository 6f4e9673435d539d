// Addresses the runtime hands to scripts as numbers (memory pools, evaluation scopes,
// object records): a built-in given a number checks it here before using it, so a freed,
// foreign or made-up number is refused instead of followed.
#pragma once

#include <cstdint>

enum class LiveHandleKind : uint8_t { MemoryPool, EvaluationScope, ObjectRecord };

// Records a live handle; heap is the program heap it lives on (null: none), whose
// destruction ends it.
void live_handle_add(LiveHandleKind kind, const void* address, const void* heap);
// True when address is a live handle of kind.
bool live_handle_is(LiveHandleKind kind, const void* address);
// Ends a handle; false when it was not a live handle of kind.
bool live_handle_remove(LiveHandleKind kind, const void* address);
// Ends every handle that lives on heap (the heap is being destroyed).
void live_handles_forget_heap(const void* heap);
