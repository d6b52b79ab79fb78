// ClientId: a client ID, the variant a data row carries in its client
// variable, as a lookup key (ClientIdView) and in the 16 bytes a client
// record keeps of it (ClientKey).
//
// Identity (which rows are one client):
//  - numbers compare by value whatever their variant type (5 equals 5.0,
//    a 16-bit 5 and a currency 5.0000); every NaN is one client;
//  - texts compare by their characters, letter case and spaces included:
//    an OLE string by its UTF-16 code units, an 8-bit string by its bytes,
//    and an 8-bit string and an OLE string as the 8-bit one reads in the
//    system code page. So "Ā1" and "一1" stay two clients even where the
//    code page has neither character;
//  - booleans by truth; a number never equals a text or a boolean;
//  - null only equals null, empty only equals empty.
// Types a client ID cannot be compared as (error codes, objects, variant
// references, arrays, decimals, unknown type codes) are refused:
// ClientIdView::Assign raises EClientIdType.
//
// A ClientKey gives the host back the ID as it first came (ToVariant): the
// same variant type, an OLE string with its own characters.
//
// Threads: a ClientIdView belongs to one thread. A ClientKey never changes
// after construction, so any thread may read it.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "Common/OleVariant.h"

namespace tarvel {

// EClientIdType: a client ID of a variant type that cannot be compared.
class EClientIdType : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class ClientKind : uint8_t { kEmpty, kNull, kNumber, kBool, kText };

namespace client_hash {
// Mix spreads a 64-bit value over all bits (the finaliser of MurmurHash3).
constexpr uint64_t Mix(uint64_t x) {
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdULL;
  x ^= x >> 33;
  x *= 0xc4ceb9fe1a85ec53ULL;
  x ^= x >> 33;
  return x;
}
// Salts keep a number, a boolean and a text with equal bits apart.
constexpr uint64_t kSaltEmpty = 0x9e3779b97f4a7c15ULL;
constexpr uint64_t kSaltNull = 0x6a09e667f3bcc909ULL;
constexpr uint64_t kSaltInt = 0xbb67ae8584caa73bULL;
constexpr uint64_t kSaltDouble = 0x3c6ef372fe94f82bULL;
constexpr uint64_t kSaltBool = 0xa54ff53a5f1d36f1ULL;
constexpr uint64_t kSaltText = 0x510e527fade682d1ULL;
}  // namespace client_hash

// ClientIdView reads a client ID from a variant without copying it: a text
// is read where it lies (an 8-bit text with bytes beyond ASCII is also
// converted to UTF-16, into a buffer the view keeps for the next one).
// Equal IDs have equal Hash().
class ClientIdView {
 public:
  ClientIdView() noexcept {}  // null (user-provided, so that a const one can be made)
  ClientIdView(const ClientIdView&) = delete;
  ClientIdView& operator=(const ClientIdView&) = delete;

  // Assign reads the variant; EClientIdType for a type a client ID cannot
  // be (the view is then null). Integers, and doubles holding a whole
  // value, hash by their int64 value, so that equal numbers hash alike.
  void Assign(const Variant& value) {
    if (value.vt == platform::VT_I4) {  // the usual case, kept inline
      kind_ = ClientKind::kNumber;
      vt_ = platform::VT_I4;
      raw_ = static_cast<uint32_t>(value.lVal);
      is_int_ = true;
      int_ = value.lVal;
      hash_ = client_hash::Mix(static_cast<uint64_t>(int_) ^ client_hash::kSaltInt);
      return;
    }
    AssignOther(value);
  }
  void SetNull();

  ClientKind Kind() const { return kind_; }
  uint64_t Hash() const { return hash_; }

 private:
  friend class ClientKey;
  void AssignOther(const Variant& value);
  void Finish();

  // What the view reads: the variant's 8 value bytes for numbers and
  // booleans, the number in one form (an exact integer where it is one),
  // and a text where it lies, in the form it came: the bytes of an 8-bit
  // text (ascii_ when all are below 0x80; its characters in converted_
  // otherwise) or the code units of an OLE string. Kept small: a view
  // lives in every pending row of a data portion.
  ClientKind kind_ = ClientKind::kNull;
  bool is_int_ = false;
  bool ascii_ = false;
  uint16_t vt_ = platform::VT_NULL;
  uint32_t text_len_ = 0;  // bytes or code units
  uint64_t raw_ = 0;
  union {
    int64_t int_ = 0;  // is_int_
    double dbl_;       // !is_int_
  };
  const void* text_ = nullptr;
  std::unique_ptr<std::u16string> converted_;
  std::string_view Narrow() const { return {static_cast<const char*>(text_), text_len_}; }
  std::u16string_view Wide() const {
    if (vt_ == platform::VT_BSTR) return {static_cast<const char16_t*>(text_), text_len_};
    return converted_ ? std::u16string_view(*converted_) : std::u16string_view();
  }
  uint64_t hash_ = client_hash::Mix(client_hash::kSaltNull);
};

// ClientKey: a client ID as a client record stores it, 16 bytes. Texts of
// up to 12 bytes (6 UTF-16 code units for an OLE string) live inline,
// longer ones on the heap.
class ClientKey {
 public:
  ClientKey() = default;  // null
  explicit ClientKey(const ClientIdView& id);
  ~ClientKey();
  ClientKey(const ClientKey&) = delete;
  ClientKey& operator=(const ClientKey&) = delete;

  // Equals: the same client by the identity rules above.
  bool Equals(const ClientIdView& id) const {
    if (vt_ == platform::VT_I4 && id.vt_ == platform::VT_I4) {  // the usual case, kept inline
      int32_t value;
      std::memcpy(&value, Bytes() + 4, sizeof value);
      return value == id.int_;
    }
    return EqualsOther(id);
  }
  uint64_t Hash() const;
  // MoveInto replaces a variant's value with the ID (as ToVariant gives it).
  void MoveInto(Variant* target) const;
  ClientKind Kind() const { return static_cast<ClientKind>(kind_); }
  OleVariant ToVariant() const;
  // ToText renders the ID as the host runtime converts a variant to 8-bit
  // text (characters the code page lacks become '?'); "" for null and empty.
  std::string ToText() const;

 private:
  static constexpr uint8_t kHeapText = 0xFF;
  bool EqualsOther(const ClientIdView& id) const;
  bool IsWide() const { return vt_ == platform::VT_BSTR; }
  // The stored text: bytes of an 8-bit text, code units of an OLE one.
  std::string_view Narrow() const;
  std::u16string_view Wide() const;
  uint64_t Raw() const;
  const unsigned char* Bytes() const { return reinterpret_cast<const unsigned char*>(payload_); }
  unsigned char* Bytes() { return reinterpret_cast<unsigned char*>(payload_); }

  uint8_t kind_ = static_cast<uint8_t>(ClientKind::kNull);
  uint8_t len_ = 0;  // inline text length (bytes or code units), or kHeapText
  uint16_t vt_ = platform::VT_NULL;
  // Number/boolean: the 8 value bytes at offset 4. Inline text: 12 bytes
  // (code units of an OLE string; read as bytes for an 8-bit one). Heap
  // text: uint32 length (bytes or code units) at 0, pointer at 4.
  alignas(4) char16_t payload_[6] = {};
};
static_assert(sizeof(ClientKey) == 16);

}  // namespace tarvel
