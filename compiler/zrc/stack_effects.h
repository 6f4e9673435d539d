// The check of a loaded instruction list's value-stack use, done once when a compiled
// file is read: the handlers take their operands from the stack on trust, so a list in
// which an instruction was replaced by one that takes more cells than its procedure has
// pushed, or jumps out of its procedure, is refused before it runs.
#pragma once

#include <unordered_map>

#include "foundation/instruction_node.h"
#include "vm/builtin_registry.h"

// The built-in that each INTERNALCALL node of the list calls.
using CalledBuiltins = std::unordered_map<const InstructionNode*, const BuiltinEntry*>;

// Walks every procedure of the list that starts at first (and the code outside
// procedures when the list has none; that code is what runs then) along each path of its
// jumps, counting the cells and stack marks it holds above what its caller gave it. False
// when some instruction takes cells or a mark the path does not hold, a jump or link
// leaves its procedure, a link sits on an instruction that uses none, or a count is
// beyond any the compiler writes. Where an instruction's effect depends on what runs
// (a method call, a variadic procedure, the stack built-ins), the path is not followed
// further: the check never refuses what the compiler writes.
bool stack_effects_are_sound(const InstructionNode* first, const CalledBuiltins& builtins, bool has_procedures);
