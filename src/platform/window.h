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
//
// Example: a window on a worker thread that the host or other threads
// reach by message.
//
//   WindowHandle w = CreateMessageWindow(
//       [](WindowHandle, uint32_t msg, uintptr_t wp, intptr_t) -> intptr_t {
//         return msg == kWmUser + 1 ? static_cast<intptr_t>(wp) * 2 : 0;
//       });
//   SetWindowTimer(w, 1, 500);                           // kWmTimer, wParam 1
//   RunMessageLoop([&] { return stopping.load(); });     // handlers run here
//   DestroyMessageWindow(w);
//   // elsewhere: intptr_t r; SendMessageWithTimeout(w, kWmUser + 1, 21, 0, 1000, &r);
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
// message result. It should not throw; an exception is caught and the
// result is then 0. It receives kWmTimer, kWmCopyData and whatever is posted
// or sent to the window; on Windows the system's own messages below kWmUser
// (creation, destruction, ...) get default handling instead, so messages the
// module defines are kWmUser and above.
using MessageHandler =
    std::function<intptr_t(WindowHandle, uint32_t msg, uintptr_t wparam, intptr_t lparam)>;

// CreateMessageWindow creates a hidden window owned by the calling thread.
// Returns 0 on failure. The window and its timers are destroyed at the
// latest when the owner thread ends.
WindowHandle CreateMessageWindow(MessageHandler handler);

// DestroyMessageWindow destroys a window (its timers die with it). Call it
// on the owner thread: from another thread it does nothing (DestroyWindow
// refuses too). Messages still queued for it are dropped; a sender still
// waiting for it fails at once instead of waiting out its timeout.
// A handler may destroy its own window.
void DestroyMessageWindow(WindowHandle window);

// IsWindowAlive reports whether the handle names a live window.
bool IsWindowAlive(WindowHandle window);

// PostMessageTo queues a message; false when the window does not exist or
// its owner already has 10,000 posted messages waiting (the Windows limit;
// Wine may take more).
bool PostMessageTo(WindowHandle window, uint32_t msg, uintptr_t wparam, intptr_t lparam);

// SendMessageWithTimeout sends a message and waits at most timeout_ms for
// the result (SendMessageTimeout with SMTO_ABORTIFHUNG). False when the
// window does not exist, the owner is hung (it has not looked at its
// messages for 5 s and is not waiting for any) or the time ran out. From the
// owner thread the handler is called directly and the timeout is ignored.
// While it waits, the calling thread handles messages sent to its own
// windows by other threads, so two threads sending to each other do not
// deadlock. After a timeout the message may still be handled if the owner
// had already taken it (its result is dropped), so lParam must not point at
// memory the sender releases; WM_COPYDATA is safe (its data is copied).
bool SendMessageWithTimeout(WindowHandle window, uint32_t msg, uintptr_t wparam, intptr_t lparam,
                            uint32_t timeout_ms, intptr_t* result);

// SendCopyData sends WM_COPYDATA with a copy of data (the receiver sees it
// only during its handler). from is passed as wParam.
bool SendCopyData(WindowHandle window, WindowHandle from, uintptr_t dwdata, const void* data,
                  uint32_t size, uint32_t timeout_ms, intptr_t* result);

// SetWindowTimer starts or restarts timer id of a window: kWmTimer with
// wParam = id arrives every interval_ms while the owner pumps. Call on the
// owner thread (false otherwise). Intervals below 10 ms count as 10 ms, as
// SetTimer does. On POSIX timers follow TickCount(), so a ManualTickClock
// drives them; on Windows they follow real time. A late timer fires once;
// missed ticks are not made up.
bool SetWindowTimer(WindowHandle window, uintptr_t id, uint32_t interval_ms);
void KillWindowTimer(WindowHandle window, uintptr_t id);

// ProcessPendingMessages dispatches every message that waits for the calling
// thread's windows (sent first, then posted, then due timers) and returns.
// On Windows it dispatches everything PeekMessage returns for the thread; a
// WM_QUIT it meets is posted again and ends the call.
void ProcessPendingMessages();

// RunMessageLoop pumps the calling thread's messages until stop() returns
// true; it checks stop() after every message and at least every
// poll_ms milliseconds. On Windows it also returns when it meets WM_QUIT,
// which it posts again for the thread's outer loop.
void RunMessageLoop(const std::function<bool()>& stop, uint32_t poll_ms = 10);

// ---- Rectangles and the host's main window ----

// ScreenRect: a window's outer rectangle in screen pixels (right and bottom
// exclusive, as GetWindowRect gives them).
struct ScreenRect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  int32_t Width() const { return right - left; }
  int32_t Height() const { return bottom - top; }
  bool operator==(const ScreenRect&) const = default;
};

// WindowScreenRect reads a window's rectangle (GetWindowRect); false when
// the window does not exist. POSIX: the rectangle the window was given by
// CreateMainWindow or MoveWindowTo (empty for a message window).
bool WindowScreenRect(WindowHandle window, ScreenRect* rect);
// MoveWindowTo moves and sizes a window (MoveWindow); false when it does
// not exist.
bool MoveWindowTo(WindowHandle window, const ScreenRect& rect);

// CreateMainWindow creates a visible top-level window with a caption, owned
// by the calling thread, at rect: a host's main window, which the module's
// dialogs belong to. Its handler receives what a message window's does.
// POSIX: a message window that keeps rect. Destroy it with
// DestroyMessageWindow.
WindowHandle CreateMainWindow(const char* title, const ScreenRect& rect, MessageHandler handler);

// DesktopWindow: the desktop (GetDesktopWindow), owner of last resort for
// windows that have no other; POSIX: 0.
WindowHandle DesktopWindow();

// NearestWorkArea: the work area (the screen less the task bar) of the
// monitor nearest to rect, and in *on_a_monitor whether rect meets any
// monitor at all (MonitorFromRect). POSIX: one monitor of 1024 x 768 at
// 0, 0, all of it work area.
ScreenRect NearestWorkArea(const ScreenRect& rect, bool* on_a_monitor);

}  // namespace tarvel::platform
