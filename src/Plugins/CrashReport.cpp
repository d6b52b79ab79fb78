#include "Plugins/CrashReport.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <typeinfo>

#include "Common/SymbolTable.h"
#include "Plugins/vopPluginInstances.h"
#include "Plugins/vopPluginModule.h"
#include "platform/call_stack.h"

#if defined(__GNUG__)
#include <cxxabi.h>
#endif

namespace tarvel {

namespace {

// A name longer than this loses its middle: a report is one line of the
// host's log, and a name's start (its class) and end (the function, the
// lambda's number) tell most.
constexpr size_t kMaxNameLength = 160;
constexpr size_t kNameHeadLength = 60;

std::string Demangle(const char* name) {
#if defined(__GNUG__)
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> out(abi::__cxa_demangle(name, nullptr, nullptr, &status),
                                             std::free);
  if (status == 0 && out) return out.get();
#endif
  return name;
}

std::string Hex(uintptr_t value) {
  char text[2 + 2 * sizeof value + 1];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

const TSymbolTable* OwnSymbols() {
  static const std::optional<TSymbolTable> table = TSymbolTable::Parse(platform::OwnSymbolTable());
  return table ? &*table : nullptr;
}

std::string DescribeFrame(uintptr_t address) {
  const platform::CodeLocation where = platform::LocateCode(address);
  if (where.module.empty()) return Hex(address);
  std::string name;
  uint32_t into = 0;
  const TSymbolTable* symbols = where.own ? OwnSymbols() : nullptr;
  if (symbols && where.offset <= UINT32_MAX &&
      symbols->Find(static_cast<uint32_t>(where.offset), &name, &into)) {
    if (name.size() > kMaxNameLength)
      name = name.substr(0, kNameHeadLength) + "..." +
             name.substr(name.size() - (kMaxNameLength - kNameHeadLength - 3));
    return where.module + "!" + name + "+" + Hex(into);
  }
  return where.module + "+" + Hex(where.offset);
}

// ThrownObject: where the exception being handled lives; the runtime keeps
// it behind the one pointer an exception_ptr holds.
const void* ThrownObject(const std::exception_ptr& current) {
  static_assert(sizeof(std::exception_ptr) == sizeof(void*), "exception_ptr holds one pointer");
  const void* thrown = nullptr;
  std::memcpy(&thrown, &current, sizeof thrown);
  return thrown;
}

void ReportToAnInstance(const std::string& report) noexcept {
  try {
    for (const std::shared_ptr<TvopPlugin>& instance : Instances()) {
      if (!instance->HostWindow()) continue;
      instance->AddLog(0, report);
      return;
    }
  } catch (...) {
  }
}

void ReportUnclaimedFault(const platform::EHardwareFault& fault,
                          const platform::CallStack& stack) noexcept {
  try {
    ReportToAnInstance(DescribeFault(fault, stack));
  } catch (...) {
  }
}

}  // namespace

std::string DescribeStack(const platform::CallStack& stack) {
  std::string text;
  for (int i = 0; i < stack.count; ++i) {
    text += i ? " < " : " at ";
    text += DescribeFrame(stack.frames[i]);
  }
  return text;
}

std::string DescribeFault(const platform::EHardwareFault& fault, const platform::CallStack& stack) {
  return "Exception hardware fault: " + fault.What() + DescribeStack(stack);
}

std::string DescribeCurrentException() {
  std::exception_ptr current = std::current_exception();
  if (!current) return {};
  platform::CallStack stack;
  const bool has_stack = platform::FaultScope::ThrowStack(ThrownObject(current), &stack);
  const std::string at = has_stack ? DescribeStack(stack) : std::string();
  try {
    std::rethrow_exception(current);
  } catch (const platform::EHardwareFault& fault) {
    platform::FaultScope* scope = platform::FaultScope::Current();
    platform::CallStack fault_stack;
    if (scope && scope->TakeFault(nullptr, &fault_stack)) return DescribeFault(fault, fault_stack);
    return DescribeFault(fault, platform::CallStack());
  } catch (const std::exception& e) {
    return "Exception " + Demangle(typeid(e).name()) + ": " + e.what() + at;
  } catch (...) {
#if defined(__GNUG__)
    if (const std::type_info* t = abi::__cxa_current_exception_type())
      return "Exception " + Demangle(t->name()) + at;
#endif
    return "Exception of unknown type" + at;
  }
}

void TCallScope::ReportFault(TvopPlugin* instance) noexcept {
  platform::EHardwareFault fault;
  platform::CallStack stack;
  if (!scope_.TakeFault(&fault, &stack)) return;
  try {
    const std::string report = DescribeFault(fault, stack);
    if (instance) {
      instance->AddLog(0, report);
    } else {
      ReportToAnInstance(report);
    }
  } catch (...) {
  }
}

void InstallCrashReporting() {
  platform::SetFaultReporter(&ReportUnclaimedFault);
  platform::InstallFaultTrap();
}

void RemoveCrashReporting() {
  platform::RemoveFaultTrap();
  platform::SetFaultReporter(nullptr);
}

}  // namespace tarvel
