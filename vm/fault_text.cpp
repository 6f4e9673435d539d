// Fault texts: the table of exception codes and the two routines that format them.
#include "vm/fault_text.h"

#include <cstring>

#include "foundation/compile_messages.h"
#include "foundation/runtime_error.h"
#include "platform/kernel/crt.h"
#include "platform/kernel/memory.h"
#include "vm/machine.h"

namespace {

struct FaultName {
  DWORD code;
  const char* text;
};

// "Priviledged" is spelled as scripts have always seen it.
constexpr FaultName kFaultNames[] = {
    {EXCEPTION_DATATYPE_MISALIGNMENT, "Address misaligned"},
    {EXCEPTION_BREAKPOINT, "Breakpoint"},
    {EXCEPTION_SINGLE_STEP, "Single step"},
    {EXCEPTION_ACCESS_VIOLATION, "Access violation"},
    {EXCEPTION_ILLEGAL_INSTRUCTION, "Illegal instruction"},
    {EXCEPTION_INT_DIVIDE_BY_ZERO, "Integer divide by 0"},
    {EXCEPTION_INT_OVERFLOW, "Integer overflow"},
    {EXCEPTION_PRIV_INSTRUCTION, "Priviledged instruction"},
};

constexpr size_t kMessageChars = 1024;

// Each routine keeps its own copy of the last record, as debugger views read them apart.
EXCEPTION_RECORD context_record;
EXCEPTION_RECORD text_record;
char error_variable_text[kMessageChars] = "";

uint32_t fault_address(const EXCEPTION_RECORD& record) { return platform::address_of(record.ExceptionAddress); }

void copy_record(EXCEPTION_RECORD* into, EXCEPTION_POINTERS* pointers) {
  if (pointers && pointers->ExceptionRecord) *into = *pointers->ExceptionRecord;
}

}  // namespace

const char* fault_code_text(DWORD code) {
  for (const FaultName& name : kFaultNames) {
    if (name.code == code) return name.text;
  }
  return "Floating point, or software exception";
}

int32_t exception_message_with_context(ProgramContext* program, const char* procedure_name, DWORD code,
                                       EXCEPTION_POINTERS* pointers) {
  // Faults while EXIT unwinds its program are silent.
  if (program && program == exiting_program) return 1;
  copy_record(&context_record, pointers);
  const char* text = fault_code_text(code);
  uint32_t address = fault_address(context_record);
  char message[kMessageChars];
  if (try_depth == 0 && (!program || program->run_mode == 0)) {
    if (procedure_name) {
      crt::_snprintf(message, sizeof message - 1, "(%s)\n%s at 0x%x", procedure_name, text, address);
    } else {
      crt::_snprintf(message, sizeof message - 1, "%s at 0x%x", text, address);
    }
    message[sizeof message - 1] = '\0';
    runtime_error("%s", message);
    return 1;
  }
  crt::_snprintf(error_variable_text, sizeof error_variable_text - 1, "%s at 0x%x", text, address);
  error_variable_text[sizeof error_variable_text - 1] = '\0';
  if (set_error_variable_text) {
    set_error_variable_text(error_variable_text, static_cast<uint32_t>(std::strlen(error_variable_text) + 1));
  }
  return 1;
}

int32_t exception_text(char** text, DWORD code, EXCEPTION_POINTERS* pointers) {
  copy_record(&text_record, pointers);
  char message[kMessageChars];
  crt::_snprintf(message, sizeof message - 1, "%s at 0x%x", fault_code_text(code), fault_address(text_record));
  message[sizeof message - 1] = '\0';
  if (text) *text = crt::_strdup(message);
  return 1;
}

int32_t vm_fault_filter(DWORD code, EXCEPTION_POINTERS* pointers) {
  return exception_message_with_context(current_program, current_procedure_name, code, pointers);
}

const char* last_fault_text() { return error_variable_text; }
