// Declaration and option statements: LOCAL, GLOBAL, STATIC, PROTECT and their kin, list
// literals, getter and setter binding, the range and explicit-declaration switches,
// HALT and EXIT.
#pragma once

#include <cstdint>

struct ValueCell;
struct Variable;

// One item of a list literal: a number, or for strings and nested lists the block's
// address as a number. Items lie back to back, closed by an item of kind kMatrixEnd.
#pragma pack(push, 1)
struct MatrixItem {
  double value;
  uint8_t kind;
};
#pragma pack(pop)
static_assert(sizeof(MatrixItem) == 9, "list literal item layout");

constexpr uint8_t kMatrixNumber = 1;
constexpr uint8_t kMatrixString = 2;
constexpr uint8_t kMatrixList = 3;
constexpr uint8_t kMatrixEnd = 4;
// Slot type under which a literal's string blocks and nested lists are registered.
constexpr int32_t kMatrixSlotType = -8;

// The variable an operand cell names: the cell's variable, else the one spelled by its
// text (or its number's text), found or declared in the current scope. Null when the
// name cannot be a variable.
Variable* cell_named_variable(const ValueCell* cell);

// Statements over the variables named above the innermost mark.
void builtin_local();      // LOCAL: a global gets a local of the same name that shadows it
void builtin_global();     // GLOBAL: moves a local to the program's globals, scope key 0
void builtin_nglobal();    // NGLOBAL: the same, keeping the current scope key
void builtin_protect();    // PROTECT: stores into the variable are ignored
void builtin_unprotect();  // UNPROTECT
void builtin_private();    // private: the running object's member, not public
void builtin_public();     // public: the running object's member, public
void builtin_static();     // STATIC: the variable's data outlives the end of the call

// __MAKEMATRIX: the cells above the innermost mark become a list literal, pushed as one
// cell that owns copies of their texts and nested lists.
void builtin_makematrix();
// __NOEXPLICITCHECK: the next declaration raises no explicit-declaration error.
void builtin_noexplicitcheck();
// RANGEMODE, EXPLICITMODE: toggle the running program's switch.
void builtin_rangemode();
void builtin_explicitmode();
// @, ptr: the top cell becomes the address it holds.
void builtin_ptr();
// ReadWrite(variable, getter, setter): binds the getter and setter procedures.
void builtin_readwrite();
// HALT: shuts the game display when it is open, then ends the calling thread.
void builtin_halt();
// EXIT: ends every running procedure of the current program.
void builtin_exit();

// Registers the statements above by their script names.
void register_declaration_handlers();
