// A minimal run-time error report: the text is kept and shown in a message box.
#include "foundation/runtime_error.h"

#include <cstdarg>

#include "platform/kernel/crt.h"
#include "platform/kernel/text.h"
#include "platform/user/message_box.h"

namespace {
char last_text[1024] = "";
unsigned error_count = 0;
}  // namespace

void runtime_error(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int length = crt::_vsnprintf(last_text, sizeof last_text - 1, format, arguments);
  va_end(arguments);
  if (length < 0) length = sizeof last_text - 1;
  last_text[length] = '\0';
  ++error_count;
  WCHAR wide[sizeof last_text];
  if (MultiByteToWideChar(CP_ACP, 0, last_text, -1, wide, static_cast<int>(sizeof last_text)) <= 0) wide[0] = 0;
  MessageBoxW(nullptr, wide, u"Error", MB_OK | MB_ICONERROR);
}

void runtime_fault(const platform::FaultGuard& guard) {
  runtime_error("Exception 0x%08X at %p", static_cast<unsigned>(guard.code), guard.address);
}

const char* runtime_error_last_text() { return last_text; }

unsigned runtime_error_count() { return error_count; }
