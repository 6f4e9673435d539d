// tick, showmessage and isvalid.
#include "library/core/system_builtins.h"

#include <string>
#include <vector>

#include "foundation/conversion.h"
#include "foundation/program_context.h"
#include "foundation/string_helpers.h"
#include "foundation/value_stack.h"
#include "platform/platform.h"
#include "vm/builtin_registry.h"

namespace {

struct ShownText {
  const void* text;
  bool wide;
};

size_t wide_length(const char16_t* text) {
  size_t length = 0;
  while (text[length]) ++length;
  return length;
}

}  // namespace

void builtin_tick() { stack_push_uint(GetTickCount()); }

void builtin_showmessage() {
  ProgramContext* context = current_program;
  if (!context) return;
  ValueCell* mark = nullptr;
  if (!stack_take_mark(context, &mark)) return;
  // Popped last argument first; a popped cell stays valid until the next push, and
  // nothing is pushed before the texts are joined.
  std::vector<ShownText> texts;
  bool any_wide = false;
  while (context->stack_top && context->stack_top != mark) {
    ValueCell* cell = stack_pop(context);
    bool wide = (cell->flags & kCellWideText) != 0;
    texts.push_back({wide ? static_cast<const void*>(cell_wide_text(cell)) : cell_text(cell), wide});
    any_wide = any_wide || wide;
  }
  if (!any_wide) {
    std::string joined;
    for (auto text = texts.rbegin(); text != texts.rend(); ++text) {
      if (text->text) joined += static_cast<const char*>(text->text);
    }
    message_box(joined.c_str(), "Message", MB_OK);
    return;
  }
  std::u16string joined;
  for (auto text = texts.rbegin(); text != texts.rend(); ++text) {
    if (!text->text) continue;
    if (text->wide) {
      const auto* wide = static_cast<const char16_t*>(text->text);
      joined.append(wide, wide_length(wide));
    } else {
      char16_t* converted = to_wide(static_cast<const char*>(text->text));
      if (converted) joined += converted;
      crt::free(converted);
    }
  }
  MessageBoxW(nullptr, joined.c_str(), u"Message", MB_OK);
}

void builtin_isvalid() {
  ProgramContext* context = current_program;
  if (!context) return;
  int32_t address = stack_pop_int(context);
  int answer = is_bad_write_pointer(platform::pointer_from<void>(static_cast<uint32_t>(address)));
  stack_push_number(context, answer);
}

void register_system_builtins() {
  builtin_register("tick", builtin_tick);
  builtin_register("showmessage", builtin_showmessage);
  builtin_register("isvalid", builtin_isvalid);
}
