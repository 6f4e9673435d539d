// The whole window system: windows, messages, painting, input, controls, accelerators, icons,
// message boxes, file dialogs and the clipboard.
#pragma once

#include "platform/gdi/gdi.h"
#include "platform/kernel/system_info.h"
#include "platform/user/accelerators.h"
#include "platform/user/clipboard.h"
#include "platform/user/controls/controls.h"
#include "platform/user/file_dialogs.h"
#include "platform/user/icons.h"
#include "platform/user/input.h"
#include "platform/user/message_box.h"
#include "platform/user/messages.h"
#include "platform/user/painting.h"
#include "platform/user/window_enumeration.h"
#include "platform/user/window_manager.h"
