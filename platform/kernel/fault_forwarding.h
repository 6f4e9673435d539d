// Handing a fault on: code that caught a fault under its own guard to tidy up what it
// holds lets the fault travel on to the next guard out, as if that guard had caught it.
#pragma once

#include "platform/kernel/fault_guard.h"

namespace platform {

// Jumps to the guard outside caught with caught's code, addresses and record; without
// one, raises the exception again (which ends the process).
[[noreturn]] void pass_fault_outward(FaultGuard& caught);

}  // namespace platform
