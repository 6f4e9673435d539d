// Handing a caught fault on to the next guard out.
#include "platform/kernel/fault_forwarding.h"

#include <setjmp.h>

namespace platform {

void pass_fault_outward(FaultGuard& caught) {
  FaultGuard* outer = fault_guard_innermost();
  if (!outer) {
    RaiseException(caught.code, caught.record.ExceptionFlags, caught.record.NumberParameters,
                   caught.record.ExceptionInformation);
  }
  fault_guard_leave(outer);
  outer->code = caught.code;
  outer->address = caught.address;
  outer->data_address = caught.data_address;
  outer->record = caught.record;
  siglongjmp(outer->jump, 1);
}

}  // namespace platform
