// Runtime memory: element sizes by type code, block pools, the owned allocations of a
// program, interned names, allocation tracking, block sizes and structure member lists.
#pragma once

#include <cstdint>

struct ProgramContext;
struct Variable;

// Size in bytes of one element of the given type code.
uint32_t type_size(int32_t type_code);

// ---- Block pools: many small records that die together ----

struct PoolBlock {
  uint8_t* data;  // zero-filled block of the pool's block size; null once released
  uint32_t used;
  uint32_t live;
  PoolBlock* older;
};

struct Pool {
  PoolBlock* current;
  uint32_t block_size;
};

// pool_alloc flag: a little-endian u32 with the bytes taken precedes the result.
constexpr uint32_t kPoolSizePrefix = 0x100;

// A new empty pool whose blocks hold block_size bytes; null when memory runs out.
Pool* pool_create(uint32_t block_size);
// size rounded up to 4 bytes (plus 4 with kPoolSizePrefix), zeroed; null when that
// exceeds the block size or memory runs out.
void* pool_alloc(Pool* pool, uint32_t flags, uint32_t size);
// Counts the allocation out of its block and releases the block's data at the last one;
// a pointer of no block is ignored.
void pool_free(Pool* pool, void* pointer);
// True when pointer lies in memory the pool handed out; false for null.
bool pool_holds(const Pool* pool, const void* pointer);
// Releases every block and the pool itself; null is ignored.
void pool_destroy(Pool* pool);
// A copy of text with its zero, from the pool.
char* pool_strdup(Pool* pool, const char* text);

// ---- Owned allocations of a program ----

// Kinds of owned allocation.
constexpr uint32_t kOwnedMemory = 32;        // crt::malloc block, released with crt::free
constexpr uint32_t kOwnedComObject = 'X';    // COM dispatch wrapper

struct OwnedAllocation {
  void* pointer;
  uint32_t depth;
  uint32_t kind;
  OwnedAllocation* next;
  OwnedAllocation* previous;
};

// How a COM dispatch wrapper is released; filled by the COM layer. The steps run in
// this order: release its interfaces, CoUninitialize, delete it. A missing step is skipped.
struct ComObjectRelease {
  void (*release)(void* wrapper);
  void (*uninitialize)();
  void (*destroy)(void* wrapper);
};
extern ComObjectRelease com_object_release;

// Depth at which results returned to native code (call depth 0) are owned: released by
// call_script_handler once it has read them, else when the program ends.
constexpr uint32_t kReturnedToNativeDepth = 0x7FFFFFFF;

// Registers pointer at the front of the context's list at depth (0: its call_depth).
// False when memory for the record runs out (the pointer is then not owned).
bool context_own_allocation(ProgramContext* context, void* pointer, uint32_t depth, uint32_t kind);
// Unlinks and releases every allocation registered at exactly depth: memory blocks are
// freed, COM objects released; other kinds only lose their record. A block that a cell of
// the context's value stack still holds as its value (left there by a push, or by a call
// that an error ended before its RETURN) is not freed: it moves to the depth around.
void context_release_depth(ProgramContext* context, uint32_t depth);
// Releases every allocation of the context as at the end of a depth, and also deletes
// objects of other kinds' records; the list ends empty. Run when the program ends.
void context_release_owned(ProgramContext* context);
// Removes every record of pointer without touching the memory: the caller now owns it.
void context_disown_pointer(ProgramContext* context, const void* pointer);
// True when pointer is the memory block registered last (the front of the list).
bool context_newest_allocation_is(const ProgramContext* context, const void* pointer);
// The newest record names replacement instead (a block that was reallocated).
void context_replace_newest_allocation(ProgramContext* context, void* replacement);
// Removes the newest record without touching its memory: the caller now owns it.
void context_take_newest_allocation(ProgramContext* context);

// ---- Interned lower-case names ----

struct InternedName {
  char* text;
  uint32_t hash;
  InternedName* next;
};

// Lower-cases text in place and returns the one interned copy with its hash (names
// with equal hashes share it); null gives null.
char* intern_name(char* text);
// Frees every interned name.
void interned_names_free();
// The first interned name, for reports and tests.
InternedName* interned_names_first();

// ---- Allocation tracking for the memory report ----

struct TrackedAllocation {
  char* name;
  uint32_t hash;
  char* label;
  uint32_t tag;
  void* pointer;
  uint32_t size;
  TrackedAllocation* next;
  TrackedAllocation* previous;
};

extern uint8_t memory_tracking;        // set by the "Y" switch
extern char* tracking_label;           // copied into each new record when set
extern TrackedAllocation* tracked_allocations;  // newest first

// Records an allocation: name null takes the running program's name, size 0 asks the
// block size. Nothing is recorded when memory runs out.
void track_allocation(const char* name, uint32_t tag, void* pointer, uint32_t size);
// Drops the first record of pointer; a pointer without one is ignored.
void untrack_allocation(const void* pointer);

// ---- Block sizes, variable data and member lists ----

// The size a crt::malloc block was asked with: the length of every heap text and data
// block of the runtime. 0 for null, for a pointer that is no such block and after a fault.
uint32_t alloc_block_size(const void* pointer);
// True when pointer is such a block, its size (0 for a zero-sized block) in *size.
bool alloc_block_known(const void* pointer, uint32_t* size);
// The length of an 8-bit text, ending at the end of its block when it is such a block
// (a block that holds a number's bytes, or is filled to its end, has no terminator).
uint32_t block_text_length(const char* text);
// Frees the data block of a variable that owns it or holds an object (untracking it
// while tracking is on) and clears the data pointer.
void variable_free_data(ProgramContext* context, Variable* variable);
// The first variable of the chain (through next) whose hash is that of name; null if none.
Variable* find_variable_in_list(Variable* first, const char* name);
// Appends a MemberNode for member at the end of the structure's member list; false
// when memory runs out.
bool member_list_add(Variable* structure, Variable* member);
// Frees every MemberNode of the structure's member list (not the members) and empties it.
void member_list_free(Variable* structure);
