// Saving an instruction list as a compiled program file: one record per node in
// execution order, then compression, the size trailer and the key.
#include <cstring>
#include <string>
#include <algorithm>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "compiler/ui/status_window.h"
#include "compiler/zrc/compiled_file.h"
#include "compiler/zrc/compiled_file_format.h"
#include "foundation/conversion.h"
#include "foundation/file_helpers.h"
#include "foundation/numbers.h"
#include "platform/kernel/files.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/types.h"
#include "vm/builtin_registry.h"
#include "vm/fusion.h"
#include "vm/opcode_handler_table.h"
#include "vm/instruction_list.h"
#include "vm/machine.h"
#include "vm/method_call.h"

namespace {

using namespace zrc;

class ImageWriter {
 public:
  ImageWriter() { bytes_.reserve(0x20000); }

  void byte(uint8_t value) { bytes_.push_back(value); }
  void u16(uint16_t value) {
    for (int index = 0; index < 2; ++index) byte(static_cast<uint8_t>(value >> (8 * index)));
  }
  void u32(uint32_t value) {
    for (int index = 0; index < 4; ++index) byte(static_cast<uint8_t>(value >> (8 * index)));
  }
  void f64(double value) {
    uint8_t raw[8];
    std::memcpy(raw, &value, sizeof raw);
    bytes_.insert(bytes_.end(), raw, raw + sizeof raw);
  }
  void text(const char* value) {
    auto length = static_cast<uint32_t>(std::strlen(value));
    u32(length + 1);
    bytes_.insert(bytes_.end(), value, value + length);
  }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

// The hash of the first registered built-in with this handler; 0 when none has it.
uint32_t builtin_hash_of(BuiltinHandler handler) {
  if (!handler) return 0;
  for (int32_t index = 0; index < builtin_registry.count; ++index) {
    const BuiltinEntry* entry = builtin_entry(index);
    if (entry && entry->handler == handler) return entry->name_hash;
  }
  return 0;
}

// The code of a fused node's outer handler; false when it is none the file can name.
bool outer_handler_code(BuiltinHandler outer, uint8_t* code) {
  for (uint32_t opcode : kOuterHandlerCodes) {
    if (outer && OpcodeHandlerTable[opcode] == outer) {
      *code = static_cast<uint8_t>(opcode);
      return true;
    }
  }
  return false;
}

class RecordWriter {
 public:
  explicit RecordWriter(InstructionNode* first) {
    // Identities are list positions, not addresses: the same program gives the same bytes.
    uint32_t ordinal = 0;
    for (InstructionNode* node = first; node; node = node->next) {
      nodes_.push_back(node);
      identities_[node] = ++ordinal;
    }
    for (InstructionNode* node : nodes_) {
      if (node->extension && node->extension->link && identities_.count(node->extension->link)) {
        linked_.insert(node->extension->link);
      }
    }
  }

  const std::vector<InstructionNode*>& nodes() const { return nodes_; }

  // Appends the record of node; false when the node holds something the file cannot name.
  bool write(ImageWriter* out, const InstructionNode* node) {
    bool complete = true;
    uint32_t opcode = node->opcode;
    bool second_text = node_has_second_text(node);
    bool number_block = node_holds_number_block(node);
    const InstructionExtension* extension = node->extension;

    // An address in the operand means nothing in another run: procedure addresses are
    // found again by name, second texts travel as texts.
    double number = node->operand;
    if (second_text || opcode == kOpPushProcAddr || node_runs_opcode(node, kOpPushProcAddr)) number = 0.0;
    const char* second = second_text && node->operand != 0.0
                             ? platform::pointer_from<char>(static_cast<uint32_t>(truncate_to_int(node->operand)))
                             : nullptr;

    double hash = 0.0;
    bool has_hash = false;
    if (opcode == kOpInternalCall) {
      uint32_t found = builtin_hash_of(node->inner_handler ? node->inner_handler : unfused_handler(node->handler));
      if (!found) complete = false;
      hash = static_cast<double>(found);
      has_hash = true;
    } else if (is_external_call(opcode)) {
      const BuiltinEntry* entry = builtin_entry(truncate_to_int(node->operand));
      if (!entry) complete = false;
      hash = entry ? static_cast<double>(entry->name_hash) : 0.0;
      has_hash = true;
    } else if (number_block && node->text) {
      std::memcpy(&hash, node->text, sizeof hash);
      has_hash = true;
    }

    uint8_t outer_code = 0;
    if (node->inner_handler && !outer_handler_code(node->handler, &outer_code)) complete = false;

    uint32_t link = 0;
    if (extension && extension->link) {
      auto found = identities_.find(extension->link);
      if (found != identities_.end()) link = found->second;
    }
    bool is_target = (extension && extension->is_jump_target) || linked_.count(node);

    uint16_t flags = 0;
    if (number != 0.0) flags |= kHasNumber;
    if (node->text && !number_block) flags |= kHasText;
    if (second) flags |= kHasSecondText;
    if (has_hash) flags |= kHasHash;
    if (node->inner_handler) flags |= kHasOuterHandler;
    if (node->work) flags |= kHasWork;
    // A self-call linked to one class's method (an inherited call) is told apart from a
    // self-call dispatched by the object's class only by its handler: the flag keeps it.
    uint8_t scope_flag = extension ? extension->method_flag : 0;
    if (opcode == kOpSelfCall && node->handler == call_linked_method_on_self) scope_flag = 1;
    if (scope_flag) flags |= kHasScopeFlag;
    if (extension && extension->scope_key) flags |= kHasExtensionWord;
    if (link) flags |= kHasLink;
    if (is_target) flags |= kHasIdentity;

    out->u16(flags);
    out->byte(static_cast<uint8_t>(opcode));
    if (flags & kHasNumber) out->f64(number);
    if (flags & kHasText) out->text(node->text);
    if (flags & kHasSecondText) out->text(second);
    if (flags & kHasHash) out->f64(hash);
    if (flags & kHasOuterHandler) out->byte(outer_code);
    if (flags & kHasWork) out->u32(node->work);
    if (flags & kHasScopeFlag) out->byte(scope_flag);
    if (flags & kHasExtensionWord) out->u32(extension->scope_key);
    if (flags & kHasLink) out->u32(link);
    if (flags & kHasIdentity) out->u32(identities_.at(node));
    return complete;
  }

 private:
  std::vector<InstructionNode*> nodes_;
  std::unordered_map<const InstructionNode*, uint32_t> identities_;
  std::unordered_set<const InstructionNode*> linked_;
};

// Declarations live on in the registry; their seven data nodes must not run.
void remove_declarations(const std::vector<InstructionNode*>& nodes) {
  if (!emit_pool || nodes.empty()) return;
  InstructionNode* tail = nodes.back();
  std::vector<InstructionNode*> doomed;
  size_t index = 0;
  while (index < nodes.size()) {
    if (!is_declaration(nodes[index]->opcode)) {
      ++index;
      continue;
    }
    size_t end = std::min(nodes.size(), index + 1 + kDeclarationFollowers);
    for (; index < end; ++index) doomed.push_back(nodes[index]);
  }
  for (InstructionNode* node : doomed) free_instruction_node(emit_pool, &tail, node, 0);
}

}  // namespace

uint8_t compiled_file_makeexe_mode1 = 0;

void write_compiled_file(const char* path, InstructionNode* first) {
  if (!path || !first) return;
  while (first->previous) first = first->previous;
  RecordWriter records(first);
  auto total = static_cast<int32_t>(records.nodes().size());
  char* file_part = path_file_name(path);
  std::string status = std::string("Saving (") + (file_part ? file_part : "") + ")...";
  crt::free(file_part);
  status_update(status.c_str(), 0, total);

  // An old file must not outlive a failed save: it would pass for the new program.
  char16_t* wide_path = to_wide(path);
  if (wide_path) DeleteFileW(wide_path);
  crt::free(wide_path);

  ImageWriter image;
  image.byte(kVersionA);
  image.byte(kVersionB);
  image.byte(kVersionC);
  image.byte(0);
  image.byte(compiled_file_makeexe_mode1 ? kPlatformDesktop : kPlatformDevice);
  image.byte(kFormat);
  bool complete = true;
  int32_t index = 0;
  for (const InstructionNode* node : records.nodes()) {
    if (!records.write(&image, node)) complete = false;
    status_update(nullptr, ++index, total);
  }
  remove_declarations(records.nodes());

  // A node the file cannot describe would load as something else: no file then, and
  // the next run compiles the source again.
  std::vector<uint8_t> file_bytes;
  if (!complete || !pack_image(image.bytes(), &file_bytes)) return;
  write_file(path, file_bytes.data(), static_cast<int32_t>(file_bytes.size()));
}
