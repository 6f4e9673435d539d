// Script values to VARIANT arguments and VARIANT results back to script values, with the
// VARIANT type tag a cell carries to force a type.
#pragma once

#include <cstdint>

#include "library/com/dispatch_object.h"

struct ValueCell;

// The arguments of one call: a zero-filled block of kMaxComArguments VARIANTs (what the
// invoke core receives) and a working array of the member's parameter count holding the
// same values.
struct ComArgumentBlock {
  VARIANT* block;
  VARIANT* working;
  int32_t count;
};

// Builds the arguments for member from the cells (script order). Returns the member's
// parameter count, or -1 when the call is refused (more than kMaxComArguments
// parameters or arguments, a date argument at no address, no memory): the reason is
// then the wrapper's last result and the block is empty.
int32_t script_args_to_variants(ValueCell** cells, int32_t given_count, ComDispatchObject* wrapper, int32_t member,
                                ComArgumentBlock* arguments);
// Frees the texts and output VARIANTs of the working array, then both arrays.
void free_argument_block(ComArgumentBlock* arguments);

// A VARIANT as a script number; by-reference text becomes a narrow copy owned by the
// program (the number is its address).
double variant_to_script_value(const VARIANT* value);

// Calls property getter member with the cells and pushes exactly one result.
void push_variant_result(ComDispatchObject* wrapper, int32_t member, int32_t given_count, ValueCell** cells,
                         int32_t follow_default);

// Pushes a successful call's result as Invoke gives it; an object result becomes a new
// wrapper owned by the program, which takes over the entry's reference.
void push_call_result(VARIANT* result);

// A new wrapper for an object the script receives, owned by the program until
// FreeCOMObject; null when attaching fails (the wrapper is then freed).
ComDispatchObject* adopt_dispatch_for_script(IDispatch* dispatch);

// Wrappers handed to scripts: owned by the program and known as live handles. A number
// that names none of them is refused instead of being used as an address, so a stale or
// made-up handle cannot call or free through freed memory.
void give_wrapper_to_script(ComDispatchObject* wrapper);
ComDispatchObject* script_wrapper(uint32_t handle);
void forget_script_wrapper(const ComDispatchObject* wrapper);
// The interface a handle names: a live wrapper's, or an interface address that a live
// wrapper holds (what Dispatch gives); null for anything else, freed or foreign.
IDispatch* script_interface(uint32_t handle);
// Makes a wrapper that something else owns (an ActiveX site) a live handle for scripts.
void know_script_wrapper(ComDispatchObject* wrapper);

// Publishes a wrapper's last result and exception text in COMERROR% and COMERRORDESC%;
// with no wrapper COMERROR% keeps its number and the description is emptied.
void com_set_error(const ComDispatchObject* wrapper, HRESULT code);
