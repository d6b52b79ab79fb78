// OLE Automation VARIANT and BSTR. On Windows these are oleaut32's; on POSIX
// a layout-compatible implementation: a BSTR points at UTF-16 text preceded
// by its byte length, and a Variant is 16 bytes (on i686) with the type code
// in its first two bytes.
//
// The host runtime's 8-bit string variant (VT_ANSISTRING, 0x100) is not an
// OLE type: these functions refuse it, Common/OleVariant.h handles it.
#pragma once

#include <cstdint>

namespace tarvel::platform {

using OleChar = char16_t;
using Bstr = OleChar*;

enum VarType : uint16_t {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_ANSISTRING = 0x100,
  VT_BYREF = 0x4000,
};

// VARIANT_TRUE / VARIANT_FALSE as stored in boolVal.
constexpr int16_t kVariantTrue = -1;
constexpr int16_t kVariantFalse = 0;

struct Variant {
  uint16_t vt;
  uint16_t reserved1;
  uint16_t reserved2;
  uint16_t reserved3;
  union {
    int32_t lVal;
    uint32_t ulVal;
    int16_t iVal;
    uint8_t bVal;
    int16_t boolVal;
    float fltVal;
    double dblVal;
    int64_t llVal;
    uint64_t ullVal;
    Bstr bstrVal;
    void* byref;
#ifdef _WIN64
    // The record pair makes VARIANT 24 bytes in 64-bit Windows.
    struct {
      void* pvRecord;
      void* pRecInfo;
    } record;
#endif
  };
};
#ifdef _WIN64
static_assert(sizeof(Variant) == 24, "VARIANT is 24 bytes in 64-bit Windows");
#else
static_assert(sizeof(Variant) == 16, "VARIANT is 16 bytes");
#endif

// Bstr allocation; a null Bstr is the empty string.
Bstr SysAllocStringLen(const OleChar* text, uint32_t length);
void SysFreeString(Bstr s);
uint32_t SysStringLen(Bstr s);

// IsPlainVariantType: a type whose value lies wholly in the variant's 16
// bytes (no pointer to follow, nothing to free).
constexpr bool IsPlainVariantType(uint16_t vt) {
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

// VariantInit sets vt to VT_EMPTY. VariantClear frees what the variant owns
// and leaves it VT_EMPTY. VariantCopy clears dst and makes it a deep copy
// of src (strings are duplicated). Both handle only the plain types and
// VT_BSTR and return false for any other (dst is then VT_EMPTY): interfaces,
// records, arrays and references point into the host's objects, and the
// module never calls into a foreign object or aliases its memory.
void VariantInit(Variant* v);
bool VariantClear(Variant* v);
bool VariantCopy(Variant* dst, const Variant* src);

}  // namespace tarvel::platform
