#include "monitor/ClientRecords.h"

#include <cmath>
#include <cstring>
#include <new>

#include "Common/AnsiStr.h"
#include "platform/clock.h"
#include "platform/text.h"

namespace tarvel {

using namespace platform;

TickClock64::TickClock64() : last_(static_cast<int64_t>(TickCount())) {}

int64_t TickClock64::Now() {
  const uint32_t tick = TickCount();
  int64_t last = last_.load(std::memory_order_acquire);
  for (;;) {
    const int32_t diff = TickDiff(tick, static_cast<uint32_t>(last));
    const int64_t next = last + diff;
    // A caller that read the counter before another one moved last_ on
    // gets its own, slightly older, time; last_ itself never goes back.
    if (diff <= 0) return next;
    if (last_.compare_exchange_weak(last, next, std::memory_order_acq_rel,
                                    std::memory_order_acquire))
      return next;
  }
}

namespace {

using client_hash::kSaltBool;
using client_hash::kSaltDouble;
using client_hash::kSaltEmpty;
using client_hash::kSaltInt;
using client_hash::kSaltNull;
using client_hash::kSaltText;
using client_hash::Mix;

uint64_t HashText(std::string_view text) {
  uint64_t h = 0xcbf29ce484222325ULL;
  for (unsigned char c : text) h = (h ^ c) * 0x100000001b3ULL;
  return Mix(h ^ kSaltText ^ text.size());
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

bool IsNumberType(uint16_t vt) {
  switch (vt) {
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
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
  kind_ = ClientKind::kNull;
  vt_ = VT_NULL;
  raw_ = 0;
  text_ = {};
  Finish();
}

void ClientIdView::AssignOther(const Variant& value) {
  raw_ = 0;
  text_ = {};
  vt_ = value.vt;
  if (value.vt == VT_EMPTY) {
    kind_ = ClientKind::kEmpty;
  } else if (IsNumberType(value.vt)) {
    kind_ = ClientKind::kNumber;
    raw_ = ReadRaw(value);
  } else if (value.vt == VT_BOOL) {
    kind_ = ClientKind::kBool;
    raw_ = value.boolVal != 0 ? 1 : 0;
  } else if (value.vt == VT_ANSISTRING) {
    kind_ = ClientKind::kText;
    text_ = AnsiStrView(static_cast<const char*>(value.byref));
  } else if (value.vt == VT_BSTR) {
    kind_ = ClientKind::kText;
    converted_ = WideToAnsi(
        std::u16string_view(value.bstrVal ? value.bstrVal : u"", SysStringLen(value.bstrVal)));
    text_ = converted_;
  } else {
    kind_ = ClientKind::kNull;
    vt_ = VT_NULL;
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
      int_ = n.i;
      dbl_ = n.d;
      hash_ = HashNumber(n);
      break;
    }
    case ClientKind::kBool:
      hash_ = Mix(raw_ ^ kSaltBool);
      break;
    case ClientKind::kText:
      hash_ = HashText(text_);
      break;
  }
}

ClientKey::ClientKey(const ClientIdView& id) : kind_(static_cast<uint8_t>(id.kind_)), vt_(id.vt_) {
  if (id.kind_ == ClientKind::kNumber || id.kind_ == ClientKind::kBool) {
    std::memcpy(payload_ + 4, &id.raw_, sizeof id.raw_);
  } else if (id.kind_ == ClientKind::kText) {
    const size_t n = id.text_.size();
    if (n <= sizeof payload_) {
      len_ = static_cast<uint8_t>(n);
      if (n) std::memcpy(payload_, id.text_.data(), n);
    } else {
      len_ = kHeapText;
      char* copy = new char[n];
      std::memcpy(copy, id.text_.data(), n);
      const uint32_t n32 = static_cast<uint32_t>(n);
      std::memcpy(payload_, &n32, sizeof n32);
      std::memcpy(payload_ + 4, &copy, sizeof copy);
    }
  }
}

ClientKey::~ClientKey() {
  if (len_ == kHeapText) {
    char* text;
    std::memcpy(&text, payload_ + 4, sizeof text);
    delete[] text;
  }
}

std::string_view ClientKey::Text() const {
  if (len_ != kHeapText) return {reinterpret_cast<const char*>(payload_), len_};
  uint32_t n;
  const char* text;
  std::memcpy(&n, payload_, sizeof n);
  std::memcpy(&text, payload_ + 4, sizeof text);
  return {text, n};
}

uint64_t ClientKey::Raw() const {
  uint64_t raw;
  std::memcpy(&raw, payload_ + 4, sizeof raw);
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
      view.i = id.int_;
      view.d = id.dbl_;
      return SameNumber(CanonicalNumber(vt_, Raw()), view);
    }
    case ClientKind::kBool:
      return Raw() == id.raw_;
    case ClientKind::kText:
      return Text() == id.text_;
  }
  return false;
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
      return HashText(Text());
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
      if (vt_ == VT_ANSISTRING) return OleVariant::AnsiString(Text());
      return OleVariant(Text());
  }
  return OleVariant::Null();
}

void ClientKey::MoveInto(Variant* target) const {
  Variant value = ToVariant().Detach();
  OleVariant::ClearRaw(target);
  *target = value;
}

std::string ClientKey::ToText() const {
  if (static_cast<ClientKind>(kind_) == ClientKind::kText) return std::string(Text());
  return ToVariant().ToAnsi();
}

void BuildWatches(const MonitorSettings& settings, TClientListItem& client, int64_t now) {
  const uint8_t marks = settings.wait_data ? TTimeoutListItem::kWaitingForData : 0;
  const size_t n = settings.rows.size();
  for (size_t i = 0; i < n; ++i) client.Watches[i].Set(now + settings.rows[i].timeout_ms, marks);
  client.earliest.store(EarliestDeadline(client, n), std::memory_order_relaxed);
}

}  // namespace tarvel
