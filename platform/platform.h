// The whole system interface of the simulated device, for code that wants all of it.
// Subsystems may include the single area headers instead.
#pragma once

#include "platform/kernel/types.h"
#include "platform/kernel/config.h"
#include "platform/kernel/handles.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/paths.h"
#include "platform/kernel/utf.h"
#include "platform/kernel/filetime.h"
#include "platform/kernel/system_info.h"
