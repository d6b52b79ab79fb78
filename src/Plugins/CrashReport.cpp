#include "Plugins/CrashReport.h"

#include <cstdlib>
#include <exception>
#include <memory>
#include <typeinfo>

#if defined(__GNUG__)
#include <cxxabi.h>
#endif

namespace tarvel {

namespace {
std::string Demangle(const char* name) {
#if defined(__GNUG__)
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> out(abi::__cxa_demangle(name, nullptr, nullptr, &status),
                                             std::free);
  if (status == 0 && out) return out.get();
#endif
  return name;
}
}  // namespace

std::string DescribeCurrentException() {
  std::exception_ptr current = std::current_exception();
  if (!current) return {};
  try {
    std::rethrow_exception(current);
  } catch (const std::exception& e) {
    return "Exception " + Demangle(typeid(e).name()) + ": " + e.what();
  } catch (...) {
#if defined(__GNUG__)
    if (const std::type_info* t = abi::__cxa_current_exception_type())
      return "Exception " + Demangle(t->name());
#endif
    return "Exception of unknown type";
  }
}

}  // namespace tarvel
