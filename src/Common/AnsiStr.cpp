#include "Common/AnsiStr.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace tarvel {

namespace {
constexpr int32_t kConstantRefCount = -1;
}

char* AnsiStrNew(std::string_view text) {
  if (text.empty()) return nullptr;
  auto* block = static_cast<int32_t*>(std::malloc(2 * sizeof(int32_t) + text.size() + 1));
  if (!block) throw std::bad_alloc();
  block[0] = kConstantRefCount;
  block[1] = static_cast<int32_t>(text.size());
  char* chars = reinterpret_cast<char*>(block + 2);
  std::memcpy(chars, text.data(), text.size());
  chars[text.size()] = '\0';
  return chars;
}

void AnsiStrFree(char* s) {
  if (s) std::free(reinterpret_cast<int32_t*>(s) - 2);
}

}  // namespace tarvel
