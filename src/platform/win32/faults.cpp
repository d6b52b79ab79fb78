// The fault trap on Windows: a vectored exception handler, first in line,
// that looks only at processor faults at addresses in this module's code
// on a thread inside one of its scopes. It cannot throw from where it runs
// (the system's dispatcher frames lie between it and the faulting frame,
// and the 32-bit unwinder knows nothing of them), so it changes the
// faulting thread's context instead: the thread goes on in FaultEntry as
// if the faulting instruction had called it, and FaultEntry throws. When
// the fault cannot be thrown after all, FaultEntry puts the thread back
// into the saved context, the fault happens again, and this time the
// handler lets it go on to the host.
#include "platform/faults.h"

#include <windows.h>

#include <atomic>
#include <cstring>

namespace tarvel::platform {
namespace {

extern "C" IMAGE_DOS_HEADER __ImageBase;

// The slot goes back with the module's others at unload (runtime.cpp notes
// every slot the module takes).
const DWORD g_slot = ::TlsAlloc();

struct TrapState {
  CONTEXT context;  // the faulting thread's, as the fault left it
};
static_assert(sizeof(TrapState) <= FaultScope::kTrapStateBytes, "FaultScope::trap_state too small");
static_assert(alignof(CONTEXT) <= 16, "FaultScope::trap_state is aligned for 16 bytes");

TrapState& StateOf(FaultScope* scope) {
  return *reinterpret_cast<TrapState*>(scope->trap_state);
}

constexpr int kMaxRanges = 4;
uintptr_t g_code_begin[kMaxRanges];
uintptr_t g_code_end[kMaxRanges];
PVOID g_handler = nullptr;
using NtContinueFn = LONG(NTAPI*)(PCONTEXT, BOOLEAN);
NtContinueFn g_nt_continue = nullptr;

void NoteOwnCode() {
  auto* base = reinterpret_cast<const BYTE*>(&__ImageBase);
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + __ImageBase.e_lfanew);
  const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
  int n = 0;
  for (WORD i = 0; i < nt->FileHeader.NumberOfSections && n < kMaxRanges; ++i, ++section) {
    if (!(section->Characteristics & IMAGE_SCN_MEM_EXECUTE)) continue;
    g_code_begin[n] = reinterpret_cast<uintptr_t>(base) + section->VirtualAddress;
    g_code_end[n] = g_code_begin[n] + section->Misc.VirtualSize;
    ++n;
  }
}

bool InOwnCode(uintptr_t pc) {
  for (int i = 0; i < kMaxRanges; ++i)
    if (pc >= g_code_begin[i] && pc < g_code_end[i]) return true;
  return false;
}

}  // namespace

#if defined(_WIN64)
#define TARVEL_FAULT_ENTRY __attribute__((used))
#else
// The faulting code may have left the stack aligned to 4 bytes only.
#define TARVEL_FAULT_ENTRY __attribute__((used, force_align_arg_pointer))
#endif

// FaultEntry: where a faulting thread goes on, on top of the faulting
// frame. It throws, or gives the thread its context back.
extern "C" TARVEL_FAULT_ENTRY void tarvel_FaultEntry() {
  FaultScope* scope = FaultScope::Current();
  scope->RaiseFault();
  g_nt_continue(&StateOf(scope).context, FALSE);
  __builtin_trap();  // NtContinue does not come back
}

#if defined(_WIN64)
// The 64-bit entry keeps the stack aligned for the call whatever the
// faulting frame left (a leaf may run with it 8 bytes off), and tells the
// system's unwinder how to leave it: by its frame pointer.
extern "C" void tarvel_FaultTrampoline();
asm(R"(
  .text
  .globl tarvel_FaultTrampoline
  .def tarvel_FaultTrampoline; .scl 2; .type 32; .endef
  .seh_proc tarvel_FaultTrampoline
tarvel_FaultTrampoline:
  push %rbp
  .seh_pushreg %rbp
  mov %rsp, %rbp
  .seh_setframe %rbp, 0
  .seh_endprologue
  and $-16, %rsp
  sub $32, %rsp
  call tarvel_FaultEntry
  int3
  .seh_endproc
)");
#endif

namespace {

LONG CALLBACK OnException(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
  EHardwareFault fault;
  switch (record.ExceptionCode) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_IN_PAGE_ERROR:
      fault.kind = FaultKind::kAccessViolation;
      if (record.NumberParameters >= 2) {
        const ULONG_PTR how = record.ExceptionInformation[0];
        fault.access = how == 0 ? 'r' : how == 1 ? 'w' : how == 8 ? 'x' : 0;
        fault.data_address = static_cast<uintptr_t>(record.ExceptionInformation[1]);
      }
      break;
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
      fault.kind = FaultKind::kIntegerDivideByZero;
      break;
    case EXCEPTION_INT_OVERFLOW:
      fault.kind = FaultKind::kIntegerOverflow;
      break;
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
      fault.kind = FaultKind::kIllegalInstruction;
      break;
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_FLT_UNDERFLOW:
      fault.kind = FaultKind::kFloatingPoint;
      break;
    default:
      return EXCEPTION_CONTINUE_SEARCH;
  }
  fault.code_address = reinterpret_cast<uintptr_t>(record.ExceptionAddress);
  if (!InOwnCode(fault.code_address)) return EXCEPTION_CONTINUE_SEARCH;
  FaultScope* scope = FaultScope::BeginFault(fault);
  if (!scope) return EXCEPTION_CONTINUE_SEARCH;
  CONTEXT& context = *pointers->ContextRecord;
  std::memcpy(&StateOf(scope).context, &context, sizeof context);
  // As a call from the faulting instruction would: its address (one byte
  // on, so the unwinder's step back lands inside it) as the return address.
#if defined(_WIN64)
  context.Rsp -= 8;
  *reinterpret_cast<DWORD64*>(context.Rsp) = context.Rip + 1;
  context.Rip = reinterpret_cast<DWORD64>(&tarvel_FaultTrampoline);
#else
  context.Esp -= 4;
  *reinterpret_cast<DWORD*>(context.Esp) = context.Eip + 1;
  context.Eip = reinterpret_cast<DWORD>(&tarvel_FaultEntry);
#endif
  return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

FaultScope* FaultScope::Current() noexcept {
  return static_cast<FaultScope*>(::TlsGetValue(g_slot));
}

void FaultScope::SetCurrent(FaultScope* scope) noexcept {
  ::TlsSetValue(g_slot, scope);
}

bool InstallFaultTrap() {
  if (g_handler) return true;
  if (g_slot == TLS_OUT_OF_INDEXES) return false;
  g_nt_continue = reinterpret_cast<NtContinueFn>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "NtContinue")));
  if (!g_nt_continue) return false;
  NoteOwnCode();
  g_handler = ::AddVectoredExceptionHandler(1, &OnException);
  return g_handler != nullptr;
}

void RemoveFaultTrap() {
  if (!g_handler) return;
  ::RemoveVectoredExceptionHandler(g_handler);
  g_handler = nullptr;
}

bool FaultTrapInstalled() {
  return g_handler != nullptr;
}

}  // namespace tarvel::platform
