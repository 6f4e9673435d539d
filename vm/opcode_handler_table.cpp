// The handler of every opcode that has one: the machine's own instruction handlers and,
// for a few opcodes, the handler a unit registered under a built-in name.
#include "vm/opcode_handler_table.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "foundation/value_stack.h"
#include "vm/arithmetic.h"
#include "vm/assignment.h"
#include "vm/builtin_registry.h"
#include "vm/comparison.h"
#include "vm/compound_assignment.h"
#include "vm/control_flow.h"
#include "vm/declarations.h"
#include "vm/external_call.h"
#include "vm/increment.h"
#include "vm/machine.h"
#include "vm/method_call.h"
#include "vm/procedure_call.h"
#include "vm/push_instructions.h"
#include "vm/stack_builtins.h"

namespace {

// Opcodes whose handler is a registered built-in's, looked up after registration.
struct NamedOpcode {
  uint32_t opcode;
  const char* builtin_name;
};
constexpr NamedOpcode kNamedOpcodes[] = {
    {23, "addr"},      {31, "runfile"},  {39, "__offset2"}, {40, "__offset2_1"}, {76, "__offset2_2"},
    {77, "__addr2"},   {41, "__class4"}, {46, "__savesp2"}, {181, "__savesp"},   {182, "dropstack"},
};

BuiltinHandler registered_handler(const char* name) {
  int32_t index = find_builtin_by_hash(builtin_name_hash(name));
  const BuiltinEntry* entry = index >= 0 ? builtin_entry(index) : nullptr;
  return entry ? entry->handler : nullptr;
}

}  // namespace

BuiltinHandler OpcodeHandlerTable[kOpcodeHandlerSlots];

void opcode_handler_table_fill() {
  using namespace flow;
  std::fill(std::begin(OpcodeHandlerTable), std::end(OpcodeHandlerTable), nullptr);
  const std::pair<uint32_t, BuiltinHandler> fixed[] = {
      {1, vm_nop},
      {84, vm_nop},
      {2, op_endproc},
      {3, op_branch},
      {4, op_pushint},
      {5, op_pushstr},
      {6, op_pushvar},
      {7, op_ngpushvar},
      {20, op_pushprocaddr},
      {8, op_initforeach},
      {9, op_initfor},
      {185, op_initwhile},
      {186, op_endloop},
      {10, op_parmspushvar},
      {107, op_parmspushvarvar},
      {12, op_branch_if_false},
      {14, op_branch_if_false},
      {18, op_branch_if_false},
      {13, op_leave_try},
      {86, op_leave_try},
      {15, op_for},
      {16, op_foreach},
      {17, op_try},
      {19, op_break},
      {21, op_pullcase},
      {22, op_pushcase},
      {51, op_pushintcase},
      {24, op_return},
      {25, vm_call_procedure},
      {26, op_selfcall},
      {27, op_objrun},
      {28, build_args_list},
      {29, builtin_rangemode},
      {30, builtin_explicitmode},
      {33, op_assign2},
      {58, op_assign3},
      {59, op_assign4},
      {64, op_assign5},
      {35, op_increment2},
      {60, op_increment3},
      {37, op_increment4},
      {36, op_decrement2},
      {61, op_decrement3},
      {38, op_decrement4},
      {43, op_dropfctstack},
      {44, op_dropallfctstack},
      {47, op_pushintint},
      {48, op_pushintstr},
      {49, op_pushvarint},
      {50, op_pushngvarint},
      {52, op_pushintvar},
      {53, op_pushstrvar},
      {54, op_pushstrstr},
      {56, op_pushvarstr},
      {57, op_pushngvarstr},
      {87, op_pushstrint},
      {106, op_pushvarvar},
      {108, op_ngpushvarvar},
      {65, op_equal2},
      {88, op_not_equal2},
      {66, op_less2},
      {67, op_greater2},
      {68, op_less_equal2},
      {69, op_greater_equal2},
      {70, op_add2},
      {71, op_add4},
      {97, op_add5},
      {98, op_add6},
      {72, op_sub2},
      {73, op_sub4},
      {99, op_sub5},
      {100, op_sub6},
      {74, op_mul2},
      {101, op_mul5},
      {102, op_mul6},
      {75, op_div2},
      {103, op_div5},
      {104, op_div6},
      {78, op_add_assign2},
      {79, op_sub_assign2},
      {80, op_mul_assign2},
      {81, op_or_assign2},
      {82, op_xor_assign2},
      {83, op_and_assign2},
      {105, op_first_op},
      {184, op_first_op},
  };
  for (const auto& [opcode, handler] : fixed) OpcodeHandlerTable[opcode] = handler;
  // Methods are found among the procedure heads.
  procedure_head_handler = OpcodeHandlerTable[1];
  for (uint32_t opcode = kFirstExternalCallOpcode; opcode <= kLastExternalCallOpcode; ++opcode) {
    OpcodeHandlerTable[opcode] = external_call_handler(opcode);
  }
  for (const NamedOpcode& named : kNamedOpcodes) {
    OpcodeHandlerTable[named.opcode] = registered_handler(named.builtin_name);
  }
}
