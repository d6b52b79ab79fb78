// Faults the processor raises in the module's own code, turned into C++
// exceptions, so that one bad pointer or division in the module costs the
// host one call, not its process.
//
// A FaultScope marks the calling thread as running the module's code for
// the host: every export, the check timer's tick and the module's window,
// dialog and hook procedures open one around their work and catch every
// exception. While a scope is open on a thread, a fault that the module's
// own code raises on that thread (an access violation, an integer division
// by zero or overflow, an illegal instruction, a floating-point exception
// where those are unmasked) is thrown as an
// EHardwareFault from the faulting instruction, as if that instruction had
// thrown it: the frames up to the scope's unwind as for any exception (their
// locks released, their objects freed) and the scope's owner catches it.
// The code between must be built so that trapping instructions may throw
// (-fnon-call-exceptions); the module is.
//
// A fault is left alone, and goes on to the host as if the module were not
// there, when it is raised outside the module's code (the host's, the
// system's, another module's), on a thread without a scope, while the scope
// is already raising one, or where unwinding could not reach the scope's
// frame: code built without unwind tables between (as the C++ runtime
// linked into the DLL is, or another module's), a frame whose table has no
// entry for the instruction (std::terminate would run), or a foreign frame
// the unwinder cannot pass.
//
// The trap is installed once per module: InstallFaultTrap as it loads,
// RemoveFaultTrap as it unloads. Windows: a vectored exception handler that
// sends the faulting thread on to a function of the module, which throws.
// POSIX: the handler of SIGSEGV, SIGBUS, SIGFPE and SIGILL that the modules
// of a process share (platform/posix/fault_signals.cpp), which throws from
// the signal frame and hands every other signal to the handler before it.
//
// Threads: a scope belongs to the thread that opened it, and scopes nest
// (an export the host calls while the module waits for it opens its own);
// a fault goes to the innermost. Opening and closing cost a read and two
// writes of a thread-local pointer, nothing else.
//
// Example, the shell of an export:
//
//   int32_t Export(PPluginCallRec rec) {
//     platform::FaultScope scope;
//     int32_t result;
//     try { result = Work(rec); } catch (...) { result = -3; }
//     if (scope.Faulted()) result = -3;   // and report scope.TakeFault(...)
//     return result;
//   }
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/call_stack.h"

namespace tarvel::platform {

enum class FaultKind : uint8_t {
  kAccessViolation,
  kIntegerDivideByZero,
  kIntegerOverflow,
  kIllegalInstruction,
  // Only where floating-point exceptions were unmasked (the module leaves
  // them masked; a host may not), or where an emulated CPU reports an
  // integer division by zero as one (Wine under qemu-i386).
  kFloatingPoint,
};

// EHardwareFault: what a scope's owner catches for a fault. It is no
// std::exception on purpose: handlers of the module's own errors do not
// take it for one of theirs, only catch (...) and the scope's owner see it.
class EHardwareFault {
 public:
  FaultKind kind = FaultKind::kAccessViolation;
  uintptr_t code_address = 0;  // the faulting instruction
  uintptr_t data_address = 0;  // access violation: the address touched
  char access = 0;             // access violation: 'r', 'w', 'x'; 0 unknown

  // What: "access violation reading address 0x00000000",
  // "integer division by zero", ...
  std::string What() const;
};

class FaultScope {
 public:
  FaultScope() noexcept : outer_(Current()) { SetCurrent(this); }
  // A fault thrown inside and taken by no one goes to the fault reporter.
  ~FaultScope() {
    if (state_ == State::kThrown) ReportUntaken();
    SetCurrent(outer_);
  }
  FaultScope(const FaultScope&) = delete;
  FaultScope& operator=(const FaultScope&) = delete;

  // Faulted: a fault was thrown inside this scope (not in an inner one).
  bool Faulted() const { return state_ == State::kThrown || state_ == State::kTaken; }
  // TakeFault hands out the fault thrown inside this scope and its call
  // stack (from the faulting instruction out) once, for its report; false
  // when there is none or it was taken already.
  bool TakeFault(EHardwareFault* fault, CallStack* stack);

  // Current: the innermost scope of the calling thread, or null.
  static FaultScope* Current() noexcept;

  // ThrowStack: the call stack noted where the exception whose thrown
  // object is at `thrown` was thrown, from the innermost scope; false when
  // none was noted there (an exception thrown before the scope opened, or
  // where the module does not see it).
  static bool ThrowStack(const void* thrown, CallStack* stack);
  // NoteThrow notes the stack of a C++ exception in the innermost scope;
  // for the module's exception personality, while the exception searches
  // for its handler and the thrower's frames are still there. `fresh`: the
  // exception was just thrown, not rethrown (where the unwinder can tell).
  // A rethrown exception keeps the stack of its throw; a new one replaces
  // the one before, which was handled by then or is being handled further
  // out (its object's address may well be the new one's: fresh says so).
  static void NoteThrow(const void* thrown, bool fresh);

  // ---- For the platform's trap (platform/*/faults.cpp) ----
  // BeginFault: the trap met a fault in the module's code on this thread;
  // the scope that will raise it, or null: no scope, one busy raising, or
  // the fault is the one RaiseFault gave up last (it happens again once the
  // thread goes on, and must go on to the host then).
  static FaultScope* BeginFault(const EHardwareFault& fault) noexcept;
  // RaiseFault, called on top of the faulting frame (Windows: by the
  // function the trap sent the thread to; POSIX: in the signal handler),
  // throws the fault when unwinding can carry it to this scope's frame;
  // otherwise it gives the fault up (the trap passes it on) and returns.
  void RaiseFault();
  // The trap's own state while it raises: Windows keeps the faulting
  // thread's context here, to give it back when RaiseFault declines.
#if defined(_WIN64)
  static constexpr size_t kTrapStateBytes = 1280;
#elif defined(_WIN32)
  static constexpr size_t kTrapStateBytes = 736;
#else
  static constexpr size_t kTrapStateBytes = 8;
#endif
  alignas(16) unsigned char trap_state[kTrapStateBytes];

 private:
  static void SetCurrent(FaultScope* scope) noexcept;
  void ReportUntaken() noexcept;

  enum class State : uint8_t { kNone, kRaising, kThrown, kTaken };
  FaultScope* outer_;
  State state_ = State::kNone;
  uintptr_t given_up_ = 0;        // the address of the fault RaiseFault gave up
  const void* thrown_ = nullptr;  // whose stack throw_stack_ holds
  EHardwareFault fault_;
  CallStack fault_stack_;
  CallStack throw_stack_;
};

// SetFaultReporter: where a scope sends, as it closes, a fault that was
// thrown inside it and that its owner did not take (the module's window
// procedures have no instance of their own to report to). Null: nowhere.
// The reporter runs on the scope's thread and must not throw.
using FaultReporter = void (*)(const EHardwareFault& fault, const CallStack& stack) noexcept;
void SetFaultReporter(FaultReporter reporter);

// InstallFaultTrap / RemoveFaultTrap: once per module, as it loads and as it
// unloads (not while a thread is inside it). Install is idempotent; false
// when the system refused it (faults then end the process as before).
bool InstallFaultTrap();
void RemoveFaultTrap();

// FaultTrapInstalled: InstallFaultTrap has succeeded in this module and not
// been undone.
bool FaultTrapInstalled();

}  // namespace tarvel::platform
