// Where a C++ exception was thrown, noted for its crash report while the
// thrower's frames are still on the stack.
//
// A module links with --wrap of the C++ runtime's personality routine
// (__gxx_personality_v0; __gxx_personality_seh0 on 64-bit Windows): every
// frame of the module that has cleanups or handlers names it, so the first
// of those frames an exception meets calls this wrapper in the search for a
// handler, before anything is unwound. The wrapper notes the stack in the
// thread's innermost fault scope (platform/faults.h) and hands on to the
// runtime. Nothing of this runs for a call that throws nothing. Only
// exceptions thrown by `throw` are noted: one rethrown by `throw;` or from
// an exception_ptr keeps the stack of its first throw.
//
// Compiled into each module rather than into the core library: only a
// module links with the wrap, and only there does __real_ name the runtime.
#include <unwind.h>

#include <cstdint>

#include "platform/faults.h"

#if defined(_WIN64)
#include <windows.h>
#endif

namespace {

// The class of an exception thrown by `throw` ("GNUCC++\0"); an exception
// rethrown from an exception_ptr is a dependent one ("GNUCC++\1").
constexpr uint64_t kThrownByGnuCxx = 0x474e5543432b2b00ULL;

// Note notes the stack of an exception thrown by `throw` (the thrown object
// follows the runtime's header). `fresh`: it has not been through a search
// before, so it is no rethrow.
void Note(const _Unwind_Exception* exception, bool fresh) {
  if (exception && exception->exception_class == kThrownByGnuCxx)
    tarvel::platform::FaultScope::NoteThrow(exception + 1, fresh);
}

}  // namespace

#if defined(_WIN64)

extern "C" EXCEPTION_DISPOSITION __real___gxx_personality_seh0(PEXCEPTION_RECORD, void*, PCONTEXT,
                                                               PDISPATCHER_CONTEXT);

extern "C" EXCEPTION_DISPOSITION __wrap___gxx_personality_seh0(PEXCEPTION_RECORD record,
                                                               void* frame, PCONTEXT context,
                                                               PDISPATCHER_CONTEXT dispatch) {
  // The code the unwinder raises a C++ exception with (GCC's "GCC" code).
  constexpr DWORD kGccThrow = 0x20474343;
  if (record->ExceptionCode == kGccThrow && record->NumberParameters >= 1 &&
      !(record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)))
    // This unwinder clears its own fields at every raise, so a rethrow
    // cannot be told from a throw: each raise is noted anew (a rethrown
    // exception's stack then starts where it was rethrown).
    Note(reinterpret_cast<const _Unwind_Exception*>(record->ExceptionInformation[0]), true);
  return __real___gxx_personality_seh0(record, frame, context, dispatch);
}

#else

#if defined(_WIN32)
#define TARVEL_MODULE_OWN
#else
// The wrapper is the module's own, not a name it offers other modules.
#define TARVEL_MODULE_OWN __attribute__((visibility("hidden")))
#endif

extern "C" _Unwind_Reason_Code __real___gxx_personality_v0(int, _Unwind_Action,
                                                           _Unwind_Exception_Class,
                                                           _Unwind_Exception*, _Unwind_Context*);

extern "C" TARVEL_MODULE_OWN _Unwind_Reason_Code __wrap___gxx_personality_v0(
    int version, _Unwind_Action actions, _Unwind_Exception_Class exception_class,
    _Unwind_Exception* exception, _Unwind_Context* context) {
  // The unwinder marks an exception where its search ended (private_2) only
  // once that search is over; a new exception's header starts zeroed.
  if (actions & _UA_SEARCH_PHASE) Note(exception, exception->private_2 == 0);
  return __real___gxx_personality_v0(version, actions, exception_class, exception, context);
}

#endif
