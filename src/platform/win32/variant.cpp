#include "platform/variant.h"

#include <ole2.h>
#include <windows.h>

namespace tarvel::platform {

static_assert(sizeof(VARIANT) == sizeof(Variant), "layout-compatible with VARIANT");
static_assert(sizeof(wchar_t) == sizeof(OleChar), "BSTR holds UTF-16");

Bstr SysAllocStringLen(const OleChar* text, uint32_t length) {
  return reinterpret_cast<Bstr>(
      ::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text), static_cast<UINT>(length)));
}

void SysFreeString(Bstr s) {
  ::SysFreeString(reinterpret_cast<BSTR>(s));
}

uint32_t SysStringLen(Bstr s) {
  return ::SysStringLen(reinterpret_cast<BSTR>(s));
}

void VariantInit(Variant* v) {
  ::VariantInit(reinterpret_cast<VARIANT*>(v));
}

// Only strings and plain values go through oleaut32: for interfaces,
// records and arrays it would call into the object (AddRef, Release,
// RecordCopy) that a variant from the host points at.
static bool IsCarried(uint16_t vt) {
  return vt == VT_BSTR || IsPlainVariantType(vt);
}

bool VariantClear(Variant* v) {
  if (!IsCarried(v->vt)) return false;
  return SUCCEEDED(::VariantClear(reinterpret_cast<VARIANT*>(v)));
}

bool VariantCopy(Variant* dst, const Variant* src) {
  if (dst == src) return true;
  if (!IsCarried(src->vt)) {
    if (!VariantClear(dst)) VariantInit(dst);
    return false;
  }
  return SUCCEEDED(::VariantCopy(reinterpret_cast<VARIANT*>(dst),
                                 reinterpret_cast<VARIANT*>(const_cast<Variant*>(src))));
}

}  // namespace tarvel::platform
