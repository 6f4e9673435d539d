// The control-flow instructions: branches, counted and collection loops, CASE tests and
// TRY blocks. Each handler moves current_instruction; a jump continues at the target's
// successor.
#pragma once

#include <cstdint>

#include "foundation/instruction_node.h"
#include "vm/builtin_arguments.h"

struct ValueCell;

// Handlers carry their instruction names; the namespace keeps them apart from test helpers.
namespace flow {

// STARTPROC, STARTPROCUNDEF: nothing.
void vm_nop();
// BRANCH: jump to the link.
void op_branch();
// IF, WHILE, UNTIL: runs a fused comparison first when there is one; jumps to the link
// when the top cell is false (the number 0 without text), then pops it.
void op_branch_if_false();
// INITFOR, INITFOREACH, INITWHILE: one loop deeper (owned allocations die with it) and,
// for FOR and FOREACH, the loop's first pass is recorded for this depth of this call.
void op_initfor();
void op_initforeach();
void op_initwhile();
// FOR: above a mark the loop variable, start, limit and optionally the step; stores the
// start on the first pass, else adds the step; jumps to the link once past the limit.
void op_for();
// FOREACH: above a mark the result variable and optionally the collection (a list, a
// packed list, an array or a structure's members); the operand non-zero walks backward.
// Jumps to the link at the end of the collection.
void op_foreach();
// BREAK: drops the innermost loop state of the linked FOREACH.
void op_break();
// ENDLOOP: frees the loop depth's owned allocations and leaves the depth.
void op_endloop();
// PULLCASE: pops the CASE selector into the slot the operand names.
void op_pullcase();
// PUSHCASE: compares the selector with the work word's count of labels on the stack;
// the first match pops the rest and runs the body, no match jumps to the next CASE.
void op_pushcase();
// PUSHINTCASE: pushes the number label the text field points at, then as PUSHCASE.
void op_pushintcase();
// TRY: opens a block whose faults resume after the linked EXCEPT instruction.
void op_try();
// EXPECT, EXCEPT: closes the innermost TRY block. A fault that resumes at a TRY's handler
// closes its block itself, so an EXCEPT standing where it resumed closes nothing more.
void op_leave_try();
// FIRST_OP, FORWARDPROC: completes a pending forward link with the next instruction.
void op_first_op();

}  // namespace flow

// True when node carries a conditional branch folded into it (the branch is its handler,
// the instruction it follows the inner one): its link is the branch's target, and the
// inner handler must keep nothing there.
inline bool carries_folded_branch(const InstructionNode* node) {
  return node->inner_handler && node->handler == flow::op_branch_if_false;
}

// The cursors of the FOREACH walks running now, newest first (null when none runs).
struct IterationCursor;
struct ProgramContext;
extern IterationCursor* open_cursors;
// A call's end, or a fault resuming at a TRY, leaves program's loop levels above depth:
// the walks those loops left by RETURN, EXIT or the fault drop their cursors.
void foreach_leave_levels(ProgramContext* program, int32_t depth);

// Cleared by every conditional branch; set by INITWHILE.
extern uint8_t while_first_pass;
// A node whose link the next FIRST_OP sets to its successor; null when none is pending.
extern InstructionNode* pending_forward_link;

// True while the loop opened at the running depth has not had its first FOR pass: that
// pass starts the counter instead of stepping it.
bool loop_first_pass_pending();

// A cell is false when its number is 0 and it carries no text.
bool cell_is_true(const ValueCell* cell);

// Frees a FOREACH instruction's loop-state chain (its work word).
void foreach_state_release(uint32_t chain);

// Registers every control-flow handler by its instruction name, and the FOREACH handler
// as the owner of its loop-state chain.
void register_control_flow_handlers();
