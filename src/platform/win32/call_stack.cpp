// Call stacks on Windows. 64-bit: the system's unwind data (every module has
// it, the host's too). 32-bit: the module's DWARF tables, which end at the
// first frame of code built without them (the host's); from there on, the
// frame pointers the host's frames keep, read only within the thread's
// stack. The names table is a section of the module, mapped with it.
#include "platform/call_stack.h"

#include <windows.h>

#include <cstring>

#if !defined(_WIN64)
#include <unwind.h>
#endif

namespace tarvel::platform {
namespace {

extern "C" IMAGE_DOS_HEADER __ImageBase;

#if defined(_WIN64)
// The C++ runtime's handler, as this module's unwind data names it (in a
// module that wraps it to note throw stacks, the wrapper).
extern "C" EXCEPTION_DISPOSITION __gxx_personality_seh0(PEXCEPTION_RECORD, void*, PCONTEXT,
                                                        PDISPATCHER_CONTEXT);
#endif

}  // namespace

#if defined(_WIN64)

void WalkStack(FrameVisitor visit, void* context) {
  CONTEXT machine;
  ::RtlCaptureContext(&machine);
  UNWIND_HISTORY_TABLE history;
  std::memset(&history, 0, sizeof history);
  bool first = true;
  while (machine.Rip) {
    StackFrame frame;
    frame.pc = first ? machine.Rip : machine.Rip - 1;
    frame.sp = machine.Rsp;
    DWORD64 image = 0;
    PRUNTIME_FUNCTION function = ::RtlLookupFunctionEntry(machine.Rip, &image, &history);
    if (function) {
      void* handler_data = nullptr;
      DWORD64 establisher = 0;
      PEXCEPTION_ROUTINE handler =
          ::RtlVirtualUnwind(UNW_FLAG_EHANDLER, image, machine.Rip, function, &machine,
                             &handler_data, &establisher, nullptr);
      frame.function = static_cast<uintptr_t>(image + function->BeginAddress);
      // Only the C++ runtime's handler keeps its table there.
      if (handler == reinterpret_cast<PEXCEPTION_ROUTINE>(&__gxx_personality_seh0))
        frame.lsda = static_cast<const unsigned char*>(handler_data);
    } else {
      // A leaf function: its return address is on top of the stack.
      machine.Rip = *reinterpret_cast<DWORD64*>(machine.Rsp);
      machine.Rsp += 8;
    }
    first = false;
    if (!visit(frame, context)) return;
  }
}

#else

namespace {

struct Walk {
  FrameVisitor visit;
  void* context;
  bool stopped = false;
  uintptr_t last_pc = 0;
  uintptr_t last_frame_pointer = 0;
};

// The column of EBP in this target's DWARF tables (ESP is 4).
constexpr int kFramePointerColumn = 5;

_Unwind_Reason_Code VisitContext(_Unwind_Context* context, void* argument) {
  auto& walk = *static_cast<Walk*>(argument);
  int before_instruction = 0;
  const uintptr_t ip = _Unwind_GetIPInfo(context, &before_instruction);
  if (ip == 0) return _URC_END_OF_STACK;
  StackFrame frame;
  frame.pc = before_instruction ? ip : ip - 1;
  frame.function = _Unwind_GetRegionStart(context);
  frame.lsda = reinterpret_cast<const unsigned char*>(_Unwind_GetLanguageSpecificData(context));
  frame.sp = _Unwind_GetCFA(context);
  walk.last_pc = frame.pc;
  walk.last_frame_pointer = _Unwind_GetGR(context, kFramePointerColumn);
  if (!walk.visit(frame, walk.context)) {
    walk.stopped = true;
    return _URC_END_OF_STACK;
  }
  return _URC_NO_REASON;
}

}  // namespace

void WalkStack(FrameVisitor visit, void* context) {
  Walk walk{visit, context};
  _Unwind_Backtrace(&VisitContext, &walk);
  if (walk.stopped) return;
  // The last frame the tables reached is code without them; go on along
  // frame pointers, each link higher up the stack than the one before.
  // The thread's stack: its top and bottom in the thread information block
  // (NT_TIB's StackBase and StackLimit, at fs:4 and fs:8).
  uintptr_t high = 0, low = 0;
  asm("movl %%fs:4, %0" : "=r"(high));
  asm("movl %%fs:8, %0" : "=r"(low));
  uintptr_t link = walk.last_frame_pointer;
  for (int i = 0; i < 64; ++i) {
    if (link < low || link + 2 * sizeof(uintptr_t) > high || (link & 3)) return;
    const uintptr_t* record = reinterpret_cast<const uintptr_t*>(link);
    const uintptr_t next = record[0], return_address = record[1];
    if (return_address == 0) return;
    StackFrame frame;
    frame.pc = return_address - 1;
    if (!visit(frame, context)) return;
    if (next <= link) return;
    link = next;
  }
}

#endif

CodeLocation LocateCode(uintptr_t address) {
  CodeLocation location;
  location.offset = address;
  HMODULE module = nullptr;
  if (!::GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(address), &module) ||
      !module)
    return location;
  char path[MAX_PATH * 2];
  const DWORD n = ::GetModuleFileNameA(module, path, sizeof path);
  std::string full(path, n);
  const size_t slash = full.find_last_of("\\/");
  location.module = slash == std::string::npos ? full : full.substr(slash + 1);
  location.offset = address - reinterpret_cast<uintptr_t>(module);
  location.own = module == reinterpret_cast<HMODULE>(&__ImageBase);
  return location;
}

std::string_view OwnSymbolTable() {
  auto* base = reinterpret_cast<const char*>(&__ImageBase);
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + __ImageBase.e_lfanew);
  const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
  for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
    if (std::memcmp(section->Name, ".tvsyms", 8) != 0) continue;
    // VirtualSize is the table's own size; the page's rest is padding.
    return std::string_view(base + section->VirtualAddress, section->Misc.VirtualSize);
  }
  return {};
}

}  // namespace tarvel::platform
