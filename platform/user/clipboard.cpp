// The process-wide clipboard behind OpenClipboard and its companions.
#include "platform/user/clipboard.h"

#include <map>
#include <mutex>

#include "platform/kernel/memory.h"
#include "platform/kernel/threads.h"

namespace {

struct Clipboard {
  std::mutex lock;
  DWORD open_thread = 0;  // 0 while closed
  std::map<UINT, void*> blocks;
};

// Never destroyed: script threads may still use it while the process exits.
Clipboard& clipboard() {
  static Clipboard* instance = new Clipboard;
  return *instance;
}

bool opened_here(const Clipboard& board) { return board.open_thread != 0 && board.open_thread == GetCurrentThreadId(); }

}  // namespace

BOOL OpenClipboard(HWND) {
  Clipboard& board = clipboard();
  std::lock_guard<std::mutex> guard(board.lock);
  DWORD thread = GetCurrentThreadId();
  if (board.open_thread != 0 && board.open_thread != thread) return FALSE;
  board.open_thread = thread;
  return TRUE;
}

BOOL CloseClipboard() {
  Clipboard& board = clipboard();
  std::lock_guard<std::mutex> guard(board.lock);
  if (!opened_here(board)) return FALSE;
  board.open_thread = 0;
  return TRUE;
}

BOOL EmptyClipboard() {
  Clipboard& board = clipboard();
  std::lock_guard<std::mutex> guard(board.lock);
  if (!opened_here(board)) return FALSE;
  for (auto& [format, block] : board.blocks) crt::free(block);
  board.blocks.clear();
  return TRUE;
}

HANDLE GetClipboardData(UINT format) {
  Clipboard& board = clipboard();
  std::lock_guard<std::mutex> guard(board.lock);
  if (!opened_here(board)) return nullptr;
  auto found = board.blocks.find(format);
  return found == board.blocks.end() ? nullptr : found->second;
}

HANDLE SetClipboardData(UINT format, HANDLE data) {
  Clipboard& board = clipboard();
  std::lock_guard<std::mutex> guard(board.lock);
  if (!opened_here(board)) return nullptr;
  void*& slot = board.blocks[format];
  if (slot != data) crt::free(slot);
  slot = data;
  return data;
}
