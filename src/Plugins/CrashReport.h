// The crash-report facility: one log line for the host that tells what went
// wrong inside the module and where, for an exception being handled or a
// processor fault the module turned into one (platform/faults.h), and the
// scope every call from the host runs in, so that such a fault costs the
// call, not the host's process.
//
// A report reads "Exception <type>: <message>" and, where the stack is
// known, " at " and its frames innermost first, at most 32, joined by
// " < ": "<module>!<function>+0x<offset>" in the module's own code (names
// from the table the build puts into the module, Common/SymbolTable.h; one
// longer than 160 characters loses its middle to "..."),
// "<module>+0x<offset>" in another module's. Offsets count from the
// function's start (own code) or the module's base (others), and point into
// the instruction the frame was running: the faulting one, or a call.
// scripts/symbolize turns them into file and line.
//
//   Exception hardware fault: integer division by zero at
//   tarvel_probe.dll!tarvel::(anonymous namespace)::DivideInProbe+0x1b <
//   tarvel_probe.dll!...::TProbePlugin::Custom+0x5c4 < ... < host.exe+0x1c3d
//
// Threads: every function describes the calling thread's exception and
// may be called from any thread.
#pragma once

#include <string>

#include "platform/faults.h"

namespace tarvel {

class TvopPlugin;

// DescribeCurrentException: the report of the exception being handled (call
// it inside a catch block); "" when there is none. A fault's report takes
// the fault from its scope: it is then reported once.
std::string DescribeCurrentException();
// DescribeFault: the report of a fault taken from a scope.
std::string DescribeFault(const platform::EHardwareFault& fault, const platform::CallStack& stack);
// DescribeStack: " at " and the frames; "" for an empty stack.
std::string DescribeStack(const platform::CallStack& stack);

// TCallScope: the fault scope of one call from the host (an export, the
// check timer's tick). Example, in an export:
//
//   TCallScope call;
//   std::shared_ptr<TvopPlugin> instance;
//   int32_t result;
//   try { ... result = ...; } catch (...) { result = kResultException; }
//   return call.Finish(instance.get(), result, kResultException);
class TCallScope {
 public:
  // Finish gives the call's answer: `result`, or `on_fault` when a fault was
  // thrown inside; a fault no handler has reported yet is reported now, at
  // level 0, to `instance` (null: to an instance that has a host window).
  template <class T>
  T Finish(TvopPlugin* instance, T result, T on_fault) {
    if (!scope_.Faulted()) return result;
    ReportFault(instance);
    return on_fault;
  }
  bool Faulted() const { return scope_.Faulted(); }

 private:
  void ReportFault(TvopPlugin* instance) noexcept;
  platform::FaultScope scope_;
};

// InstallCrashReporting / RemoveCrashReporting: once per module, as it loads
// and unloads: the fault trap, and the reporter of faults that a scope
// without an instance met (they go to an instance that has a host window).
void InstallCrashReporting();
void RemoveCrashReporting();

}  // namespace tarvel
