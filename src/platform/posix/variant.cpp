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

static bool IsPlainType(uint16_t vt) {
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_ERROR:
    case VT_BOOL:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
      return true;
    default:
      return false;
  }
}

bool VariantClear(Variant* v) {
  if (v->vt == VT_BSTR) {
    SysFreeString(v->bstrVal);
  } else if (!IsPlainType(v->vt)) {
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
  if (!IsPlainType(src->vt)) return false;
  *dst = *src;
  return true;
}

}  // namespace tarvel::platform
