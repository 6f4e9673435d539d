// The record of one loaded program, the list of all of them, their forms and
// procedure tables, and the global list of window classes.
#pragma once

#include <cstdint>

#include "foundation/instruction_node.h"
#include "foundation/runtime_memory.h"
#include "foundation/value_cell.h"
#include "foundation/variable.h"
#include "platform/kernel/types.h"

constexpr int32_t kStackMarkSlots = 1024;
constexpr int32_t kCaseSlots = 1024;
constexpr int32_t kProcedureSlots = 4096;

// run_mode of a program that keeps its data at its end.
constexpr int32_t kRunModeKeep = -4;

// A CASE selector slot.
struct CaseSlot {
  char* text;
  double number;
};

// One procedure of a program: its signature "NAME(n,m)" and its first instruction.
struct ProcedureTableEntry {
  char* signature;
  InstructionNode* procedure;
};

// A node of the class lists (calloc'd): both names are freed with crt::free.
struct NameNode {
  char* name;
  uint32_t hash;
  char* parent_name;       // null when the class has no parent
  uint32_t compiler_word;
  NameNode* next;
};

// Grows whenever cached scope entries may have been freed (a program's cache released or
// its heap destroyed): a remembered entry is trusted only while this has not moved.
extern uint32_t scope_cache_generation;

// A cached local scope of a procedure.
struct LocalScopeCacheEntry {
  Variable* scope;
  InstructionNode* procedure;
  uint8_t in_use;
  LocalScopeCacheEntry* next;
  LocalScopeCacheEntry* previous;
};

// One form, dialog or control window of a program, on the program's heap (zeroed).
struct FormRecord {
  HANDLE window;
  void* class_block;            // the WNDCLASSW given to RegisterClassW (crt::malloc'd); 0 for controls
  HANDLE menu_bar;              // the shell's menu bar window, 0 when none
  uint32_t* activation_record;  // the shell's 12-byte activation record, made on demand (crt::free)
  void* font;                   // deleted through delete_gdi_object
  uint32_t keep_open;           // non-zero: the end of the program leaves the form
  void* accelerators;           // accelerator table, 0 when none
  InstructionNode* procedure;   // the window's script procedure, 0 when none
  InstructionNode* parked_procedure;  // holds the procedure while an error box is open
  void* previous_window_proc;   // a subclassed control's previous window procedure
  char* class_name;             // 8-bit copy (crt::malloc'd)
  double user_number;           // the user value: a number, a text and a data word
  char* user_text;              // the record's own copy (crt::malloc'd)
  uint32_t user_data;
  uint8_t first_form;           // the record was the first of its program's list
  uint8_t no_setting_change;    // the shell's setting-change handling is skipped
  uint8_t shown_modally;
  uint8_t font_from_script;     // the font is one the script set (setfont): never deleted here
  uint32_t text_colour;         // COLORREF, 0 = none
  uint32_t back_colour;         // COLORREF, 0 = none
  FormRecord* next;
};
static_assert(sizeof(FormRecord) == 76, "a form record is 76 bytes");

// A registered window class, shared by all programs.
struct WindowClassEntry {
  char* name;
  uint32_t hash;
  uint32_t value;
  WindowClassEntry* next;
};

struct AsmFrameRecord;

struct ProgramContext {
  ValueCell* stack_top;
  ValueCell* stack_marks[kStackMarkSlots];
  int32_t mark_count;
  char* name;
  char* path;
  InstructionNode* code;  // the code list, walked through each node's previous link
  InstructionNode* first_instruction;
  uint32_t code_size;
  Variable* globals;
  CaseSlot case_slots[kCaseSlots];
  ProcedureTableEntry* procedures[kProcedureSlots];
  uint32_t procedure_count;
  FormRecord* forms;
  uint32_t start_ticks;
  uint32_t unique_id[2];
  uint8_t range_check;
  uint8_t explicit_declarations;
  LocalScopeCacheEntry* scope_cache;
  HANDLE heap;
  Pool* pool;
  int32_t run_mode;
  uint8_t quiet_end;
  // Set while the end of the program closes its forms: no new form or control is made for
  // it then, so procedures that open a window when one is destroyed cannot keep it going.
  uint8_t closing_forms;
  // Set once the end of the program has begun: the events and messages it raises run the
  // program's code, and their asking for its end again is refused (the end runs once).
  uint8_t ending;
  // Grows whenever the cells of the program's value stack are freed (by it or by a program
  // that shares its stack): cells held across a call into script code are trusted only
  // while it stands (foundation/value_stack.h).
  uint32_t stack_generation;
  NameNode* classes;
  ProgramContext* parent;
  uint64_t last_profile_ticks;
  OwnedAllocation* owned;
  int32_t call_depth;
  // Frames of assembled functions running under the debugger, newest first.
  AsmFrameRecord* asm_frames;
  ProgramContext* prev;
  ProgramContext* next;
  // A number no other program of this run has had (1 up, given at creation): answers that
  // call sites keep for a program are keyed by it, so a program made later at the same
  // address, or with the same identifier, never meets them.
  uint32_t serial;
};

extern ProgramContext* current_program;
extern ProgramContext* program_list;
extern ProgramContext* exiting_program;
extern WindowClassEntry* window_class_list;

// Deletes a form's GDI object; filled by the GUI layer (null: nothing to delete yet).
extern void (*delete_gdi_object)(void* object);

// A zeroed context with its own private heap, appended to program_list; clears
// exiting_program when it named this address. Null when memory runs out.
ProgramContext* create_program_context();
// Takes the context out of program_list (the next one becomes the head when it was first).
void program_list_unlink(ProgramContext* context);
// The foundation's share of the end of a program: the class list, the pool, the
// unlinking, the heap (run_mode 0 only), the owned allocations, the names and the record.
// A run_mode of kRunModeKeep leaves everything alone. Code nodes and the procedure table
// are the compiler's to free before.
void program_context_release(ProgramContext* context);

// Adds a zeroed form record at the end of the context's forms with its class block, menu
// bar and procedure words; first_form is set when the list was empty. Null when out of
// memory.
FormRecord* context_add_form(ProgramContext* context, HANDLE id, uint32_t class_block, uint32_t menu_bar,
                             uint32_t procedure);
// The form with this id in any program (and its program in *owner when given); null if none.
FormRecord* find_form_record(HANDLE id, ProgramContext** owner = nullptr);
// Frees the form's activation record and user text, deletes its own font (not one the
// script set), unlinks and frees it; an unknown id does nothing.
void remove_form_record(HANDLE id);

// Window classes, found by the hash of their name.
WindowClassEntry* window_class_add(const char* name, uint32_t value);
WindowClassEntry* window_class_find(const char* name);
void window_class_remove(const char* name);

// Whether the signature matches the searched name: a plain name matches the name part
// of the signature, "NAME(n,m)" the whole signature or, for a signature "NAME(n,m)"
// whose m is not 0, its name and first number.
bool signature_matches(const char* signature, const char* name);
// The procedure of the first table entry whose signature matches name; null if none.
InstructionNode* find_procedure(ProgramContext* context, const char* name);
// The first instruction of the code list (from code through previous links) whose handler
// is key and whose text, from its fifth character, matches name; null if none.
InstructionNode* find_class_procedure(InstructionNode* code, uint32_t key, const char* name);

// The extension of a node of running code, made when a handler first needs one: from the
// pool of the program whose code holds the node (the running program, a program it was
// made by, or another loaded one), never from the pool of a program that merely runs it
// (a procedure of the main program called from code that eval made), so that it lives as
// long as the node. A node no loaded program holds takes it from fallback when that pool
// holds it (code being compiled); else it is left without one and null is returned, as
// when memory runs out.
InstructionExtension* instruction_extension_for(InstructionNode* node, Pool* fallback = nullptr);

// A zeroed node put in front of *head; null when out of memory.
NameNode* name_node_push(NameNode** head);
// The first node whose hash is that of name; null if none.
NameNode* name_node_find(NameNode* head, const char* name);
// Frees every node and its two names; *head becomes null.
void name_nodes_free(NameNode** head);
