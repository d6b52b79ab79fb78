// Client and watch records of the timeout monitor, and the clock they count
// in.
//
//  - TickClock64: milliseconds of the 32-bit system tick counter, extended to
//    64 bits so that deadlines neither wrap after 49.7 days nor overflow for
//    long timeouts.
//  - ClientIdView / ClientKey: a client ID (a variant from the data) as a
//    lookup key and in its stored, 16-byte form. Identity: numbers compare
//    by value whatever their variant type (5 equals 5.0), texts byte for
//    byte, booleans by truth; a number never equals a text; null only equals
//    null and empty only equals empty. Types a client ID cannot sensibly be
//    (error codes, objects, references, arrays) count as null.
//  - TTimeoutListItem: one watch, packed into 8 bytes (deadline and marks).
//  - TClientListItem: one client: its ID, its creation number and its
//    watches inline, in settings row order.
//
// Threads: TickClock64 is safe for concurrent callers. The records carry no
// lock of their own; TimeoutMonitor guards them (see the field comments).
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "Common/OleVariant.h"
#include "monitor/MonitorSettings.h"

namespace tarvel {

// No deadline: the value for "nothing armed" and "not scheduled".
constexpr int64_t kNoDeadline = std::numeric_limits<int64_t>::max();

// TickClock64 extends platform::TickCount() to a 64-bit count. It remembers
// the last tick it saw and adds the wrap-aware distance to it, so it must be
// read at least once every 2^31 ms (24.8 days); the monitor's check timer
// never sleeps that long. The count starts at the tick value of the first
// reading, so with a manual tick clock installed it equals the manual tick
// until the first wrap.
class TickClock64 {
 public:
  TickClock64();
  // Now returns the current 64-bit millisecond count. Concurrent callers may
  // see values in either order, never a jump of 2^32.
  int64_t Now();

 private:
  std::atomic<int64_t> last_;
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

// ClientIdView reads a client ID from a variant without copying it (an OLE
// string is converted to ANSI text into the view's own buffer). Not
// copyable: the text may point into the view itself.
class ClientIdView {
 public:
  ClientIdView() = default;  // null
  ClientIdView(const ClientIdView&) = delete;
  ClientIdView& operator=(const ClientIdView&) = delete;

  // Assign reads the variant. Integers, and doubles holding a whole value,
  // hash by their int64 value, so that equal numbers hash alike.
  void Assign(const Variant& value) {
    if (value.vt == platform::VT_I4) {  // the usual case, kept inline
      kind_ = ClientKind::kNumber;
      vt_ = platform::VT_I4;
      raw_ = static_cast<uint32_t>(value.lVal);
      text_ = {};
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

  ClientKind kind_ = ClientKind::kNull;
  uint16_t vt_ = platform::VT_NULL;
  uint64_t raw_ = 0;  // the variant's 8 value bytes, for numbers and booleans
  bool is_int_ = false;
  int64_t int_ = 0;
  double dbl_ = 0;
  std::string_view text_;
  std::string converted_;
  uint64_t hash_ = client_hash::Mix(client_hash::kSaltNull);
};

// ClientKey: a client ID as stored in a client record, 16 bytes. Texts of
// up to 12 bytes live inline, longer ones on the heap. It keeps the original
// variant type, so ToVariant gives back what the data carried (an OLE string
// comes back from its ANSI form).
class ClientKey {
 public:
  ClientKey() = default;  // null
  explicit ClientKey(const ClientIdView& id);
  ~ClientKey();
  ClientKey(const ClientKey&) = delete;
  ClientKey& operator=(const ClientKey&) = delete;

  bool Equals(const ClientIdView& id) const {
    if (vt_ == platform::VT_I4 && id.vt_ == platform::VT_I4) {  // the usual case, kept inline
      int32_t value;
      std::memcpy(&value, payload_ + 4, sizeof value);
      return value == id.int_;
    }
    return EqualsOther(id);
  }
  uint64_t Hash() const;
  // MoveInto replaces a variant's value with the ID (as ToVariant gives it).
  void MoveInto(Variant* target) const;
  ClientKind Kind() const { return static_cast<ClientKind>(kind_); }
  OleVariant ToVariant() const;
  // ToText renders the ID as the host runtime converts a variant to text;
  // "" for null and empty.
  std::string ToText() const;

 private:
  static constexpr uint8_t kHeapText = 0xFF;
  bool EqualsOther(const ClientIdView& id) const;
  std::string_view Text() const;
  uint64_t Raw() const;

  uint8_t kind_ = static_cast<uint8_t>(ClientKind::kNull);
  uint8_t len_ = 0;  // inline text length, or kHeapText
  uint16_t vt_ = platform::VT_NULL;
  // Number/boolean: the 8 value bytes at offset 4. Inline text: 12 bytes.
  // Heap text: uint32 length at 0, pointer at 4.
  alignas(4) unsigned char payload_[12] = {};
};
static_assert(sizeof(ClientKey) == 16);

// TTimeoutListItem: one watch. The deadline (64-bit count of TickClock64)
// and the three marks share one word. Guarded by the client's shard lock.
struct TTimeoutListItem {
  static constexpr uint8_t kWaitingForData = 1;  // quiet until the variable arrives
  static constexpr uint8_t kTimedOut = 2;        // timed out since the last data
  static constexpr uint8_t kFired = 4;           // event-once: reported, quiet until data

  uint64_t bits = 0;

  int64_t Deadline() const { return static_cast<int64_t>(bits) >> 8; }
  uint8_t Marks() const { return static_cast<uint8_t>(bits); }
  bool Has(uint8_t mark) const { return (bits & mark) != 0; }
  // Armed: neither waiting nor reported, so the deadline counts.
  bool Armed() const { return (bits & (kWaitingForData | kFired)) == 0; }
  void Set(int64_t deadline, uint8_t marks) {
    bits = (static_cast<uint64_t>(deadline) << 8) | marks;
  }
  // Restart: a new deadline from now, all marks cleared.
  void Restart(int64_t now, int64_t timeout_ms) { Set(now + timeout_ms, 0); }
};
static_assert(sizeof(TTimeoutListItem) == 8);

// TClientListItem: one client in one cache line. Records never move and
// live as long as the client table that made them.
struct alignas(64) TClientListItem {
  // scheduled when the client has no entry in the deadline heap.
  static constexpr uint32_t kNotScheduled = 0xFFFFFFFFu;

  TClientListItem(const ClientIdView& id, uint32_t creation) : ClientId(id), seq(creation) {}

  const ClientKey ClientId;
  const uint32_t seq;  // creation order: events of one tick follow it
  // The low 32 bits of the deadline of this client's current entry in the
  // deadline heap (entries whose deadline differs are stale), or
  // kNotScheduled. Guarded by the heap lock. A stale entry that happens to
  // match only costs the tick a look at the client.
  uint32_t scheduled = kNotScheduled;
  // The earliest deadline among armed watches, or kNoDeadline. Written under
  // the client's shard lock; read without it as a hint when scheduling.
  std::atomic<int64_t> earliest{kNoDeadline};
  // The watches, in settings row order; as many as the settings have rows.
  TTimeoutListItem Watches[MonitorSettings::kMaxRows];
};
static_assert(sizeof(TClientListItem) == 64);

// BuildWatches gives a new client its watches: every row of the settings
// starts its deadline now and waits for data when the settings say so.
void BuildWatches(const MonitorSettings& settings, TClientListItem& client, int64_t now);

// EarliestDeadline returns the smallest deadline among the armed watches,
// or kNoDeadline. Inline: the intake calls it for every row.
inline int64_t EarliestDeadline(const TClientListItem& client, size_t watch_count) {
  int64_t earliest = kNoDeadline;
  for (size_t i = 0; i < watch_count; ++i) {
    const TTimeoutListItem& w = client.Watches[i];
    if (w.Armed() && w.Deadline() < earliest) earliest = w.Deadline();
  }
  return earliest;
}

}  // namespace tarvel
