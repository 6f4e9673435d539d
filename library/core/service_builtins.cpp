// Block compression with the runtime's codecs, script memory pools over the runtime's
// pool allocator, the compiler's quiet switch and 8-bit text on the clipboard. Blocks and
// pools travel as numbers holding their address.
#include "library/core/service_builtins.h"

#include <cstdint>
#include <cstring>

#include "compiler/driver/compile_and_run.h"
#include "foundation/codecs.h"
#include "foundation/conversion.h"
#include "foundation/live_handles.h"
#include "foundation/machine_state.h"
#include "foundation/runtime_error.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_stack.h"
#include "platform/platform.h"
#include "vm/builtin_arguments.h"
#include "vm/builtin_registry.h"

namespace {

// ---- compress and uncompress ----

enum CodecMethod : int32_t { kRunLength = 0, kPrefixCode = 1, kBackReferences = 2 };

struct CodecCall {
  int32_t method;
  const uint8_t* source;
  uint8_t* destination;
  int32_t size;
};

// Arguments of compress and uncompress: (method, source, destination, size).
CodecCall pop_codec_call() {
  CodecCall call{};
  call.size = pop_integer();
  call.destination = platform::pointer_from<uint8_t>(pop_address());
  call.source = platform::pointer_from<const uint8_t>(pop_address());
  call.method = pop_integer();
  return call;
}

// A source that is a heap block of known size must hold the bytes asked for; other
// addresses are the script's word.
bool source_holds(const CodecCall& call, const char* builtin) {
  uint32_t known = alloc_block_size(call.source);
  if (known == 0 || call.size < 0 || static_cast<uint32_t>(call.size) <= known) return true;
  runtime_error("%s: the source block holds %u bytes, not %d", builtin, known, call.size);
  return false;
}

void builtin_compress() {
  CodecCall call = pop_codec_call();
  int64_t capacity = codec_encoded_capacity(call.method, call.size);
  if (capacity < 0 || !source_holds(call, "compress")) {
    stack_push_number(current_program, kCodecFailed);
    return;
  }
  // A heap block bounds the output by its size, a zero-sized one too; any other
  // destination is trusted to take the longest stream the codec can write.
  if (!call.destination) {
    runtime_error("compress: the destination is not a memory block");
    stack_push_number(current_program, kCodecFailed);
    return;
  }
  if (uint32_t known = 0; alloc_block_known(call.destination, &known)) capacity = known;
  if (capacity > INT32_MAX) capacity = INT32_MAX;
  int32_t written = kCodecFailed;
  switch (call.method) {
    case kRunLength:
      written = rle_encode(call.source, call.destination, call.size, static_cast<int32_t>(capacity));
      break;
    case kPrefixCode:
      written = shannon_fano_encode(call.source, call.destination, call.size, static_cast<int32_t>(capacity));
      break;
    case kBackReferences:
      written = lz_encode(call.source, call.destination, call.size, static_cast<int32_t>(capacity));
      break;
  }
  stack_push_number(current_program, written);
}

void builtin_uncompress() {
  CodecCall call = pop_codec_call();
  if (call.method < kRunLength || call.method > kBackReferences) return;
  if (!source_holds(call, "uncompress")) return;
  // A decoded length is kept by no stream: the destination block's size is the bound,
  // and the exact length for the prefix code.
  uint32_t capacity = alloc_block_size(call.destination);
  if (capacity == 0 || capacity > INT32_MAX) {
    runtime_error("uncompress: the destination is not a memory block");
    return;
  }
  int32_t result = kCodecFailed;
  switch (call.method) {
    case kRunLength:
      result = rle_decode(call.source, call.destination, call.size, static_cast<int32_t>(capacity));
      break;
    case kPrefixCode:
      result = shannon_fano_decode(call.source, call.destination, static_cast<int32_t>(capacity), call.size);
      break;
    case kBackReferences:
      result = lz_decode(call.source, call.destination, call.size, static_cast<int32_t>(capacity));
      break;
  }
  if (result == kCodecFailed) runtime_error("uncompress: the data is damaged or larger than its destination");
}

// ---- Script memory pools ----

// The pool a number names, or null when mmcreate made no such pool or it was destroyed.
Pool* pop_pool() {
  Pool* pool = platform::pointer_from<Pool>(pop_address());
  return live_handle_is(LiveHandleKind::MemoryPool, pool) ? pool : nullptr;
}

void builtin_mmcreate() {
  auto block_size = static_cast<uint32_t>(pop_integer());
  Pool* pool = pool_create(block_size);
  live_handle_add(LiveHandleKind::MemoryPool, pool, nullptr);
  stack_push_uint(platform::address_of(pool));
}

void builtin_mmdestroy() {
  Pool* pool = platform::pointer_from<Pool>(pop_address());
  if (!live_handle_remove(LiveHandleKind::MemoryPool, pool)) {
    runtime_error("mmdestroy: the argument is not a memory pool");
    return;
  }
  pool_destroy(pool);
}

void builtin_mmalloc() {
  auto size = static_cast<uint32_t>(pop_integer());
  Pool* pool = pop_pool();
  stack_push_uint(pool ? platform::address_of(pool_alloc(pool, 0, size)) : 0);
}

void builtin_mmfree() {
  void* pointer = platform::pointer_from(pop_address());
  Pool* pool = pop_pool();
  if (pool && pointer) pool_free(pool, pointer);
}

// ---- Quiet mode ----

void builtin_quietmode() { run_switches.quiet_mode = static_cast<uint32_t>(pop_integer()); }

// ---- Clipboard ----

// The clipboard's text is copied out: the clipboard may be emptied while the script
// still holds what it read.
void builtin_getclip() {
  OpenClipboard(nullptr);
  const auto* text = static_cast<const char*>(GetClipboardData(CF_TEXT));
  char* copy = text ? crt::_strdup(text) : nullptr;
  CloseClipboard();
  if (copy) {
    push_owned_text(copy);
  } else {
    stack_push_number(current_program, 0);
  }
}

// The clipboard gets its own copy: the script's text dies with the program.
void builtin_setclip() {
  ValueCell* cell = stack_pop(current_program);
  char* copy;
  if (cell->text && (cell->flags & kCellWideText)) {
    copy = to_narrow(static_cast<const char16_t*>(cell->text));
  } else {
    const char* text = cell_text(cell);
    copy = crt::_strdup(text ? text : "");
  }
  if (!copy) return;
  OpenClipboard(nullptr);
  EmptyClipboard();
  if (!SetClipboardData(CF_TEXT, copy)) crt::free(copy);
  CloseClipboard();
}

}  // namespace

void register_service_builtins() {
  const struct {
    const char* name;
    BuiltinHandler handler;
  } kBuiltins[] = {
      {"compress", builtin_compress},   {"uncompress", builtin_uncompress}, {"mmcreate", builtin_mmcreate},
      {"mmdestroy", builtin_mmdestroy}, {"mmalloc", builtin_mmalloc},       {"mmfree", builtin_mmfree},
      {"QuietMode", builtin_quietmode}, {"getclip", builtin_getclip},       {"setclip", builtin_setclip},
  };
  for (const auto& builtin : kBuiltins) builtin_register(builtin.name, builtin.handler);
}
