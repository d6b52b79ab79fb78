// Call stacks for the crash reports: walking the calling thread's frames,
// the module an address lies in, and the names table the build puts into
// the module.
//
// Windows 32-bit: frames are found through the module's DWARF unwind
// tables, then beyond the first frame without them (the host's) along its
// frame pointers. Windows 64-bit: through the system's unwind data, which
// every module has. POSIX: through the unwind tables of every module.
//
// Threads: every function may be called from any thread. WalkStack runs on
// the thread it walks; it allocates nothing, so the fault trap may use it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvel::platform {

constexpr int kMaxStackFrames = 32;

// A call stack: code addresses, innermost first. Each points into the
// instruction its frame was running: the faulting one, or a call.
struct CallStack {
  uintptr_t frames[kMaxStackFrames];
  int count = 0;
};

struct StackFrame {
  uintptr_t pc = 0;        // inside the instruction the frame is running
  uintptr_t function = 0;  // where its function begins; 0 when unknown
  // Its function's table of call sites and handlers (the C++ runtime's
  // format); null when it has none or it is not known.
  const unsigned char* lsda = nullptr;
  // The stack pointer while the frame runs that instruction: its locals lie
  // between this and the next frame's. 0 for frames found by frame pointer.
  uintptr_t sp = 0;
};

// WalkStack visits the calling thread's frames, innermost first (its own
// caller's among the first), until visit returns false or no further frame
// can be found.
using FrameVisitor = bool (*)(const StackFrame& frame, void* context);
void WalkStack(FrameVisitor visit, void* context);

// LocateCode names the module an address lies in.
struct CodeLocation {
  std::string module;    // its file name without the folder; empty when none
  uintptr_t offset = 0;  // from the module's base; the address itself without one
  bool own = false;      // the module this code is linked into
};
CodeLocation LocateCode(uintptr_t address);

// OwnSymbolTable: the names table the build put into the module this code
// is linked into (Common/SymbolTable.h reads it); empty when it has none.
// Windows: its section .tvsyms, mapped with the module. POSIX: its section
// .tarvel_symbols, read from the module's file on first use.
std::string_view OwnSymbolTable();

}  // namespace tarvel::platform
