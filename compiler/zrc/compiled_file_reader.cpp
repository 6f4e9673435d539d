// Loading a compiled program file: every field is checked against the image before it is
// used, the nodes are rebuilt with the handlers of this runtime, procedures, classes and
// declarations are registered, and links are mapped from the file's identities.
#include <cstring>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "compiler/codegen/code_generator.h"
#include "compiler/frontend/token_reader.h"
#include "compiler/linker.h"
#include "compiler/ui/status_window.h"
#include "compiler/zrc/compiled_file.h"
#include "compiler/zrc/compiled_file_format.h"
#include "compiler/zrc/stack_effects.h"
#include "foundation/compile_messages.h"
#include "foundation/file_helpers.h"
#include "foundation/hashes.h"
#include "foundation/numbers.h"
#include "foundation/program_context.h"
#include "foundation/string_helpers.h"
#include "foundation/variables.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/types.h"
#include "vm/builtin_registry.h"
#include "vm/opcode_handler_table.h"
#include "vm/instruction_list.h"
#include "vm/machine.h"
#include "vm/method_call.h"
#include "vm/push_instructions.h"

namespace {

using namespace zrc;

constexpr UINT kWarningBoxStyle = 0;

// One record as it stands in the image.
struct Record {
  uint16_t flags = 0;
  uint32_t opcode = 0;
  double number = 0.0;
  std::string text;
  std::string second_text;
  double hash = 0.0;
  uint8_t outer_code = 0;
  uint32_t work = 0;
  uint8_t scope_flag = 0;
  uint32_t extension_word = 0;
  uint32_t link = 0;
  uint32_t identity = 0;

  bool has(uint16_t flag) const { return (flags & flag) != 0; }
  const char* text_or_null() const { return has(kHasText) ? text.c_str() : nullptr; }
};

// Reads the image front to back; every take fails rather than pass the end.
class ImageReader {
 public:
  ImageReader(const uint8_t* data, size_t size, size_t offset) : data_(data), size_(size), offset_(offset) {}

  bool at_end() const { return offset_ >= size_; }
  size_t offset() const { return offset_; }

  bool bytes(void* out, size_t count) {
    if (count > size_ - offset_) return false;
    std::memcpy(out, data_ + offset_, count);
    offset_ += count;
    return true;
  }
  bool u8(uint8_t* out) { return bytes(out, 1); }
  bool u16(uint16_t* out) {
    uint8_t raw[2];
    if (!bytes(raw, 2)) return false;
    *out = static_cast<uint16_t>(raw[0] | raw[1] << 8);
    return true;
  }
  bool u32(uint32_t* out) {
    uint8_t raw[4];
    if (!bytes(raw, 4)) return false;
    *out = static_cast<uint32_t>(raw[0]) | static_cast<uint32_t>(raw[1]) << 8 | static_cast<uint32_t>(raw[2]) << 16 |
           static_cast<uint32_t>(raw[3]) << 24;
    return true;
  }
  bool f64(double* out) { return bytes(out, sizeof *out); }
  // u32 n = length + 1, then the length bytes.
  bool text(std::string* out) {
    uint32_t stored = 0;
    if (!u32(&stored) || stored == 0 || stored - 1 > size_ - offset_) return false;
    out->assign(reinterpret_cast<const char*>(data_ + offset_), stored - 1);
    offset_ += stored - 1;
    return true;
  }

  bool record(Record* record) {
    uint8_t opcode = 0;
    if (!u16(&record->flags) || !u8(&opcode)) return false;
    if (record->flags & ~kKnownFlags) return false;
    record->opcode = opcode;
    return (!record->has(kHasNumber) || f64(&record->number)) && (!record->has(kHasText) || text(&record->text)) &&
           (!record->has(kHasSecondText) || text(&record->second_text)) &&
           (!record->has(kHasHash) || f64(&record->hash)) &&
           (!record->has(kHasOuterHandler) || u8(&record->outer_code)) &&
           (!record->has(kHasWork) || u32(&record->work)) &&
           (!record->has(kHasScopeFlag) || u8(&record->scope_flag)) &&
           (!record->has(kHasExtensionWord) || u32(&record->extension_word)) &&
           (!record->has(kHasLink) || u32(&record->link)) && (!record->has(kHasIdentity) || u32(&record->identity));
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t offset_;
};

// A registered hash as an f64 field: a whole number in 31 bits, else no hash at all.
bool hash_field(double value, uint32_t* hash) {
  if (!(value >= 1.0 && value <= 2147483647.0) || value != static_cast<double>(static_cast<uint32_t>(value))) {
    return false;
  }
  *hash = static_cast<uint32_t>(value);
  return true;
}

class ProgramLoader {
 public:
  ProgramLoader(const char* path, ProgramContext* program, Pool* pool, ProcedureRecord** procedures,
                int32_t* procedure_count, uint8_t* winmain_flag)
      : path_(path ? path : ""),
        program_(program),
        pool_(pool),
        procedures_(procedures),
        procedure_count_(procedure_count),
        winmain_flag_(winmain_flag),
        first_count_(*procedure_count) {}

  // Builds the list; false (with everything made so far taken back) for a damaged image.
  bool load(const std::vector<uint8_t>& image) {
    ImageReader reader(image.data(), image.size(), kHeaderSize);
    auto total = static_cast<int32_t>(image.size());
    while (!reader.at_end()) {
      Record record;
      if (!reader.record(&record) || !take(record, reader.at_end())) {
        discard();
        return false;
      }
      status_update(nullptr, static_cast<int32_t>(reader.offset()), total);
    }
    if (pending_followers_ > 0 || pending_class_ || !resolve() || !structure_is_sound() ||
        !stack_effects_are_sound(first_, builtins_, *procedure_count_ != 0)) {
      discard();
      return false;
    }
    if (!main_entry && *procedure_count_ == 0) main_entry = first_;
    return true;
  }

  InstructionNode* first() const { return first_; }

 private:
  bool take(const Record& record, bool last) {
    if (pending_followers_ > 0) return take_declaration_value(record);
    if (pending_class_) return take_class_name(record);
    if (is_declaration(record.opcode)) {
      if (!record.has(kHasText) || last) return false;
      declaration_.clear();
      declaration_.push_back(record.text);
      pending_followers_ = kDeclarationFollowers;
      return true;
    }
    if (record.opcode == kOpClass) {
      base_class_ = record.has(kHasText) ? record.text : std::string();
      pending_class_ = true;
      return true;
    }
    if (record.opcode == kOpForwardProc) return add_forward(record);
    return add_instruction(record);
  }

  // Function name, library name, then argument count, returns-value, string-conversion
  // and convention flags.
  bool take_declaration_value(const Record& record) {
    int index = kDeclarationFollowers - pending_followers_;
    if (index < 2) {
      if (!record.has(kHasText)) return false;
      declaration_.push_back(record.text);
    } else {
      values_[index - 2] = static_cast<uint8_t>(truncate_to_int(record.number));
    }
    if (--pending_followers_ > 0) return true;
    uint8_t saved = link_declarations_now;
    link_declarations_now = 1;
    int32_t declared = external_function_declare(declaration_[0].c_str(), declaration_[1].c_str(),
                                                 declaration_[2].c_str(), values_[0], values_[1], values_[2],
                                                 values_[3]);
    link_declarations_now = saved;
    return declared >= 0;
  }

  bool take_class_name(const Record& record) {
    pending_class_ = false;
    if (!record.has(kHasText) || record.text.empty()) return false;
    NameNode* node = name_node_push(&program_->classes);
    if (!node) return false;
    ++classes_added_;
    node->name = crt::_strdup(record.text.c_str());
    node->hash = hash_name_text(record.text.c_str());
    if (!base_class_.empty()) node->parent_name = crt::_strdup(base_class_.c_str());
    return node->name != nullptr;
  }

  // The newest record of this name, or -1.
  int32_t find_record(const char* name) const {
    for (int32_t index = *procedure_count_ - 1; index >= 0; --index) {
      if (procedures_[index] && procedures_[index]->name && std::strcmp(procedures_[index]->name, name) == 0) {
        return index;
      }
    }
    return -1;
  }

  ProcedureRecord* add_record(const std::string& word, bool returns_value, bool counted) {
    if (*procedure_count_ >= kLinkProcedureSlots) return nullptr;
    auto* record = static_cast<ProcedureRecord*>(crt::calloc(1, sizeof(ProcedureRecord)));
    if (!record) return nullptr;
    record->name = crt::_strdup(word.c_str() + kProcedureWordHeader);
    if (!record->name) {
      crt::free(record);
      return nullptr;
    }
    record->returns_value = returns_value ? 1 : 0;
    if (counted) record->parameter_count = static_cast<uint8_t>(static_cast<uint8_t>(word[2]) - 0x20);
    record->underscore = word[1] == '_' ? 1 : 0;
    record->namespace_hash = current_namespace;
    procedures_[(*procedure_count_)++] = record;
    return record;
  }

  bool add_forward(const Record& record) {
    if (!record.has(kHasText) || record.text.size() < kProcedureWordHeader) return false;
    auto kind = static_cast<uint8_t>(record.text[0]);
    return add_record(record.text, kind == 0xEB || kind == 0xEF, kind == 0xE7 || kind == 0xEF) != nullptr;
  }

  // The handler a record's opcode runs (and the built-in an INTERNALCALL calls), or false
  // for an opcode this runtime cannot run.
  bool opcode_handler(const Record& record, BuiltinHandler* handler, const BuiltinEntry** builtin) {
    if (record.opcode == kOpInternalCall) {
      uint32_t hash = 0;
      int32_t index = record.has(kHasHash) && hash_field(record.hash, &hash) ? find_builtin_by_hash(hash) : -1;
      const BuiltinEntry* entry = builtin_entry(index);
      if (!entry || !entry->handler) return false;
      *handler = entry->handler;
      *builtin = entry;
      return true;
    }
    if (record.opcode == kOpData) {
      // Only the leading node is an instruction of opcode 0; it carries the head handler.
      if (first_) return false;
      *handler = OpcodeHandlerTable[kOpStartProc];
      return true;
    }
    *handler = record.opcode < static_cast<uint32_t>(kOpcodeHandlerSlots) ? OpcodeHandlerTable[record.opcode] : nullptr;
    return *handler != nullptr;
  }

  InstructionExtension* extension_of(InstructionNode* node) {
    if (!node->extension) {
      node->extension = static_cast<InstructionExtension*>(pool_alloc(pool_, 0, sizeof(InstructionExtension)));
    }
    return node->extension;
  }

  bool add_instruction(const Record& record) {
    BuiltinHandler handler = nullptr;
    const BuiltinEntry* builtin = nullptr;
    if (!opcode_handler(record, &handler, &builtin)) return false;
    // FOREACH and TRY keep the state of a run in their work field (freed with the node):
    // a file can bring none.
    if ((record.opcode == kOpForeach || record.opcode == kOpTry) && record.work != 0) return false;
    BuiltinHandler outer = nullptr;
    if (record.has(kHasOuterHandler)) {
      bool known = false;
      for (uint32_t code : kOuterHandlerCodes) known = known || code == record.outer_code;
      outer = known ? OpcodeHandlerTable[record.outer_code] : nullptr;
      if (!outer) return false;
    }

    // The number operand of a declared function's call is its index in this registry.
    // The declarations are written after the code that calls them: a call whose function
    // is not declared yet is bound once every record has been read.
    double number = record.number;
    const BuiltinEntry* external = nullptr;
    const bool external_call = is_external_call(record.opcode);
    uint32_t external_hash = 0;
    if (external_call) {
      if (!record.has(kHasHash) || !hash_field(record.hash, &external_hash)) return false;
      int32_t index = find_builtin_by_hash(external_hash);
      external = builtin_entry(index);
      number = external ? static_cast<double>(index) : -1.0;
    }

    InstructionNode* before = tail_;
    uint32_t saved_scope_key = emit_scope_key;
    emit_scope_key = record.extension_word;
    emit_instruction_node(&tail_, outer ? outer : handler, external_call ? nullptr : record.text_or_null(), number,
                          nullptr, record.opcode, nullptr, 0, 0);
    emit_scope_key = saved_scope_key;
    if (tail_ == before) return false;
    InstructionNode* node = tail_;
    if (!first_) first_ = node;
    if (builtin) builtins_[node] = builtin;
    if (outer) node->inner_handler = handler;
    node->work = record.work;
    if (record.has(kHasText) && ((record.text_or_null() && !node->text && !external_call))) return false;
    if (external) {
      bind_external(node, external, record.has(kHasText));
    } else if (external_call) {
      pending_externals_.push_back({node, external_hash, record.has(kHasText)});
    }
    if (record.scope_flag && !extension_of(node)) return false;
    if (record.scope_flag) node->extension->method_flag = record.scope_flag;
    if (record.scope_flag && record.opcode == kOpSelfCall && !outer) node->handler = call_linked_method_on_self;

    if (node_holds_number_block(node)) {
      crt::free(node->text);
      node->text = nullptr;
      node->text_hash = 0;
      if (record.has(kHasHash)) {
        auto* block = static_cast<double*>(crt::malloc(sizeof(double)));
        if (!block) return false;
        *block = record.hash;
        node->text = reinterpret_cast<char*>(block);
      } else if (record.has(kHasText)) {
        return false;
      }
    }
    if (node_has_second_text(node)) {
      // The operand is the address of the node's own second text, never a number of the file.
      node->operand = 0.0;
      if (record.has(kHasSecondText)) {
        char* second = crt::_strdup(record.second_text.c_str());
        if (!second) return false;
        node->operand = static_cast<double>(platform::address_of(second));
      }
    } else if (record.has(kHasSecondText)) {
      return false;
    }

    if (!operands_fit(node)) return false;

    if (record.has(kHasIdentity)) {
      if (!extension_of(node)) return false;
      identities_[record.identity] = node;
    }
    if (record.opcode == kOpStartProc || record.opcode == kOpStartProcUndefined) {
      if (!start_procedure(node)) return false;
    }
    bool by_name = record.opcode == kOpCall || record.opcode == kOpSelfCall || node_runs_opcode(node, kOpCall) ||
                   node_runs_opcode(node, kOpSelfCall);
    if (record.opcode == kOpPushProcAddr || node_runs_opcode(node, kOpPushProcAddr)) {
      // Resolved by name below: the address written in the file belonged to another run.
      node->operand = 0.0;
      address_nodes_.push_back(node);
    } else if (by_name) {
      call_nodes_.push_back(node);
    } else if (record.has(kHasLink)) {
      links_.emplace_back(node, record.link);
    }
    return true;
  }

  // The handlers take these operands on trust: a variable is named by a text ending in its
  // type character (a number or any other text in its place names nothing, and the handler
  // would leave the value stack out of step), and a drop after a call states how many
  // results it drops.
  static bool operands_fit(const InstructionNode* node) {
    for (uint32_t opcode : kVariableNameOpcodes) {
      if (node_runs_opcode(node, opcode) && !has_type_character(node->text)) return false;
    }
    for (uint32_t opcode : kSecondVariableNameOpcodes) {
      if (!node_runs_opcode(node, opcode)) continue;
      const char* second = node->operand != 0.0 ? instruction_second_text(node) : nullptr;
      if (!has_type_character(second)) return false;
    }
    for (uint32_t opcode : kDropCountOpcodes) {
      double count = node->operand;
      bool whole = count >= 1.0 && count <= 2147483647.0 && count == static_cast<double>(static_cast<int32_t>(count));
      if (node_runs_opcode(node, opcode) && !whole) return false;
    }
    return true;
  }

  bool start_procedure(InstructionNode* node) {
    if (!node->text || std::strlen(node->text) < kProcedureWordHeader) return false;
    std::string word = node->text;
    auto kind = static_cast<uint8_t>(word[0]);
    int32_t index = find_record(word.c_str() + kProcedureWordHeader);
    ProcedureRecord* record = nullptr;
    if (index >= 0) {
      record = procedures_[index];
      changed_starts_.emplace_back(record, record->start);
    } else {
      bool function = kind == 0xEA || kind == 0xC4;
      record = add_record(word, function, kind == 0xEC || kind == 0xC4);
      if (!record) return false;
      if (function) node->opcode = kOpStartProcUndefined;
    }
    record->start = node;
    InstructionExtension* extension = extension_of(node);
    if (!extension) return false;
    extension->is_jump_target = 1;
    node->operand = record->parameter_count;
    node->work = record->returns_value;
    if (record->underscore) extension->method_flag = 1;
    if (std::strcmp(record->name, "MAIN") == 0 && record->parameter_count == 0) {
      main_entry = node;
    } else if (std::strcmp(record->name, "WINMAIN") == 0 && record->parameter_count != 0) {
      main_entry = node;
      if (winmain_flag_) *winmain_flag_ = 1;
    }
    return true;
  }

  // The start of the named procedure, reporting a name no procedure has.
  InstructionNode* procedure_start(const char* name) {
    int32_t index = name ? find_record(name) : -1;
    InstructionNode* start = index >= 0 ? procedures_[index]->start : nullptr;
    if (!start) {
      std::string message = std::string("Cannot resolve [") + (name ? name : "") + "] address";
      report_compile_message(path_.c_str(), message.c_str(), nullptr, -1, false);
    }
    return start;
  }

  bool link_to(InstructionNode* node, InstructionNode* target) {
    InstructionExtension* extension = extension_of(node);
    InstructionExtension* target_extension = extension_of(target);
    if (!extension || !target_extension) return false;
    extension->link = target;
    target_extension->is_jump_target = 1;
    return true;
  }

  // These nodes borrow the registry's text.
  static void bind_external(InstructionNode* node, const BuiltinEntry* entry, bool named) {
    if (!named) return;
    node->text = entry->name;
    node->text_hash = hash_name_text(entry->name);
  }

  bool resolve() {
    for (const PendingExternal& pending : pending_externals_) {
      int32_t index = find_builtin_by_hash(pending.hash);
      const BuiltinEntry* entry = builtin_entry(index);
      if (!entry) return false;
      pending.node->operand = static_cast<double>(index);
      bind_external(pending.node, entry, pending.named);
    }
    for (const auto& [node, identity] : links_) {
      auto found = identities_.find(identity);
      if (found == identities_.end() || !link_to(node, found->second)) return false;
    }
    for (InstructionNode* node : call_nodes_) {
      InstructionNode* start = procedure_start(node->text);
      if (start && !link_to(node, start)) return false;
    }
    for (InstructionNode* node : address_nodes_) {
      InstructionNode* start = procedure_start(node->text);
      if (start) node->operand = static_cast<double>(platform::address_of(start));
    }
    return true;
  }

  // The machine trusts the list it runs, so records that each passed their own checks
  // must also make a whole program: no procedure opens inside another, and the list ends
  // with a procedure's end (code outside procedures ends with one too).
  bool structure_is_sound() const {
    bool in_procedure = false;
    const InstructionNode* last = nullptr;
    for (const InstructionNode* node = first_; node; node = node->next) {
      last = node;
      switch (node->opcode) {
        case kOpStartProc:
        case kOpStartProcUndefined:
          if (in_procedure) return false;
          in_procedure = true;
          break;
        case kOpEndProc:
          in_procedure = false;
          break;
        default:
          break;
      }
    }
    return !in_procedure && last && last->opcode == kOpEndProc;
  }

  // Takes back what a damaged image made: nodes, new procedure records, class links.
  void discard() {
    while (tail_) free_instruction_node(pool_, &tail_, tail_, 0);
    first_ = nullptr;
    // Starts go back before the records made here are freed: a forward declaration of
    // this file may have had its start set too.
    for (auto it = changed_starts_.rbegin(); it != changed_starts_.rend(); ++it) it->first->start = it->second;
    for (int32_t index = *procedure_count_ - 1; index >= first_count_; --index) {
      crt::free(procedures_[index]->name);
      crt::free(procedures_[index]);
      procedures_[index] = nullptr;
    }
    *procedure_count_ = first_count_;
    for (; classes_added_ > 0; --classes_added_) {
      NameNode* node = program_->classes;
      program_->classes = node->next;
      node->next = nullptr;
      name_nodes_free(&node);
    }
    main_entry = nullptr;
    if (winmain_flag_) *winmain_flag_ = 0;
  }

  std::string path_;
  ProgramContext* program_;
  Pool* pool_;
  ProcedureRecord** procedures_;
  int32_t* procedure_count_;
  uint8_t* winmain_flag_;
  int32_t first_count_;

  InstructionNode* first_ = nullptr;
  InstructionNode* tail_ = nullptr;
  std::unordered_map<uint32_t, InstructionNode*> identities_;
  std::vector<std::pair<InstructionNode*, uint32_t>> links_;
  std::vector<InstructionNode*> call_nodes_;
  CalledBuiltins builtins_;
  std::vector<InstructionNode*> address_nodes_;
  struct PendingExternal {
    InstructionNode* node;
    uint32_t hash;
    bool named;
  };
  std::vector<PendingExternal> pending_externals_;
  std::vector<std::pair<ProcedureRecord*, InstructionNode*>> changed_starts_;
  int classes_added_ = 0;

  int pending_followers_ = 0;
  std::vector<std::string> declaration_;
  uint8_t values_[4] = {};
  bool pending_class_ = false;
  std::string base_class_;
};

// The platform and version warnings; they never stop the load.
void warn_about_origin(const std::vector<uint8_t>& image) {
  if (image[4] != kPlatformDevice) {
    message_box("2. This program was built on a different platform, it might not work properly!", "Runtime Error",
                kWarningBoxStyle);
    return;
  }
  auto a = static_cast<int8_t>(image[0]);
  auto b = static_cast<int8_t>(image[1]);
  auto c = static_cast<int8_t>(image[2]);
  const char* message = nullptr;
  if (a == static_cast<int8_t>(kVersionA) && b == static_cast<int8_t>(kVersionB) && c < static_cast<int8_t>(kVersionC)) {
    message = "3. The version of this runtime is older, the program might not work properly!";
  } else if (a == static_cast<int8_t>(kVersionA) && b < static_cast<int8_t>(kVersionB)) {
    message = "4. The version of this runtime is older, the program might not work properly!";
  } else if (a < static_cast<int8_t>(kVersionA)) {
    message = "5. The version of this runtime is older, the program might not work properly!";
  }
  if (message) message_box(message, "Runtime Error", kWarningBoxStyle);
}

}  // namespace

InstructionNode* read_compiled_file(const char* path, const uint8_t* image, uint32_t image_size, ProgramContext* program,
                                    ProcedureRecord** procedures, int32_t* procedure_count, uint8_t* winmain_flag) {
  main_entry = nullptr;
  if (winmain_flag) *winmain_flag = 0;
  if (!program || !procedures || !procedure_count) return nullptr;

  std::vector<uint8_t> file_bytes;
  std::vector<uint8_t> decoded;
  bool checked = false;
  if (image) {
    file_bytes.assign(image, image + image_size);
  } else {
    char* file_part = path_file_name(path);
    std::string status = std::string("Loading (") + (file_part ? file_part : "") + ")...";
    crt::free(file_part);
    status_update(status.c_str(), 0, 0);
    checked = zrc::take_checked_image(path, &decoded);
    if (!checked && !zrc::read_whole_file(path, &file_bytes)) return nullptr;
  }
  // From here on the file was read: a refusal is its damage, and no part of it runs.
  auto damaged = [path] {
    report_compile_message(path, "Damaged compiled file", nullptr, -1, false);
    return nullptr;
  };
  if (!checked && !zrc::unpack_image(file_bytes.data(), static_cast<uint32_t>(file_bytes.size()), &decoded)) {
    return damaged();
  }
  file_bytes.clear();
  status_update(nullptr, 0, static_cast<int32_t>(decoded.size()));

  // Another platform byte or another record grammar is not a program of this runtime.
  if ((decoded[4] != zrc::kPlatformDevice && decoded[4] != zrc::kPlatformDesktop) || decoded[5] != zrc::kFormat) {
    return damaged();
  }
  warn_about_origin(decoded);

  if (!program->pool) program->pool = pool_create(0x80000);
  if (!program->pool) return nullptr;
  Pool* saved_pool = emit_pool;
  emit_pool = program->pool;
  ProgramLoader loader(path, program, program->pool, procedures, procedure_count, winmain_flag);
  bool loaded = loader.load(decoded);
  emit_pool = saved_pool;
  if (!loaded) return damaged();
  return loader.first();
}
