// Message windows as real HWND_MESSAGE windows of a class private to the
// module that contains this code.
#include "platform/window.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "Common/ThreadSafety.h"
#include "platform/faults.h"

namespace tarvel::platform {
namespace {

static_assert(sizeof(CopyData) == sizeof(COPYDATASTRUCT));
static_assert(offsetof(CopyData, dwData) == offsetof(COPYDATASTRUCT, dwData));
static_assert(offsetof(CopyData, cbData) == offsetof(COPYDATASTRUCT, cbData));
static_assert(offsetof(CopyData, lpData) == offsetof(COPYDATASTRUCT, lpData));
static_assert(kWmTimer == WM_TIMER && kWmCopyData == WM_COPYDATA && kWmUser == WM_USER);

constexpr char kClassName[] = "TarvelMessageWindow";
constexpr char kMainClassName[] = "TarvelMainWindow";

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);

// WindowData hangs off GWLP_USERDATA. The handler is shared so a handler
// that destroys its own window keeps running on a live object.
class WindowClass;
struct WindowData {
  std::shared_ptr<const MessageHandler> handler;
  WindowClass* window_class;  // the class whose live set holds the window
};

// WindowClass registers the class once, with the instance of the module
// that holds this code (the DLL, or a test program that links the core
// statically), and unregisters it when that module unloads.
class WindowClass {
 public:
  // A visible class gets the arrow cursor and the application background.
  WindowClass(const char* name, bool visible) {
    ::GetModuleHandleExA(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCSTR>(&WindowProc), &instance_);
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance_;
    wc.lpszClassName = name;
    if (visible) {
      wc.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
      wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_APPWORKSPACE + 1));
    }
    atom_ = ::RegisterClassExA(&wc);
  }

  ~WindowClass() {
    std::set<HWND> live;
    {
      MutexLock lock(mu_);
      live.swap(live_);
    }
    for (HWND hwnd : live) {
      if (::GetWindowThreadProcessId(hwnd, nullptr) == ::GetCurrentThreadId()) {
        ::DestroyWindow(hwnd);
      } else {
        // Another thread's window cannot be destroyed from here; once this
        // module is gone its procedure must not be called, so hand the
        // window to the system's default. Its WindowData is left alone:
        // that thread may be inside the handler right now.
        ::SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&::DefWindowProcA));
      }
    }
    if (atom_) ::UnregisterClassA(MAKEINTATOM(atom_), instance_);
  }

  WindowClass(const WindowClass&) = delete;
  WindowClass& operator=(const WindowClass&) = delete;

  ATOM Atom() const { return atom_; }
  HINSTANCE Instance() const { return instance_; }

  void Add(HWND hwnd) {
    MutexLock lock(mu_);
    live_.insert(hwnd);
  }
  void Remove(HWND hwnd) {
    MutexLock lock(mu_);
    live_.erase(hwnd);
  }
  bool Contains(HWND hwnd) {
    MutexLock lock(mu_);
    return live_.count(hwnd) != 0;
  }

 private:
  HMODULE instance_ = nullptr;
  ATOM atom_ = 0;
  Mutex mu_;
  std::set<HWND> live_ TARVEL_GUARDED_BY(mu_);  // windows of this class not yet destroyed
};

WindowClass& Class() {
  static WindowClass window_class(kClassName, false);
  return window_class;
}

// The main window's class is made (and registered) only by a program that
// shows one; g_main_class says whether that happened.
std::atomic<WindowClass*> g_main_class{nullptr};

WindowClass& MainClass() {
  static WindowClass window_class(kMainClassName, true);
  g_main_class = &window_class;
  return window_class;
}

HWND ToHwnd(WindowHandle window) {
  return reinterpret_cast<HWND>(window);
}

// Only the messages this service deals in reach the handler; the system's
// own messages (creation, destruction, sizing) get the default treatment.
bool IsRouted(UINT msg) {
  return msg == WM_TIMER || msg == WM_COPYDATA || msg >= WM_USER;
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  // A fault in a handler is the module's to report, not the host's end.
  FaultScope scope;
  // No exception may unwind into the system's dispatcher.
  try {
    auto* data = reinterpret_cast<WindowData*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (msg == WM_NCDESTROY) {
      ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
      // Only the window's own class: naming the other here would make it
      // (and register it) while windows die at module unload.
      if (data) data->window_class->Remove(hwnd);
      delete data;
    } else if (data && IsRouted(msg)) {
      std::shared_ptr<const MessageHandler> handler = data->handler;
      if (!*handler) return 0;
      return static_cast<LRESULT>((*handler)(reinterpret_cast<WindowHandle>(hwnd), msg,
                                             static_cast<uintptr_t>(wparam),
                                             static_cast<intptr_t>(lparam)));
    }
  } catch (...) {
    return 0;
  }
  return ::DefWindowProcA(hwnd, msg, wparam, lparam);
}

// Dispatch handles one retrieved message; false for WM_QUIT, which it posts
// again so the loop that owns the thread sees it too.
bool Dispatch(const MSG& m) {
  if (m.message == WM_QUIT) {
    ::PostQuitMessage(static_cast<int>(m.wParam));
    return false;
  }
  ::DispatchMessageA(&m);
  return true;
}

// Timers that follow a tick source other than the system's cannot be
// SetTimer timers: this module's own pumps make their WM_TIMER, sent
// straight to the handler on the owner thread.
struct SimulatedTimer {
  HWND hwnd;
  UINT_PTR id;
  DWORD owner;
  uint32_t interval;
  uint32_t next_due;
  const TickSource* ticks;
};

class SimulatedTimers {
 public:
  void Set(const SimulatedTimer& timer) {
    MutexLock lock(mu_);
    EraseLocked(timer.hwnd, timer.id);
    timers_.push_back(timer);
  }
  // Erase: one timer of the window, or all of them when id is null.
  void Erase(HWND hwnd, const UINT_PTR* id) {
    MutexLock lock(mu_);
    if (id) {
      EraseLocked(hwnd, *id);
    } else {
      std::erase_if(timers_, [&](const SimulatedTimer& t) { return t.hwnd == hwnd; });
    }
  }
  // FireDue sends WM_TIMER for each due timer of the calling thread's
  // windows that is not in fired, and adds it there; true when any fired.
  // Like WM_TIMER, a late timer fires once.
  bool FireDue(std::vector<std::pair<HWND, UINT_PTR>>& fired) {
    const DWORD me = ::GetCurrentThreadId();
    std::vector<std::pair<HWND, UINT_PTR>> due;
    {
      MutexLock lock(mu_);
      std::erase_if(timers_, [](const SimulatedTimer& t) { return !::IsWindow(t.hwnd); });
      for (SimulatedTimer& t : timers_) {
        if (t.owner != me) continue;
        const uint32_t now = t.ticks->Now();
        if (TickDiff(now, t.next_due) < 0) continue;
        if (std::find(fired.begin(), fired.end(), std::pair{t.hwnd, t.id}) != fired.end()) continue;
        t.next_due = now + t.interval;
        due.emplace_back(t.hwnd, t.id);
      }
    }
    // Without the lock: a handler may set and kill timers.
    for (const auto& [hwnd, id] : due) {
      fired.emplace_back(hwnd, id);
      ::SendMessageA(hwnd, WM_TIMER, static_cast<WPARAM>(id), 0);
    }
    return !due.empty();
  }

 private:
  void EraseLocked(HWND hwnd, UINT_PTR id) TARVEL_REQUIRES(mu_) {
    std::erase_if(timers_, [&](const SimulatedTimer& t) { return t.hwnd == hwnd && t.id == id; });
  }

  Mutex mu_;
  std::vector<SimulatedTimer> timers_ TARVEL_GUARDED_BY(mu_);
};

// Made by the first simulated timer, so the product, which sets none,
// never makes it; never destroyed: windows may die while static
// destructors run.
std::atomic<SimulatedTimers*> g_simulated{nullptr};

SimulatedTimers& Simulated() {
  SimulatedTimers* timers = g_simulated.load(std::memory_order_acquire);
  if (timers) return *timers;
  auto* made = new SimulatedTimers;
  if (g_simulated.compare_exchange_strong(timers, made, std::memory_order_acq_rel)) return *made;
  delete made;
  return *timers;
}

// AnySimulated: whether a simulated timer was ever set in this module.
bool AnySimulated() {
  return g_simulated.load(std::memory_order_acquire) != nullptr;
}

}  // namespace

namespace {

HWND CreateRouted(WindowClass& window_class, MessageHandler handler, const char* title, DWORD style,
                  const ScreenRect& rect, HWND parent) {
  if (!window_class.Atom()) return nullptr;
  auto data = std::make_unique<WindowData>();
  data->handler = std::make_shared<const MessageHandler>(std::move(handler));
  data->window_class = &window_class;
  HWND hwnd = ::CreateWindowExA(0, MAKEINTATOM(window_class.Atom()), title, style, rect.left,
                                rect.top, rect.Width(), rect.Height(), parent, nullptr,
                                window_class.Instance(), nullptr);
  if (!hwnd) return nullptr;
  // Attached after creation: the handler sees none of the creation
  // messages, so none can reach it before the handle is known.
  ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(data.release()));
  window_class.Add(hwnd);
  return hwnd;
}

}  // namespace

WindowHandle CreateMessageWindow(MessageHandler handler) {
  return reinterpret_cast<WindowHandle>(
      CreateRouted(Class(), std::move(handler), "", 0, ScreenRect{}, HWND_MESSAGE));
}

WindowHandle CreateMainWindow(const char* title, const ScreenRect& rect, MessageHandler handler) {
  HWND hwnd = CreateRouted(MainClass(), std::move(handler), title,
                           WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, rect, nullptr);
  if (hwnd) {
    ::ShowWindow(hwnd, SW_SHOWNORMAL);
    ::UpdateWindow(hwnd);
  }
  return reinterpret_cast<WindowHandle>(hwnd);
}

WindowHandle DesktopWindow() {
  return reinterpret_cast<WindowHandle>(::GetDesktopWindow());
}

ScreenRect NearestWorkArea(const ScreenRect& rect, bool* on_a_monitor) {
  const RECT r{rect.left, rect.top, rect.right, rect.bottom};
  *on_a_monitor = ::MonitorFromRect(&r, MONITOR_DEFAULTTONULL) != nullptr;
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (!::GetMonitorInfoA(::MonitorFromRect(&r, MONITOR_DEFAULTTONEAREST), &info)) return {};
  return {info.rcWork.left, info.rcWork.top, info.rcWork.right, info.rcWork.bottom};
}

bool WindowScreenRect(WindowHandle window, ScreenRect* rect) {
  RECT r;
  if (!IsWindowAlive(window) || !::GetWindowRect(ToHwnd(window), &r)) return false;
  *rect = {r.left, r.top, r.right, r.bottom};
  return true;
}

bool MoveWindowTo(WindowHandle window, const ScreenRect& rect) {
  return IsWindowAlive(window) &&
         ::MoveWindow(ToHwnd(window), rect.left, rect.top, rect.Width(), rect.Height(), TRUE);
}

void DestroyMessageWindow(WindowHandle window) {
  HWND hwnd = ToHwnd(window);
  if (!hwnd) return;
  WindowClass* main_class = g_main_class.load();
  if (Class().Contains(hwnd) || (main_class && main_class->Contains(hwnd))) {
    ::DestroyWindow(hwnd);
    if (AnySimulated() && !::IsWindow(hwnd)) Simulated().Erase(hwnd, nullptr);
  }
}

bool IsWindowAlive(WindowHandle window) {
  return window && ::IsWindow(ToHwnd(window));
}

bool PostMessageTo(WindowHandle window, uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  // A null handle would make PostMessage post a thread message, and
  // HWND_BROADCAST would reach every top-level window: IsWindow rules out
  // both.
  if (!IsWindowAlive(window)) return false;
  return ::PostMessageA(ToHwnd(window), msg, static_cast<WPARAM>(wparam),
                        static_cast<LPARAM>(lparam)) != 0;
}

bool SendMessageWithTimeout(WindowHandle window, uint32_t msg, uintptr_t wparam, intptr_t lparam,
                            uint32_t timeout_ms, intptr_t* result) {
  if (!IsWindowAlive(window)) return false;
  // SMTO_NORMAL (not SMTO_BLOCK): while waiting, this thread still handles
  // messages sent to its own windows, so a module thread sending to the
  // host while the host sends to the module does not deadlock.
  DWORD_PTR reply = 0;
  if (!::SendMessageTimeoutA(ToHwnd(window), msg, static_cast<WPARAM>(wparam),
                             static_cast<LPARAM>(lparam), SMTO_NORMAL | SMTO_ABORTIFHUNG,
                             timeout_ms, &reply))
    return false;
  if (result) *result = static_cast<intptr_t>(reply);
  return true;
}

bool SendCopyData(WindowHandle window, WindowHandle from, uintptr_t dwdata, const void* data,
                  uint32_t size, uint32_t timeout_ms, intptr_t* result) {
  COPYDATASTRUCT copy{};
  copy.dwData = static_cast<ULONG_PTR>(dwdata);
  copy.cbData = size;
  copy.lpData = const_cast<void*>(data);
  return SendMessageWithTimeout(window, kWmCopyData, from, reinterpret_cast<intptr_t>(&copy),
                                timeout_ms, result);
}

bool SetWindowTimer(WindowHandle window, uintptr_t id, uint32_t interval_ms,
                    const TickSource& ticks) {
  if (!IsWindowAlive(window)) return false;
  HWND hwnd = ToHwnd(window);
  const auto timer_id = static_cast<UINT_PTR>(id);
  if (&ticks == &SystemTicks()) {
    if (AnySimulated()) Simulated().Erase(hwnd, &timer_id);
    return ::SetTimer(hwnd, timer_id, interval_ms, nullptr) != 0;
  }
  if (::GetWindowThreadProcessId(hwnd, nullptr) != ::GetCurrentThreadId()) return false;
  ::KillTimer(hwnd, timer_id);
  const uint32_t interval =
      std::clamp<uint32_t>(interval_ms, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM);
  Simulated().Set(
      {hwnd, timer_id, ::GetCurrentThreadId(), interval, ticks.Now() + interval, &ticks});
  return true;
}

void KillWindowTimer(WindowHandle window, uintptr_t id) {
  if (!IsWindowAlive(window)) return;
  const auto timer_id = static_cast<UINT_PTR>(id);
  ::KillTimer(ToHwnd(window), timer_id);
  if (AnySimulated() &&
      ::GetWindowThreadProcessId(ToHwnd(window), nullptr) == ::GetCurrentThreadId())
    Simulated().Erase(ToHwnd(window), &timer_id);
}

void ProcessPendingMessages() {
  // Each simulated timer fires at most once per call, so a handler slower
  // than its interval cannot keep this call from returning.
  std::vector<std::pair<HWND, UINT_PTR>> fired;
  do {
    MSG m;
    while (::PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE))
      if (!Dispatch(m)) return;
  } while (AnySimulated() && Simulated().FireDue(fired));
}

void RunMessageLoop(const std::function<bool()>& stop, uint32_t poll_ms) {
  while (!stop()) {
    MSG m;
    if (::PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
      if (!Dispatch(m)) return;
      continue;
    }
    std::vector<std::pair<HWND, UINT_PTR>> fired;
    if (AnySimulated() && Simulated().FireDue(fired)) continue;
    ::MsgWaitForMultipleObjectsEx(0, nullptr, poll_ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

}  // namespace tarvel::platform
