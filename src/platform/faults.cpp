// The part of the fault trap that is the same on every platform: the
// scopes, the stacks they keep, and the decision whether a fault can be
// thrown, made by walking from the faulting frame to the scope's and asking
// each frame's table whether an exception may pass there.
#include "platform/faults.h"

#include <cxxabi.h>
#include <unwind.h>

#include <atomic>
#include <cstdio>
#include <cstring>

namespace tarvel::platform {

namespace {

// ---- The C++ runtime's tables of call sites (the LSDA) ----

constexpr uint8_t kEncOmit = 0xff;

// ReadUleb128 / ReadSleb128 read one LEB128 number.
uint64_t ReadUleb128(const unsigned char*& p) {
  uint64_t value = 0;
  unsigned shift = 0;
  unsigned char byte;
  do {
    byte = *p++;
    if (shift < 64) value |= static_cast<uint64_t>(byte & 0x7f) << shift;
    shift += 7;
  } while (byte & 0x80);
  return value;
}

int64_t ReadSleb128(const unsigned char*& p) {
  int64_t value = 0;
  unsigned shift = 0;
  unsigned char byte;
  do {
    byte = *p++;
    if (shift < 64) value |= static_cast<int64_t>(byte & 0x7f) << shift;
    shift += 7;
  } while (byte & 0x80);
  if (shift < 64 && (byte & 0x40)) value |= -(static_cast<int64_t>(1) << shift);
  return value;
}

template <class T>
T ReadRaw(const unsigned char*& p) {
  T value;
  std::memcpy(&value, p, sizeof value);
  p += sizeof value;
  return value;
}

// ReadEncoded reads a number in one of the DWARF pointer encodings; the
// call-site fields are plain offsets, so only the format matters. False for
// a format this reader does not know.
bool ReadEncoded(uint8_t encoding, const unsigned char*& p, uint64_t* value) {
  switch (encoding & 0x0f) {
    case 0x00:
      *value = ReadRaw<uintptr_t>(p);
      return true;
    case 0x01:
      *value = ReadUleb128(p);
      return true;
    case 0x02:
      *value = ReadRaw<uint16_t>(p);
      return true;
    case 0x03:
      *value = ReadRaw<uint32_t>(p);
      return true;
    case 0x04:
      *value = ReadRaw<uint64_t>(p);
      return true;
    case 0x09:
      *value = static_cast<uint64_t>(ReadSleb128(p));
      return true;
    case 0x0a:
      *value = static_cast<uint64_t>(ReadRaw<int16_t>(p));
      return true;
    case 0x0b:
      *value = static_cast<uint64_t>(ReadRaw<int32_t>(p));
      return true;
    case 0x0c:
      *value = static_cast<uint64_t>(ReadRaw<int64_t>(p));
      return true;
    default:
      return false;
  }
}

// MayUnwindAt: an exception at pc may leave or be caught in the function
// that begins at `function` and whose table is lsda: its call-site table
// has an entry for pc. Without an entry the C++ runtime calls
// std::terminate (that is how must-not-throw regions are encoded).
bool MayUnwindAt(const unsigned char* lsda, uintptr_t function, uintptr_t pc) {
  const unsigned char* p = lsda;
  uint64_t ignored = 0;
  const uint8_t lpstart_encoding = *p++;
  if (lpstart_encoding != kEncOmit && !ReadEncoded(lpstart_encoding, p, &ignored)) return false;
  const uint8_t ttype_encoding = *p++;
  if (ttype_encoding != kEncOmit) ReadUleb128(p);
  const uint8_t site_encoding = *p++;
  const uint64_t table_length = ReadUleb128(p);
  const unsigned char* end = p + table_length;
  while (p < end) {
    uint64_t start = 0, length = 0, landing_pad = 0;
    if (!ReadEncoded(site_encoding, p, &start) || !ReadEncoded(site_encoding, p, &length) ||
        !ReadEncoded(site_encoding, p, &landing_pad))
      return false;
    ReadUleb128(p);  // the action
    const uintptr_t begin = function + static_cast<uintptr_t>(start);
    if (pc < begin) return false;  // the table is sorted
    if (pc < begin + static_cast<uintptr_t>(length)) return true;
  }
  return false;
}

// ---- Walks ----

// The fault's walk: from the faulting frame out to the scope's, checking
// each, then on (for the report) as far as the stack goes.
struct FaultWalk {
  uintptr_t fault_pc;
  uintptr_t scope_address;
  CallStack* stack;
  bool at_fault = false;  // the faulting frame has been met
  bool reached = false;   // every frame up to the scope's may unwind
  bool refused = false;
};

bool VisitFaultFrame(const StackFrame& frame, void* context) {
  auto& walk = *static_cast<FaultWalk*>(context);
  if (!walk.at_fault) {
    if (frame.pc != walk.fault_pc) return true;  // the trap's own frames
    walk.at_fault = true;
  }
  if (!walk.reached) {
    if (frame.sp != 0 && frame.sp > walk.scope_address && walk.stack->count > 0) {
      walk.reached = true;
    } else if (frame.sp == 0 ||
               (frame.lsda && !MayUnwindAt(frame.lsda, frame.function, frame.pc))) {
      walk.refused = true;
      return false;
    }
  }
  if (walk.stack->count < kMaxStackFrames) walk.stack->frames[walk.stack->count++] = frame.pc;
  return walk.stack->count < kMaxStackFrames || !walk.reached;
}

// The throw's walk: every frame from the personality out; the runtime's
// own frames are cut off afterwards.
constexpr int kThrowWalkFrames = kMaxStackFrames + 24;
struct ThrowWalk {
  uintptr_t pc[kThrowWalkFrames];
  uintptr_t function[kThrowWalkFrames];
  int count = 0;
};

bool VisitThrowFrame(const StackFrame& frame, void* context) {
  auto& walk = *static_cast<ThrowWalk*>(context);
  walk.pc[walk.count] = frame.pc;
  walk.function[walk.count] = frame.function;
  return ++walk.count < kThrowWalkFrames;
}

// IsThrowMachinery: a function of the C++ runtime or the unwinder that
// every throw passes through; the thrower's frames follow the last one.
bool IsThrowMachinery(uintptr_t function) {
  if (!function) return false;
  static const uintptr_t machinery[] = {
      reinterpret_cast<uintptr_t>(&__cxxabiv1::__cxa_throw),
      reinterpret_cast<uintptr_t>(&__cxxabiv1::__cxa_rethrow),
      reinterpret_cast<uintptr_t>(&_Unwind_RaiseException),
      reinterpret_cast<uintptr_t>(&_Unwind_Resume_or_Rethrow),
  };
  for (uintptr_t m : machinery)
    if (m == function) return true;
  return false;
}

std::atomic<FaultReporter> g_reporter{nullptr};

}  // namespace

void SetFaultReporter(FaultReporter reporter) {
  g_reporter = reporter;
}

void FaultScope::ReportUntaken() noexcept {
  EHardwareFault fault;
  CallStack stack;
  if (!TakeFault(&fault, &stack)) return;
  if (FaultReporter reporter = g_reporter.load()) reporter(fault, stack);
}

std::string EHardwareFault::What() const {
  char text[96];
  switch (kind) {
    case FaultKind::kAccessViolation: {
      const char* verb = access == 'w'   ? "writing"
                         : access == 'x' ? "executing"
                         : access == 'r' ? "reading"
                                         : "at";
      std::snprintf(text, sizeof text, "access violation %s address 0x%0*llx", verb,
                    static_cast<int>(sizeof(uintptr_t) * 2),
                    static_cast<unsigned long long>(data_address));
      return text;
    }
    case FaultKind::kIntegerDivideByZero:
      return "integer division by zero";
    case FaultKind::kIntegerOverflow:
      return "integer overflow";
    case FaultKind::kIllegalInstruction:
      return "illegal instruction";
    case FaultKind::kFloatingPoint:
      return "floating-point exception";
  }
  return "processor fault";
}

bool FaultScope::TakeFault(EHardwareFault* fault, CallStack* stack) {
  if (state_ != State::kThrown) return false;
  state_ = State::kTaken;
  if (fault) *fault = fault_;
  if (stack) *stack = fault_stack_;
  return true;
}

bool FaultScope::ThrowStack(const void* thrown, CallStack* stack) {
  FaultScope* scope = Current();
  if (!scope || !thrown || scope->thrown_ != thrown) return false;
  *stack = scope->throw_stack_;
  return true;
}

void FaultScope::NoteThrow(const void* thrown, bool fresh) {
  FaultScope* scope = Current();
  if (!scope || (scope->thrown_ == thrown && !fresh)) return;
  ThrowWalk walk;
  WalkStack(&VisitThrowFrame, &walk);
  int first = 0;
  for (int i = 0; i < walk.count && i < kThrowWalkFrames - kMaxStackFrames; ++i)
    if (IsThrowMachinery(walk.function[i])) first = i + 1;
  scope->thrown_ = thrown;
  scope->throw_stack_.count = 0;
  for (int i = first; i < walk.count && scope->throw_stack_.count < kMaxStackFrames; ++i)
    scope->throw_stack_.frames[scope->throw_stack_.count++] = walk.pc[i];
}

FaultScope* FaultScope::BeginFault(const EHardwareFault& fault) noexcept {
  FaultScope* scope = Current();
  if (!scope || scope->state_ == State::kRaising) return nullptr;
  if (scope->given_up_ == fault.code_address) {
    scope->given_up_ = 0;
    return nullptr;
  }
  scope->state_ = State::kRaising;
  scope->fault_ = fault;
  scope->fault_stack_.count = 0;
  return scope;
}

void FaultScope::RaiseFault() {
  FaultWalk walk{fault_.code_address, reinterpret_cast<uintptr_t>(this), &fault_stack_};
  fault_stack_.count = 0;
  WalkStack(&VisitFaultFrame, &walk);
  if (!walk.reached) {
    state_ = State::kNone;
    given_up_ = fault_.code_address;
    return;
  }
  state_ = State::kThrown;
  throw fault_;
}

}  // namespace tarvel::platform
