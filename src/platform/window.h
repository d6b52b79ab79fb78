// Message windows: hidden windows that receive posted and sent messages and
// window timers, owned by the thread that creates them.
//
// Win32: real windows (HWND_MESSAGE). POSIX: an emulation with the same
// semantics:
//  - a window belongs to the thread that created it; its handler runs only
//    on that thread;
//  - PostMessageTo queues the message for the owner and returns at once;
//  - SendMessageWithTimeout from the owner thread calls the handler
//    directly; from another thread it waits until the owner pumps (or the
//    timeout passes, or the owner is hung: the sender then gives up and
//    returns false);
//  - timers fire only while the owner pumps its messages;
//  - handles are nonzero integers, never reused within a process.
// All functions may be called from any thread unless they say otherwise.
#pragma once

#include <cstdint>
#include <functional>

namespace tarvel::platform {

using WindowHandle = uintptr_t;

constexpr uint32_t kWmTimer = 0x0113;
constexpr uint32_t kWmCopyData = 0x004A;
constexpr uint32_t kWmUser = 0x0400;

// The layout of COPYDATASTRUCT; lParam of kWmCopyData points at one.
struct CopyData {
  uintptr_t dwData;
  uint32_t cbData;
  const void* lpData;
};

// MessageHandler receives (window, message, wParam, lParam) and returns the
// message result. It must not throw.
using MessageHandler =
    std::function<intptr_t(WindowHandle, uint32_t msg, uintptr_t wparam, intptr_t lparam)>;

// CreateMessageWindow creates a hidden window owned by the calling thread.
// Returns 0 on failure.
WindowHandle CreateMessageWindow(MessageHandler handler);

// DestroyMessageWindow destroys a window (its timers die with it). Call it
// on the owner thread. Messages still queued for it are dropped.
void DestroyMessageWindow(WindowHandle window);

// IsWindowAlive reports whether the handle names a live window.
bool IsWindowAlive(WindowHandle window);

// PostMessageTo queues a message; false when the window does not exist.
bool PostMessageTo(WindowHandle window, uint32_t msg, uintptr_t wparam, intptr_t lparam);

// SendMessageWithTimeout sends a message and waits at most timeout_ms for
// the result (SendMessageTimeout with SMTO_ABORTIFHUNG). False when the
// window does not exist, the owner is hung or the time ran out.
bool SendMessageWithTimeout(WindowHandle window, uint32_t msg, uintptr_t wparam, intptr_t lparam,
                            uint32_t timeout_ms, intptr_t* result);

// SendCopyData sends WM_COPYDATA with a copy of data (the receiver sees it
// only during its handler). from is passed as wParam.
bool SendCopyData(WindowHandle window, WindowHandle from, uintptr_t dwdata, const void* data,
                  uint32_t size, uint32_t timeout_ms, intptr_t* result);

// SetWindowTimer starts or restarts timer id of a window: kWmTimer with
// wParam = id arrives every interval_ms while the owner pumps. Call on the
// owner thread.
bool SetWindowTimer(WindowHandle window, uintptr_t id, uint32_t interval_ms);
void KillWindowTimer(WindowHandle window, uintptr_t id);

// ProcessPendingMessages dispatches every message that waits for the calling
// thread's windows (posted, sent and due timers) and returns.
void ProcessPendingMessages();

// RunMessageLoop pumps the calling thread's messages until stop() returns
// true; it checks stop() after every message and at least every
// poll_ms milliseconds.
void RunMessageLoop(const std::function<bool()>& stop, uint32_t poll_ms = 10);

}  // namespace tarvel::platform
