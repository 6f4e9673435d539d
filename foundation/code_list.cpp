// Word list nodes on the compiler pool: appending, walking, removing, and short titles
// of sources given as text.
#include "foundation/code_list.h"

#include <cstring>

#include "foundation/hashes.h"
#include "foundation/instruction_node.h"
#include "foundation/runtime_memory.h"
#include "platform/kernel/memory.h"

Pool* compiler_pool = nullptr;
uint8_t code_list_skip = 0;

namespace {

// The interned copy of a file name (intern_name lower-cases its argument in place).
char* intern_copy(const char* file_name) {
  if (file_name == nullptr) return nullptr;
  char* scratch = crt::_strdup(file_name);
  if (scratch == nullptr) return nullptr;
  char* interned = intern_name(scratch);
  crt::free(scratch);
  return interned;
}

void release_node(CodeListNode* node) {
  pool_free(compiler_pool, node->text);
  pool_free(compiler_pool, node);
}

}  // namespace

void code_list_append(CodeListNode** cursor, const char* text, const char* file_name, uint32_t line,
                      uint16_t column) {
  if (code_list_skip || cursor == nullptr) return;
  auto* node = static_cast<CodeListNode*>(pool_alloc(compiler_pool, 0, sizeof(CodeListNode)));
  if (node == nullptr) return;
  node->text = pool_strdup(compiler_pool, text ? text : "");
  if (node->text == nullptr) {
    pool_free(compiler_pool, node);
    return;
  }
  node->hash = hash_name(node->text, static_cast<int32_t>(std::strlen(node->text)));
  node->file_name = intern_copy(file_name);
  node->line = line;
  node->column = column;
  node->next = nullptr;
  node->prev = *cursor;
  if (*cursor != nullptr) {
    if ((*cursor)->next != nullptr) {
      node->next = (*cursor)->next;
      (*cursor)->next->prev = node;
    }
    (*cursor)->next = node;
  }
  *cursor = node;
}

void code_list_append_copy(CodeListNode** cursor, CodeListNode* source, const char* file_name) {
  for (CodeListNode* node = code_list_first(source); node != nullptr; node = node->next) {
    code_list_append(cursor, node->text, file_name, node->line, node->column);
  }
}

CodeListNode* code_list_first(CodeListNode* node) {
  if (node == nullptr) return nullptr;
  while (node->prev != nullptr) node = node->prev;
  return node;
}

int32_t code_list_position(CodeListNode* node) {
  int32_t count = 0;
  for (; node != nullptr; node = node->prev) ++count;
  return count;
}

CodeListNode* code_list_step(CodeListNode* node, int32_t n) {
  for (int32_t step = 0; step < n && node != nullptr; ++step) node = node->next;
  return node;
}

CodeListNode* code_list_remove(CodeListNode* node) {
  if (node == nullptr) return nullptr;
  CodeListNode* next = node->next;
  if (node->prev) node->prev->next = node->next;
  if (node->next) node->next->prev = node->prev;
  release_node(node);
  return next;
}

CodeListNode* code_list_remove_back(CodeListNode* node) {
  if (node == nullptr) return nullptr;
  CodeListNode* prev = node->prev;
  if (node->prev) node->prev->next = node->next;
  if (node->next) node->next->prev = node->prev;
  release_node(node);
  return prev;
}

void code_list_set_text(CodeListNode* node, const char* text) {
  if (node == nullptr) return;
  char* copy = pool_strdup(compiler_pool, text ? text : "");
  if (copy == nullptr) return;
  pool_free(compiler_pool, node->text);
  node->text = copy;
  node->hash = hash_name(copy, static_cast<int32_t>(std::strlen(copy)));
}

void code_list_free(CodeListNode* node) {
  if (node != nullptr && node->next != nullptr) node->next->prev = nullptr;
  while (node != nullptr) {
    CodeListNode* prev = node->prev;
    release_node(node);
    node = prev;
  }
}

InstructionNode* instruction_list_first(InstructionNode* node) {
  if (node == nullptr) return nullptr;
  while (node->previous != nullptr) node = node->previous;
  return node;
}

int32_t instruction_list_count(InstructionNode* node) {
  int32_t count = 0;
  for (node = instruction_list_first(node); node != nullptr; node = node->next) ++count;
  return count;
}

char* source_title(const char* text) {
  auto* title = static_cast<char*>(crt::calloc(21, 1));
  if (title == nullptr || text == nullptr) return title;
  size_t length;
  if (const char* newline = std::strchr(text, '\n')) {
    length = newline - text;
    // A CR LF line end leaves its CR out; a source with LF line ends has none to drop.
    if (length > 0 && text[length - 1] == '\r') --length;
  } else if (const char* semicolon = std::strchr(text, ';')) {
    length = semicolon - text;
  } else {
    length = std::strlen(text);
  }
  if (length > 20) length = 20;
  std::memcpy(title, text, length);
  return title;
}
