#include "platform/posix/fault_signals.h"

#include <atomic>

#include "Common/ThreadSafety.h"

namespace tarvel::platform {
namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];
constexpr int kMaxHandlers = 16;

std::atomic<SignalFaultHandler> g_handlers[kMaxHandlers];
Mutex g_mutex;  // held to install and remove ours, too
int g_count TARVEL_GUARDED_BY(g_mutex) = 0;
struct sigaction g_previous[kSignalCount] TARVEL_GUARDED_BY(g_mutex);

int IndexOf(int signal) {
  for (int i = 0; i < kSignalCount; ++i)
    if (kSignals[i] == signal) return i;
  return -1;
}

// PassOn gives the signal to the handler that was there before ours. With
// none (or one that ignores it) the default action must happen, which for a
// fault means the process ends: the handler becomes the default and the
// faulting instruction runs again when this returns.
// Unchecked: a signal handler may not take the lock; g_previous is set as
// ours is installed and stays until it is removed.
void PassOn(int signal, siginfo_t* info, void* ucontext) TARVEL_NO_THREAD_SAFETY_ANALYSIS {
  const int index = IndexOf(signal);
  const struct sigaction& before = g_previous[index];
  if (before.sa_flags & SA_SIGINFO) {
    if (before.sa_sigaction) {
      before.sa_sigaction(signal, info, ucontext);
      return;
    }
  } else if (before.sa_handler != SIG_DFL && before.sa_handler != SIG_IGN) {
    before.sa_handler(signal);
    return;
  }
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal, &fallback, nullptr);
}

// Not noexcept, and no frame of its own to clean up: a module's handler
// throws through it.
void OnFaultSignal(int signal, siginfo_t* info, void* ucontext) {
  if (info && info->si_code > 0) {
    for (std::atomic<SignalFaultHandler>& slot : g_handlers)
      if (SignalFaultHandler handler = slot.load(std::memory_order_acquire))
        handler(signal, info, ucontext);
  }
  PassOn(signal, info, ucontext);
}

}  // namespace

bool AddSignalFaultHandler(SignalFaultHandler handler) {
  MutexLock lock(g_mutex);
  for (std::atomic<SignalFaultHandler>& slot : g_handlers)
    if (slot.load() == handler) return true;
  if (g_count == 0) {
    struct sigaction action {};
    action.sa_sigaction = &OnFaultSignal;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < kSignalCount; ++i) {
      if (sigaction(kSignals[i], &action, &g_previous[i]) != 0) {
        for (int j = 0; j < i; ++j) sigaction(kSignals[j], &g_previous[j], nullptr);
        return false;
      }
    }
  }
  for (std::atomic<SignalFaultHandler>& slot : g_handlers) {
    SignalFaultHandler none = nullptr;
    if (slot.compare_exchange_strong(none, handler)) {
      ++g_count;
      return true;
    }
  }
  if (g_count == 0)
    for (int i = 0; i < kSignalCount; ++i) sigaction(kSignals[i], &g_previous[i], nullptr);
  return false;
}

void RemoveSignalFaultHandler(SignalFaultHandler handler) {
  MutexLock lock(g_mutex);
  for (std::atomic<SignalFaultHandler>& slot : g_handlers) {
    SignalFaultHandler mine = handler;
    if (!slot.compare_exchange_strong(mine, nullptr)) continue;
    if (--g_count > 0) return;
    // Put back what was there, unless someone has replaced ours since.
    for (int i = 0; i < kSignalCount; ++i) {
      struct sigaction now {};
      if (sigaction(kSignals[i], nullptr, &now) == 0 && (now.sa_flags & SA_SIGINFO) &&
          now.sa_sigaction == &OnFaultSignal)
        sigaction(kSignals[i], &g_previous[i], nullptr);
    }
    return;
  }
}

}  // namespace tarvel::platform
