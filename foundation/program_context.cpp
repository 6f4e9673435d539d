// Program contexts and their list, forms, window classes, procedure lookup and the
// class name lists.
#include "foundation/program_context.h"

#include <cstring>

#include "foundation/hashes.h"
#include "foundation/live_handles.h"
#include "foundation/value_stack.h"
#include "foundation/variable_store.h"
#include "platform/kernel/memory.h"

ProgramContext* current_program = nullptr;
ProgramContext* program_list = nullptr;
ProgramContext* exiting_program = nullptr;
WindowClassEntry* window_class_list = nullptr;
void (*delete_gdi_object)(void* object) = nullptr;
uint32_t scope_cache_generation = 0;

ProgramContext* create_program_context() {
  auto* context = static_cast<ProgramContext*>(crt::calloc(1, sizeof(ProgramContext)));
  if (!context) return nullptr;
  // Four thousand million programs in one run would wrap it; 0 stays "no program".
  static uint32_t last_serial = 0;
  if (++last_serial == 0) ++last_serial;
  context->serial = last_serial;
  context->heap = HeapCreate(0, 0, 0);
  if (!context->heap) {
    crt::free(context);
    return nullptr;
  }
  ProgramContext* last = program_list;
  while (last && last->next) last = last->next;
  if (last) {
    last->next = context;
    context->prev = last;
  } else {
    program_list = context;
  }
  // A new program at the address of one that was exiting is not that program.
  if (exiting_program == context) exiting_program = nullptr;
  return context;
}

void program_list_unlink(ProgramContext* context) {
  if (context->prev) context->prev->next = context->next;
  else if (program_list == context) program_list = context->next;
  if (context->next) context->next->prev = context->prev;
  context->prev = context->next = nullptr;
}

void program_context_release(ProgramContext* context) {
  if (!context || context->run_mode == kRunModeKeep) return;
  ++scope_cache_generation;
  // A program started by another one may share its starter's class list.
  if (!context->parent || context->parent->classes != context->classes) name_nodes_free(&context->classes);
  pool_destroy(context->pool);
  context->pool = nullptr;
  program_list_unlink(context);
  if (context->run_mode == 0) {
    kept_texts_drop(context);
    // Every cell, variable and form record of the program lives on its heap.
    live_handles_forget_heap(context->heap);
    HeapDestroy(context->heap);
    context->heap = nullptr;
    context->stack_top = nullptr;
  }
  context_release_owned(context);
  if (current_program == context) current_program = nullptr;
  crt::free(context->name);
  crt::free(context->path);
  crt::free(context);
}

// ---- Forms ----

FormRecord* context_add_form(ProgramContext* context, HANDLE id, uint32_t class_block, uint32_t menu_bar,
                             uint32_t procedure) {
  auto* form = static_cast<FormRecord*>(HeapAlloc(context->heap, HEAP_ZERO_MEMORY, sizeof(FormRecord)));
  if (!form) return nullptr;
  form->window = id;
  form->class_block = platform::pointer_from<void>(class_block);
  form->menu_bar = platform::pointer_from<void>(menu_bar);
  form->procedure = platform::pointer_from<InstructionNode>(procedure);
  if (!context->forms) {
    form->first_form = 1;
    context->forms = form;
  } else {
    FormRecord* last = context->forms;
    while (last->next) last = last->next;
    last->next = form;
  }
  return form;
}

FormRecord* find_form_record(HANDLE id, ProgramContext** owner) {
  for (ProgramContext* context = program_list; context; context = context->next) {
    for (FormRecord* form = context->forms; form; form = form->next) {
      if (form->window != id) continue;
      if (owner) *owner = context;
      return form;
    }
  }
  return nullptr;
}

void remove_form_record(HANDLE id) {
  for (ProgramContext* context = program_list; context; context = context->next) {
    FormRecord* previous = nullptr;
    for (FormRecord* form = context->forms; form; previous = form, form = form->next) {
      if (form->window != id) continue;
      crt::free(form->activation_record);
      crt::free(form->user_text);
      if (form->font && !form->font_from_script && delete_gdi_object) delete_gdi_object(form->font);
      if (previous) previous->next = form->next;
      else context->forms = form->next;
      HeapFree(context->heap, 0, form);
      return;
    }
  }
}

// ---- Window classes ----

// Entries and names come from the C allocator: the list outlives the program that
// registered a class, whose heap ends with it.
WindowClassEntry* window_class_add(const char* name, uint32_t value) {
  auto* entry = static_cast<WindowClassEntry*>(crt::calloc(1, sizeof(WindowClassEntry)));
  if (!entry) return nullptr;
  entry->name = crt::_strdup(name);
  if (!entry->name) {
    crt::free(entry);
    return nullptr;
  }
  entry->hash = hash_name_text(name);
  entry->value = value;
  WindowClassEntry* last = window_class_list;
  while (last && last->next) last = last->next;
  if (last) last->next = entry;
  else window_class_list = entry;
  return entry;
}

WindowClassEntry* window_class_find(const char* name) {
  uint32_t hash = hash_name_text(name);
  for (WindowClassEntry* entry = window_class_list; entry; entry = entry->next) {
    if (entry->hash == hash) return entry;
  }
  return nullptr;
}

void window_class_remove(const char* name) {
  uint32_t hash = hash_name_text(name);
  WindowClassEntry* previous = nullptr;
  for (WindowClassEntry* entry = window_class_list; entry; previous = entry, entry = entry->next) {
    if (entry->hash != hash) continue;
    if (previous) previous->next = entry->next;
    else window_class_list = entry->next;
    crt::free(entry->name);
    crt::free(entry);
    return;
  }
}

// ---- Procedures ----

bool signature_matches(const char* signature, const char* name) {
  if (!signature || !name) return false;
  if (!std::strchr(name, '(')) {
    // A plain name is the signature's whole name part, not a prefix of it.
    const char* parenthesis = std::strchr(signature, '(');
    size_t length = parenthesis ? static_cast<size_t>(parenthesis - signature) : std::strlen(signature);
    return std::strlen(name) == length && std::strncmp(signature, name, length) == 0;
  }
  const char* comma = std::strchr(signature, ',');
  if (comma && comma[1] != '0') {
    // Name and first number agree; the searched first number must end at the same place.
    size_t length = static_cast<size_t>(comma - signature);
    return std::strncmp(signature, name, length) == 0 && name[length] == ',';
  }
  return std::strncmp(signature, name, std::strlen(name)) == 0;
}

InstructionNode* find_procedure(ProgramContext* context, const char* name) {
  uint32_t count = context->procedure_count;
  if (count > static_cast<uint32_t>(kProcedureSlots)) count = kProcedureSlots;
  for (uint32_t index = 0; index < count; ++index) {
    ProcedureTableEntry* entry = context->procedures[index];
    if (entry && signature_matches(entry->signature, name)) return entry->procedure;
  }
  return nullptr;
}

InstructionNode* find_class_procedure(InstructionNode* code, uint32_t key, const char* name) {
  for (InstructionNode* node = code; node; node = node->previous) {
    if (platform::address_of(reinterpret_cast<const void*>(node->handler)) != key) continue;
    if (!node->text || std::strlen(node->text) < 4) continue;
    if (signature_matches(node->text + 4, name)) return node;
  }
  return nullptr;
}

namespace {

// The pool of a loaded program that holds node: the running program and those it was made
// by first (where the code of a running procedure almost always lies), then every other.
Pool* owner_pool(const InstructionNode* node) {
  constexpr int kMaxParents = 64;
  int parents = 0;
  for (ProgramContext* program = current_program; program && parents < kMaxParents; program = program->parent) {
    if (pool_holds(program->pool, node)) return program->pool;
    ++parents;
  }
  for (ProgramContext* program = program_list; program; program = program->next) {
    if (pool_holds(program->pool, node)) return program->pool;
  }
  return nullptr;
}

}  // namespace

InstructionExtension* instruction_extension_for(InstructionNode* node, Pool* fallback) {
  if (!node) return nullptr;
  if (node->extension) return node->extension;
  Pool* pool = owner_pool(node);
  if (!pool && pool_holds(fallback, node)) pool = fallback;
  if (!pool) return nullptr;
  node->extension = static_cast<InstructionExtension*>(pool_alloc(pool, 0, sizeof(InstructionExtension)));
  return node->extension;
}

// ---- Class name lists ----

NameNode* name_node_push(NameNode** head) {
  auto* node = static_cast<NameNode*>(crt::calloc(1, sizeof(NameNode)));
  if (!node) return nullptr;
  node->next = *head;
  *head = node;
  return node;
}

NameNode* name_node_find(NameNode* head, const char* name) {
  uint32_t hash = hash_name_text(name);
  for (NameNode* node = head; node; node = node->next) {
    if (node->hash == hash) return node;
  }
  return nullptr;
}

void name_nodes_free(NameNode** head) {
  NameNode* node = *head;
  while (node) {
    NameNode* next = node->next;
    crt::free(node->name);
    crt::free(node->parent_name);
    crt::free(node);
    node = next;
  }
  *head = nullptr;
}
