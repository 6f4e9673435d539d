// Instruction listing: the opcode name of a node and the one-line text the debugger and
// the error report show for it.
#include "vm/listing.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "foundation/opcodes.h"
#include "foundation/conversion.h"
#include "foundation/hashes.h"
#include "foundation/numbers.h"
#include "foundation/string_helpers.h"
#include "platform/kernel/crt.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/types.h"
#include "vm/builtin_registry.h"
#include "vm/external_call.h"
#include "vm/fusion.h"

namespace {

constexpr uint32_t kOpcodeStartProc = 1;
constexpr uint32_t kOpcodeEndProc = 2;
constexpr uint32_t kOpcodeBranch = 3;
constexpr uint32_t kOpcodePushInt = 4;
constexpr uint32_t kOpcodePushStr = 5;
constexpr uint32_t kOpcodePushVar = 6;
constexpr uint32_t kOpcodeNgPushVar = 7;
constexpr uint32_t kOpcodeParmsPushVar = 10;
constexpr uint32_t kOpcodeIf = 12;
constexpr uint32_t kOpcodeWhile = 14;
constexpr uint32_t kOpcodeUntil = 18;
constexpr uint32_t kOpcodePushProcAddr = 20;
constexpr uint32_t kOpcodePullCase = 21;
constexpr uint32_t kOpcodePushCase = 22;
constexpr uint32_t kOpcodeReturn = 24;
constexpr uint32_t kOpcodeCall = 25;
constexpr uint32_t kOpcodeSelfCall = 26;
constexpr uint32_t kOpcodeObjRun = 27;
constexpr uint32_t kOpcodeInternalCall = 34;
constexpr uint32_t kOpcodeElse = 85;

// Operand forms by opcode, for handlers no unit registered.
struct OpcodeForm {
  uint32_t opcode;
  ListingOperand form;
};
constexpr OpcodeForm kOpcodeForms[] = {
    {kOpcodePushInt, ListingOperand::Number},
    {kOpcodePushStr, ListingOperand::QuotedText},
    {kOpcodePushVar, ListingOperand::Text},
    {kOpcodeNgPushVar, ListingOperand::Text},
    {56, ListingOperand::SecondThenText},        // PUSHVARSTR
    {57, ListingOperand::SecondThenText},        // PUSHNGVARSTR
    {53, ListingOperand::QuotedSecondThenText},  // PUSHSTRVAR
    {47, ListingOperand::NumberPair},            // PUSHINTINT
    {48, ListingOperand::NumberThenQuoted},      // PUSHINTSTR
    {87, ListingOperand::QuotedThenNumber},      // PUSHSTRINT
    {52, ListingOperand::NumberThenText},        // PUSHINTVAR
    {49, ListingOperand::TextThenNumber},        // PUSHVARINT
    {50, ListingOperand::TextThenNumber},        // PUSHNGVARINT
    {54, ListingOperand::QuotedPair},            // PUSHSTRSTR
    {106, ListingOperand::TextPair},             // PUSHVARVAR
    {107, ListingOperand::TextPair},             // PARMSPUSHVARVAR
    {108, ListingOperand::TextPair},             // NGPUSHVARVAR
    {59, ListingOperand::TextThenQuotedSecond},  // "=4"
    {kOpcodePushCase, ListingOperand::Number},
    {51, ListingOperand::CaseLabel},             // PUSHINTCASE
    {kOpcodePullCase, ListingOperand::IntegerOperand},
    {kOpcodeObjRun, ListingOperand::Text},
    {kOpcodeEndProc, ListingOperand::Text},
    {kOpcodeStartProc, ListingOperand::Text},
    {kOpcodeParmsPushVar, ListingOperand::Text},
    {kOpcodeReturn, ListingOperand::Text},
    {kOpcodePushProcAddr, ListingOperand::Text},
    // Fused operators on a named variable, and the fused comparisons with a constant.
    {35, ListingOperand::Text}, {36, ListingOperand::Text}, {37, ListingOperand::Text},
    {38, ListingOperand::Text}, {81, ListingOperand::Text}, {82, ListingOperand::Text},
    {83, ListingOperand::Text}, {60, ListingOperand::TextThenNumber}, {61, ListingOperand::TextThenNumber},
    {65, ListingOperand::Number}, {66, ListingOperand::Number}, {67, ListingOperand::Number},
    {68, ListingOperand::Number}, {69, ListingOperand::Number}, {88, ListingOperand::Number},
    // Arithmetic with a constant, a text or a variable and a number, in push order.
    {70, ListingOperand::Number}, {72, ListingOperand::Number}, {74, ListingOperand::Number},
    {75, ListingOperand::Number}, {71, ListingOperand::QuotedText}, {73, ListingOperand::QuotedText},
    {97, ListingOperand::TextThenNumber}, {99, ListingOperand::TextThenNumber},
    {101, ListingOperand::TextThenNumber}, {103, ListingOperand::TextThenNumber},
    {98, ListingOperand::NumberThenText}, {100, ListingOperand::NumberThenText},
    {102, ListingOperand::NumberThenText}, {104, ListingOperand::NumberThenText},
    // Stores into a named variable, the constant offset and the fused ADDR.
    {33, ListingOperand::Text}, {58, ListingOperand::TextThenNumber}, {76, ListingOperand::TextThenNumber},
    {77, ListingOperand::Text},
};

constexpr int kRegistrationSlots = 256;

struct HandlerForm {
  BuiltinHandler handler;
  ListingOperand form;
};
struct HandlerAnnotation {
  BuiltinHandler handler;
  ListingAnnotation annotation;
};
HandlerForm registered_forms[kRegistrationSlots];
int registered_form_count = 0;
HandlerAnnotation registered_annotations[16];
int registered_annotation_count = 0;

bool registered_form(BuiltinHandler handler, ListingOperand* form) {
  for (int index = 0; index < registered_form_count; ++index) {
    if (registered_forms[index].handler == handler) {
      *form = registered_forms[index].form;
      return true;
    }
  }
  return false;
}

// The handler registered under name, or null.
BuiltinHandler builtin_handler_named(const char* upper_name) {
  int32_t index = find_builtin_by_hash(hash_name_text(upper_name));
  BuiltinEntry* entry = builtin_entry(index);
  return entry ? entry->handler : nullptr;
}

ListingAnnotation annotation_of(BuiltinHandler outer) {
  for (int index = 0; index < registered_annotation_count; ++index) {
    if (registered_annotations[index].handler == outer) return registered_annotations[index].annotation;
  }
  if (outer == builtin_handler_named("__SAVESP")) return ListingAnnotation::SaveSp;
  if (outer == builtin_handler_named("__SAVESP2")) return ListingAnnotation::SaveSp2;
  if (outer == builtin_handler_named("DROPSTACK")) return ListingAnnotation::DropStack;
  return ListingAnnotation::None;
}

// Where execution goes on after a jump to the node's link.
uint32_t link_successor(const InstructionNode* instruction) {
  const InstructionNode* link = instruction->extension ? instruction->extension->link : nullptr;
  return link ? platform::address_of(link->next) : 0;
}

bool is_external_call(uint32_t opcode) {
  return opcode >= kFirstExternalCallOpcode && opcode <= kLastExternalCallOpcode;
}

ListingOperand operand_form(const InstructionNode* instruction) {
  BuiltinHandler chosen = instruction->inner_handler ? instruction->inner_handler : unfused_handler(instruction->handler);
  ListingOperand form;
  if (registered_form(chosen, &form)) return form;
  uint32_t opcode = instruction->opcode;
  for (const OpcodeForm& entry : kOpcodeForms) {
    if (entry.opcode == opcode) return entry.form;
  }
  if ((opcode == kOpcodeCall || opcode == kOpcodeSelfCall) && chosen != builtin_handler_named("CALL")) {
    return ListingOperand::CallTarget;
  }
  if (opcode == kOpcodeBranch || opcode == kOpcodeIf || opcode == kOpcodeWhile || opcode == kOpcodeUntil ||
      opcode == kOpcodeElse) {
    return ListingOperand::JumpTarget;
  }
  return ListingOperand::None;
}

// A text as listed: longer than 30 characters, only its first 29.
std::string listed(const char* text) {
  if (!text) return std::string();
  size_t length = std::strlen(text);
  return std::string(text, length > 30 ? 29 : length);
}

std::string formatted(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  va_list copy;
  va_copy(copy, arguments);
  int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string result(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  if (length > 0) std::vsnprintf(result.data(), result.size() + 1, format, arguments);
  va_end(arguments);
  return result;
}

std::string operand_column(const InstructionNode* instruction, ListingOperand form) {
  std::string text = listed(instruction->text);
  auto second = [instruction] {
    return listed(platform::pointer_from<char>(static_cast<uint32_t>(truncate_to_int(instruction->operand))));
  };
  std::string number = number_string(instruction->operand);
  switch (form) {
    case ListingOperand::None: return std::string();
    case ListingOperand::Number: return number;
    case ListingOperand::Text: return text;
    case ListingOperand::QuotedText: return "\"" + text + "\"";
    case ListingOperand::SecondThenText: return second() + ", \"" + text + "\"";
    case ListingOperand::QuotedSecondThenText: return "\"" + second() + "\", " + text;
    case ListingOperand::NumberPair: {
      double first = 0;
      if (instruction->text) std::memcpy(&first, instruction->text, sizeof first);
      return number_string(first) + ", " + number;
    }
    case ListingOperand::NumberThenQuoted: return number + ", \"" + text + "\"";
    case ListingOperand::QuotedThenNumber: return "\"" + text + "\", " + number;
    case ListingOperand::NumberThenText: return number + ", " + text;
    case ListingOperand::TextThenNumber: return text + ", " + number;
    case ListingOperand::QuotedPair: return "\"" + text + "\", \"" + second() + "\"";
    case ListingOperand::TextPair: return text + ", " + second();
    case ListingOperand::TextThenQuotedSecond: return text + ", \"" + second() + "\"";
    case ListingOperand::CaseLabel:
      return text + ", " + number + formatted(", 0x%x", link_successor(instruction));
    case ListingOperand::IntegerOperand: return formatted("%d", truncate_to_int(instruction->operand));
    case ListingOperand::CallTarget: return text + formatted(", 0x%x", link_successor(instruction));
    case ListingOperand::JumpTarget: return formatted("0x%x", link_successor(instruction));
  }
  return std::string();
}

std::string annotation_text(const InstructionNode* instruction) {
  if (!instruction->inner_handler) return std::string();
  switch (annotation_of(unfused_handler(instruction->handler))) {
    case ListingAnnotation::None: return std::string();
    case ListingAnnotation::SaveSp: return "(savesp) ";
    case ListingAnnotation::SaveSp2: return "(savesp2) ";
    case ListingAnnotation::ConditionalJump: return formatted("(jeq 0X%x) ", link_successor(instruction));
    case ListingAnnotation::Jump: return formatted("(jmp 0X%x) ", link_successor(instruction));
    case ListingAnnotation::DropStack: return "(dropstack) ";
  }
  return std::string();
}

}  // namespace

void listing_register_operand(BuiltinHandler handler, ListingOperand form) {
  for (int index = 0; index < registered_form_count; ++index) {
    if (registered_forms[index].handler == handler) {
      registered_forms[index].form = form;
      return;
    }
  }
  if (handler && registered_form_count < kRegistrationSlots) registered_forms[registered_form_count++] = {handler, form};
}

void listing_register_annotation(BuiltinHandler handler, ListingAnnotation annotation) {
  for (int index = 0; index < registered_annotation_count; ++index) {
    if (registered_annotations[index].handler == handler) {
      registered_annotations[index].annotation = annotation;
      return;
    }
  }
  constexpr int kAnnotationSlots = sizeof(registered_annotations) / sizeof(registered_annotations[0]);
  if (handler && registered_annotation_count < kAnnotationSlots) {
    registered_annotations[registered_annotation_count++] = {handler, annotation};
  }
}

void listing_registrations_clear() {
  registered_form_count = 0;
  registered_annotation_count = 0;
}

const char* opcode_name(const InstructionNode* instruction) {
  if (!instruction) return nullptr;
  if (instruction->opcode == kOpcodeInternalCall) {
    BuiltinHandler handler = instruction->inner_handler ? instruction->inner_handler : unfused_handler(instruction->handler);
    for (int32_t index = 0; index < builtin_registry.count; ++index) {
      BuiltinEntry* entry = builtin_registry.entries[index];
      if (entry && entry->handler && entry->handler == handler) return entry->name;
    }
    return nullptr;
  }
  if (is_external_call(instruction->opcode)) {
    BuiltinEntry* entry = builtin_entry(truncate_to_int(instruction->operand));
    return entry ? entry->name : nullptr;
  }
  return opcode_name(static_cast<int>(instruction->opcode));
}

char* instruction_listing_line(const InstructionNode* instruction) {
  const char* name = opcode_name(instruction);
  std::string operands;
  if (is_external_call(instruction->opcode)) {
    // The declared function goes to the operand column, the call family to the name.
    operands = name ? name : "";
    name = opcode_name(static_cast<int>(instruction->opcode));
  } else {
    operands = operand_column(instruction, operand_form(instruction));
  }
  std::string line = formatted("0x%x|   %-20s %s%s", platform::address_of(instruction), name ? name : "",
                               annotation_text(instruction).c_str(), operands.c_str());
  char* result = static_cast<char*>(crt::malloc(line.size() + 1));
  if (result) std::memcpy(result, line.c_str(), line.size() + 1);
  return result;
}
