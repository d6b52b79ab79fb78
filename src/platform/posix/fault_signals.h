// The process's handler of the signals a processor fault raises (SIGSEGV,
// SIGBUS, SIGFPE, SIGILL), shared by the modules of the process as Windows
// shares its vectored exception handlers. It lives in the process-wide
// library, so that a module that unloads takes nothing out from under the
// others, and the handler that was there before it is called for whatever
// no module takes.
//
// The handler is installed when the first module adds its own and restored
// when the last one removes it (if nothing replaced it meanwhile). It runs
// with the signal unblocked (SA_NODEFER): a module's handler that takes the
// fault throws out of it, and the signal must not stay blocked afterwards.
//
// Threads: Add and Remove may be called from any thread, not from a signal
// handler.
#pragma once

#include <csignal>

namespace tarvel::platform {

// A module's handler: it either throws (the fault is the module's, and
// becomes an exception at the faulting instruction) or returns (not its
// own). Called only for signals the processor raised (si_code > 0).
using SignalFaultHandler = void (*)(int signal, siginfo_t* info, void* ucontext);

bool AddSignalFaultHandler(SignalFaultHandler handler);
void RemoveSignalFaultHandler(SignalFaultHandler handler);

}  // namespace tarvel::platform
