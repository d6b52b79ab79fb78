#include "platform/variant.h"

#include <cstdlib>
#include <cstring>

namespace tarvel::platform {

// Layout of an OLE string: a 32-bit byte count, the characters, a 16-bit 0.
Bstr SysAllocStringLen(const OleChar* text, uint32_t length) {
  auto* block = static_cast<uint32_t*>(std::malloc(sizeof(uint32_t) + (length + 1) * 2));
  if (!block) return nullptr;
  block[0] = length * 2;
  auto* chars = reinterpret_cast<OleChar*>(block + 1);
  if (text && length) std::memcpy(chars, text, length * 2);
  chars[length] = 0;
  return chars;
}

void SysFreeString(Bstr s) {
  if (s) std::free(reinterpret_cast<uint32_t*>(s) - 1);
}

uint32_t SysStringLen(Bstr s) {
  return s ? reinterpret_cast<uint32_t*>(s)[-1] / 2 : 0;
}

void VariantInit(Variant* v) {
  std::memset(v, 0, sizeof(*v));
  v->vt = VT_EMPTY;
}

bool VariantClear(Variant* v) {
  if (v->vt == VT_BSTR) {
    SysFreeString(v->bstrVal);
  } else if (!IsPlainVariantType(v->vt)) {
    return false;
  }
  VariantInit(v);
  return true;
}

bool VariantCopy(Variant* dst, const Variant* src) {
  if (dst == src) return true;
  VariantClear(dst);
  if (src->vt == VT_BSTR) {
    Bstr copy =
        src->bstrVal ? SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal)) : nullptr;
    if (src->bstrVal && !copy) return false;
    *dst = *src;
    dst->bstrVal = copy;
    return true;
  }
  if (!IsPlainVariantType(src->vt)) return false;
  *dst = *src;
  return true;
}

}  // namespace tarvel::platform
