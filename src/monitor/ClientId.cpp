#include "monitor/ClientId.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "Common/AnsiStr.h"
#include "platform/text.h"

namespace tarvel {

using namespace platform;

namespace {

using client_hash::kSaltBool;
using client_hash::kSaltDouble;
using client_hash::kSaltEmpty;
using client_hash::kSaltInt;
using client_hash::kSaltNull;
using client_hash::kSaltText;
using client_hash::Mix;

// Unit reads one character code of a text: a byte (as the code page's
// ASCII, which UTF-16 shares) or a UTF-16 code unit.
inline uint16_t Unit(char c) {
  return static_cast<unsigned char>(c);
}
inline uint16_t Unit(char16_t c) {
  return static_cast<uint16_t>(c);
}

// HashUnits hashes a text by its character codes, so that an ASCII 8-bit
// text and the OLE string of the same characters hash alike.
template <typename Text>
uint64_t HashUnits(Text text) {
  uint64_t h = 0xcbf29ce484222325ULL;
  for (auto c : text) h = (h ^ Unit(c)) * 0x100000001b3ULL;
  return Mix(h ^ kSaltText ^ text.size());
}

template <typename A, typename B>
bool SameUnits(A a, B b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Unit(a[i]) != Unit(b[i])) return false;
  return true;
}

bool IsAscii(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// A number in one form for comparing and hashing: an exact integer when the
// value is one (within int64), otherwise the double.
struct Number {
  bool is_int = false;
  int64_t i = 0;
  double d = 0;
};

template <typename T>
T RawAs(uint64_t raw) {
  T value;
  std::memcpy(&value, &raw, sizeof(T));
  return value;
}

Number FromDouble(double d) {
  Number n;
  if (std::isfinite(d) && std::trunc(d) == d && d >= -9223372036854775808.0 &&
      d < 9223372036854775808.0) {
    n.is_int = true;
    n.i = static_cast<int64_t>(d);
  } else {
    n.d = d;
  }
  return n;
}

Number FromInt(int64_t i) {
  Number n;
  n.is_int = true;
  n.i = i;
  return n;
}

Number CanonicalNumber(uint16_t vt, uint64_t raw) {
  switch (vt) {
    case VT_I2:
      return FromInt(RawAs<int16_t>(raw));
    case VT_I4:
    case VT_INT:
      return FromInt(RawAs<int32_t>(raw));
    case VT_I1:
      return FromInt(RawAs<int8_t>(raw));
    case VT_UI1:
      return FromInt(RawAs<uint8_t>(raw));
    case VT_UI2:
      return FromInt(RawAs<uint16_t>(raw));
    case VT_UI4:
    case VT_UINT:
      return FromInt(RawAs<uint32_t>(raw));
    case VT_I8:
      return FromInt(RawAs<int64_t>(raw));
    case VT_UI8: {
      uint64_t u = raw;
      if (u <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
        return FromInt(static_cast<int64_t>(u));
      return FromDouble(static_cast<double>(u));
    }
    case VT_R4:
      return FromDouble(RawAs<float>(raw));
    case VT_CY: {
      int64_t scaled = RawAs<int64_t>(raw);
      if (scaled % 10000 == 0) return FromInt(scaled / 10000);
      return FromDouble(static_cast<double>(scaled) / 10000.0);
    }
    default:  // VT_R8, VT_DATE
      return FromDouble(RawAs<double>(raw));
  }
}

bool SameNumber(const Number& a, const Number& b) {
  if (a.is_int != b.is_int) return false;
  if (a.is_int) return a.i == b.i;
  // Every NaN is one client: otherwise each row with a NaN ID would add one.
  if (std::isnan(a.d) && std::isnan(b.d)) return true;
  return a.d == b.d;
}

uint64_t HashNumber(const Number& n) {
  if (n.is_int) return Mix(static_cast<uint64_t>(n.i) ^ kSaltInt);
  if (std::isnan(n.d)) return Mix(kSaltDouble);
  uint64_t bits;
  std::memcpy(&bits, &n.d, sizeof bits);
  return Mix(bits ^ kSaltDouble);
}

uint64_t ReadRaw(const Variant& v) {
  uint64_t raw;
  std::memcpy(&raw, &v.llVal, sizeof raw);
  return raw;
}

}  // namespace

void ClientIdView::SetNull() {
  ascii_ = false;
  kind_ = ClientKind::kNull;
  vt_ = VT_NULL;
  raw_ = 0;
  text_ = nullptr;
  text_len_ = 0;
  Finish();
}

void ClientIdView::AssignOther(const Variant& value) {
  ascii_ = false;
  raw_ = 0;
  text_ = nullptr;
  text_len_ = 0;
  vt_ = value.vt;
  if (value.vt == VT_EMPTY) {
    kind_ = ClientKind::kEmpty;
  } else if (value.vt == VT_NULL) {
    kind_ = ClientKind::kNull;
  } else if (OleVariant::IsNumericType(value.vt)) {
    kind_ = ClientKind::kNumber;
    raw_ = ReadRaw(value);
  } else if (value.vt == VT_BOOL) {
    kind_ = ClientKind::kBool;
    raw_ = value.boolVal != 0 ? 1 : 0;
  } else if (value.vt == VT_ANSISTRING) {
    kind_ = ClientKind::kText;
    const std::string_view text = AnsiStrView(static_cast<const char*>(value.byref));
    text_ = text.data();
    text_len_ = static_cast<uint32_t>(text.size());
    ascii_ = IsAscii(text);
    if (!ascii_) {
      if (!converted_) converted_ = std::make_unique<std::u16string>();
      *converted_ = AnsiToWide(text);
    }
  } else if (value.vt == VT_BSTR) {
    kind_ = ClientKind::kText;
    text_ = value.bstrVal ? value.bstrVal : u"";
    text_len_ = SysStringLen(value.bstrVal);
  } else {
    SetNull();
    throw EClientIdType("A client ID cannot be of variant type " + std::to_string(value.vt));
  }
  Finish();
}

void ClientIdView::Finish() {
  switch (kind_) {
    case ClientKind::kEmpty:
      hash_ = Mix(kSaltEmpty);
      break;
    case ClientKind::kNull:
      hash_ = Mix(kSaltNull);
      break;
    case ClientKind::kNumber: {
      Number n = CanonicalNumber(vt_, raw_);
      is_int_ = n.is_int;
      if (n.is_int)
        int_ = n.i;
      else
        dbl_ = n.d;
      hash_ = HashNumber(n);
      break;
    }
    case ClientKind::kBool:
      hash_ = Mix(raw_ ^ kSaltBool);
      break;
    case ClientKind::kText:
      hash_ = vt_ == VT_ANSISTRING && ascii_ ? HashUnits(Narrow()) : HashUnits(Wide());
      break;
  }
}

ClientKey::ClientKey(const ClientIdView& id) : kind_(static_cast<uint8_t>(id.kind_)), vt_(id.vt_) {
  if (id.kind_ == ClientKind::kNumber || id.kind_ == ClientKind::kBool) {
    std::memcpy(Bytes() + 4, &id.raw_, sizeof id.raw_);
    return;
  }
  if (id.kind_ != ClientKind::kText) return;
  // The text in the form it came: bytes, or UTF-16 code units.
  const bool wide = id.vt_ == VT_BSTR;
  const void* text = id.text_;
  const size_t units = id.text_len_;
  const size_t bytes = units * (wide ? sizeof(char16_t) : 1);
  if (bytes <= sizeof payload_) {
    len_ = static_cast<uint8_t>(units);
    if (bytes) std::memcpy(Bytes(), text, bytes);
  } else {
    len_ = kHeapText;
    unsigned char* copy = wide ? reinterpret_cast<unsigned char*>(new char16_t[units])
                               : reinterpret_cast<unsigned char*>(new char[units]);
    std::memcpy(copy, text, bytes);
    const uint32_t n32 = static_cast<uint32_t>(units);
    std::memcpy(Bytes(), &n32, sizeof n32);
    std::memcpy(Bytes() + 4, &copy, sizeof copy);
  }
}

ClientKey::~ClientKey() {
  if (len_ != kHeapText) return;
  void* text;
  std::memcpy(&text, Bytes() + 4, sizeof text);
  if (IsWide())
    delete[] static_cast<char16_t*>(text);
  else
    delete[] static_cast<char*>(text);
}

std::string_view ClientKey::Narrow() const {
  if (len_ != kHeapText) return {reinterpret_cast<const char*>(Bytes()), len_};
  uint32_t n;
  const char* text;
  std::memcpy(&n, Bytes(), sizeof n);
  std::memcpy(&text, Bytes() + 4, sizeof text);
  return {text, n};
}

std::u16string_view ClientKey::Wide() const {
  if (len_ != kHeapText) return {payload_, len_};
  uint32_t n;
  const char16_t* text;
  std::memcpy(&n, Bytes(), sizeof n);
  std::memcpy(&text, Bytes() + 4, sizeof text);
  return {text, n};
}

uint64_t ClientKey::Raw() const {
  uint64_t raw;
  std::memcpy(&raw, Bytes() + 4, sizeof raw);
  return raw;
}

bool ClientKey::EqualsOther(const ClientIdView& id) const {
  if (static_cast<ClientKind>(kind_) != id.kind_) return false;
  switch (id.kind_) {
    case ClientKind::kEmpty:
    case ClientKind::kNull:
      return true;
    case ClientKind::kNumber: {
      Number view;
      view.is_int = id.is_int_;
      if (id.is_int_)
        view.i = id.int_;
      else
        view.d = id.dbl_;
      return SameNumber(CanonicalNumber(vt_, Raw()), view);
    }
    case ClientKind::kBool:
      return Raw() == id.raw_;
    case ClientKind::kText:
      break;
  }
  const bool view_wide = id.vt_ == VT_BSTR;
  if (IsWide() == view_wide) {
    if (view_wide) return Wide() == id.Wide();
    return Narrow() == id.Narrow();
  }
  // One 8-bit text and one OLE string: compared by their characters.
  if (view_wide) {
    const std::string_view mine = Narrow();
    if (IsAscii(mine)) return SameUnits(mine, id.Wide());
    return AnsiToWide(mine) == id.Wide();
  }
  if (id.ascii_) return SameUnits(id.Narrow(), Wide());
  return id.Wide() == Wide();
}

uint64_t ClientKey::Hash() const {
  switch (static_cast<ClientKind>(kind_)) {
    case ClientKind::kEmpty:
      return Mix(kSaltEmpty);
    case ClientKind::kNull:
      return Mix(kSaltNull);
    case ClientKind::kNumber:
      return HashNumber(CanonicalNumber(vt_, Raw()));
    case ClientKind::kBool:
      return Mix(Raw() ^ kSaltBool);
    case ClientKind::kText:
      if (IsWide()) return HashUnits(Wide());
      if (IsAscii(Narrow())) return HashUnits(Narrow());
      return HashUnits(std::u16string_view(AnsiToWide(Narrow())));
  }
  return 0;
}

OleVariant ClientKey::ToVariant() const {
  switch (static_cast<ClientKind>(kind_)) {
    case ClientKind::kEmpty:
      return OleVariant();
    case ClientKind::kNull:
      return OleVariant::Null();
    case ClientKind::kNumber: {
      Variant raw;
      VariantInit(&raw);
      raw.vt = vt_;
      uint64_t bits = Raw();
      std::memcpy(&raw.llVal, &bits, sizeof bits);
      return OleVariant::CopyOf(raw);
    }
    case ClientKind::kBool:
      return OleVariant(Raw() != 0);
    case ClientKind::kText:
      if (IsWide()) return OleVariant(Wide());
      return OleVariant::AnsiString(Narrow());
  }
  return OleVariant::Null();
}

void ClientKey::MoveInto(Variant* target) const {
  Variant value = ToVariant().Detach();
  OleVariant::ClearRaw(target);
  *target = value;
}

std::string ClientKey::ToText() const {
  if (static_cast<ClientKind>(kind_) == ClientKind::kText)
    return IsWide() ? WideToAnsi(Wide()) : std::string(Narrow());
  return ToVariant().ToAnsi();
}

}  // namespace tarvel
