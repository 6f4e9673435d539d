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
#include "platform/kernel/registry.h"
#include "platform/kernel/fault_guard.h"
#include "platform/kernel/modules.h"
#include "platform/user/message_box.h"
#include "platform/kernel/files.h"
#include "platform/kernel/stdio.h"
#include "platform/kernel/text.h"
#include "platform/kernel/wide_string.h"
#include "platform/kernel/crt.h"
#include "platform/kernel/clock.h"
#include "platform/kernel/threads.h"
#include "platform/kernel/sync.h"
#include "platform/kernel/time.h"
