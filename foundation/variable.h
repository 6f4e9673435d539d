// Named values and what hangs off them: the Variable record, structure members,
// reference nodes and list elements, with their flag bits.
#pragma once

#include <cstddef>
#include <cstdint>

struct InstructionNode;
struct ProgramContext;
struct Variable;

// Bits of Variable::flags (and of list element flags).
constexpr uint32_t kVariablePublic = 0x1;
constexpr uint32_t kVariableOwnsData = 0x10;
constexpr uint32_t kVariableWideText = 0x20;
constexpr uint32_t kVariableStructure = 0x100;
constexpr uint32_t kVariablePackedList = 0x1000;
constexpr uint32_t kVariableList = 0x10000;
constexpr uint32_t kVariableObject = 0x100000;
constexpr uint32_t kVariableAdopted = 0x1000000;
constexpr uint32_t kVariableArrayFromObject = 0x10000000;

// A heap block owned from inside structure data or a packed-list item.
struct ReferenceNode {
  void* block;
  void* slot;         // where the block's address is stored; null when held outside the data
  int32_t slot_type;  // type code of the slot
  ReferenceNode* next;
  ReferenceNode* prev;
};

// One member of a structure variable, in declaration order.
struct MemberNode {
  Variable* member;
  int32_t type_code;
  uint32_t offset;
  uint32_t element_count;
  MemberNode* previous;
  MemberNode* next;
};

// How a Variable record was allocated, so one routine can free records of any list.
enum VariableAllocation : uint8_t {
  kVariableOnProgramHeap = 0,  // zeroed from the program's private heap
  kVariableOnCAllocator = 1,   // crt::calloc: the records of '%' names
};

struct ListElement;

struct Variable {
  char* name;                 // upper case; null marks a free record
  uint32_t hash;
  double number;
  void* data;
  int32_t type_code;
  uint32_t scope_key;
  uint32_t flags;
  uint32_t member_offset;
  Variable* owner;
  MemberNode* members;
  uint32_t dims[8];
  uint32_t dim_count;
  uint32_t element_count;
  uint32_t reserved1;
  ListElement* cursor;
  ListElement* pending_element;
  Variable* alias;
  ReferenceNode* references;
  InstructionNode* getter;
  InstructionNode* setter;
  uint32_t dot_offset;
  uint32_t class_hash;
  uint8_t read_only;
  // Lives in the padding after read_only, so the record keeps its size; set once when
  // the record is allocated and never touched by clearing the value.
  VariableAllocation allocation;
  uint32_t checksum;
  uint8_t column_major;
  Variable* scope;
  Variable* prev;
  Variable* next;
};
static_assert(sizeof(Variable) == 144, "variable layout");
static_assert(offsetof(Variable, number) == 8 && offsetof(Variable, checksum) == 124, "variable layout");

// Array and class description of a list element.
struct ElementInfo {
  uint32_t element_count;
  uint32_t dims[8];
  uint8_t dim_count;
  uint8_t column_major;
  uint32_t reserved1;
  uint32_t class_hash;
  InstructionNode* getter;
  InstructionNode* setter;
  void* iteration;  // FOREACH state standing on the element
};

// Structure and reference description of a list element.
struct StructInfo {
  Variable* owner;
  MemberNode* members;
  uint32_t member_offset;
  ReferenceNode* references;
};

// One element of a list variable's chain. The number follows data without alignment.
#pragma pack(push, 4)
struct ListElement {
  void* data;
  double number;
  uint32_t flags;
  uint32_t checksum;
  int32_t type_code;
  ElementInfo* info;
  StructInfo* struct_info;
  ListElement* prev;
  ListElement* next;
};
#pragma pack(pop)
static_assert(sizeof(ListElement) == 40 && offsetof(ListElement, number) == 4, "list element layout");

// A zeroed Variable record: from crt::calloc when c_allocator is set (the '%' names),
// else from the context's heap. The record remembers which; null when memory runs out.
Variable* variable_record_allocate(ProgramContext* context, bool c_allocator);

// Frees a record where variable_record_allocate took it (the context's heap for heap
// records). Frees nothing the record points at; null is ignored.
void variable_record_free(ProgramContext* context, Variable* variable);

// The first element of the chain that element belongs to; null for null.
ListElement* list_element_first(ListElement* element);
