// The fault trap on POSIX: the module's handler in the process's shared
// signal handler (platform/posix/fault_signals.h). A fault at an address
// in this module's code, on a thread inside one of its scopes, is thrown
// from the signal frame itself: the unwinder knows the frame the kernel
// builds for a signal and goes on from there to the faulting instruction.
#include "platform/faults.h"

#include <dlfcn.h>
#include <link.h>
#include <ucontext.h>

#include <atomic>

#include "platform/posix/fault_signals.h"

namespace tarvel::platform {
namespace {

// The initial-exec model keeps the pointer in the static TLS block: reading
// it in a signal handler never allocates, and costs one load.
thread_local FaultScope* t_scope __attribute__((tls_model("initial-exec"))) = nullptr;

// The address ranges of this module's executable segments.
constexpr int kMaxRanges = 4;
std::atomic<uintptr_t> g_code_begin[kMaxRanges];
std::atomic<uintptr_t> g_code_end[kMaxRanges];
std::atomic<bool> g_installed{false};

void Anchor() {}

int NoteOwnCode(dl_phdr_info* info, size_t, void* own_base) {
  if (info->dlpi_addr != reinterpret_cast<ElfW(Addr)>(own_base)) return 0;
  int n = 0;
  for (int i = 0; i < info->dlpi_phnum && n < kMaxRanges; ++i) {
    const ElfW(Phdr)& segment = info->dlpi_phdr[i];
    if (segment.p_type != PT_LOAD || !(segment.p_flags & PF_X)) continue;
    g_code_begin[n] = info->dlpi_addr + segment.p_vaddr;
    g_code_end[n] = info->dlpi_addr + segment.p_vaddr + segment.p_memsz;
    ++n;
  }
  return 1;
}

bool InOwnCode(uintptr_t pc) {
  for (int i = 0; i < kMaxRanges; ++i)
    if (pc >= g_code_begin[i].load(std::memory_order_relaxed) &&
        pc < g_code_end[i].load(std::memory_order_relaxed))
      return true;
  return false;
}

uintptr_t FaultingPc(const ucontext_t& context) {
#if defined(__x86_64__)
  return static_cast<uintptr_t>(context.uc_mcontext.gregs[REG_RIP]);
#elif defined(__i386__)
  return static_cast<uintptr_t>(context.uc_mcontext.gregs[REG_EIP]);
#elif defined(__aarch64__)
  return static_cast<uintptr_t>(context.uc_mcontext.pc);
#else
#error "the fault trap needs the program counter of a signal context here"
#endif
}

// Access reads the page fault's error code the kernel hands on: bit 1 a
// write, bit 4 an instruction fetch.
char Access(const ucontext_t& context) {
#if defined(__x86_64__) || defined(__i386__)
  const auto error = static_cast<uintptr_t>(context.uc_mcontext.gregs[REG_ERR]);
  return (error & 16) ? 'x' : (error & 2) ? 'w' : 'r';
#else
  (void)context;
  return 0;
#endif
}

void OnFault(int signal, siginfo_t* info, void* ucontext) {
  const auto& context = *static_cast<const ucontext_t*>(ucontext);
  const uintptr_t pc = FaultingPc(context);
  if (!InOwnCode(pc) || !t_scope) return;
  EHardwareFault fault;
  fault.code_address = pc;
  switch (signal) {
    case SIGSEGV:
    case SIGBUS:
      fault.kind = FaultKind::kAccessViolation;
      fault.data_address = reinterpret_cast<uintptr_t>(info->si_addr);
      fault.access = signal == SIGSEGV ? Access(context) : 0;
      break;
    case SIGFPE:
      fault.kind = info->si_code == FPE_INTDIV   ? FaultKind::kIntegerDivideByZero
                   : info->si_code == FPE_INTOVF ? FaultKind::kIntegerOverflow
                                                 : FaultKind::kFloatingPoint;
      break;
    case SIGILL:
      fault.kind = FaultKind::kIllegalInstruction;
      break;
    default:
      return;
  }
  if (FaultScope* scope = FaultScope::BeginFault(fault)) scope->RaiseFault();
}

}  // namespace

FaultScope* FaultScope::Current() noexcept {
  return t_scope;
}

void FaultScope::SetCurrent(FaultScope* scope) noexcept {
  t_scope = scope;
}

bool InstallFaultTrap() {
  if (g_installed.load()) return true;
  Dl_info own{};
  if (!dladdr(reinterpret_cast<void*>(&Anchor), &own)) return false;
  dl_iterate_phdr(&NoteOwnCode, own.dli_fbase);
  if (!AddSignalFaultHandler(&OnFault)) return false;
  g_installed = true;
  return true;
}

void RemoveFaultTrap() {
  if (!g_installed.exchange(false)) return;
  RemoveSignalFaultHandler(&OnFault);
}

bool FaultTrapInstalled() {
  return g_installed.load();
}

}  // namespace tarvel::platform
