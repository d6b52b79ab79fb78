// NameKeys: the names the data intake looks for among the items of a data
// portion, matched against each item's lower-case name all at once.
//
// The keys, in this order: the row marker "$NEW_ROW$", the client variable
// (only when clients are told apart) and the watched variables, one key per
// distinct name: when two settings rows watch one variable, only the first
// is ever fed by data. A key is the ANSI lower case of its name, as an
// item's LowName is; the intake then checks the marker's name exactly and
// the client variable's ignoring the case of A to Z only.
//
// Match files the keys by a signature (length, first and last byte) in a
// small table where distinct signatures have distinct entries, so that most
// items are told apart from every key by one lookup and integer compares.
//
// Threads: built once, then read by any number of threads.
//
// Example:
//   NameKeys keys(settings);
//   unsigned bits = keys.Match(item->LowNameView());
//   if (bits & keys.watch_keys) row = keys.WatchRow(bits & keys.watch_keys);
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "monitor/MonitorSettings.h"

namespace tarvel {

// SameBytes compares in words: names in data are short, and a byte loop
// costs more than the rest of an item's handling.
template <typename T>
T LoadBytes(const char* p) {
  T value;
  std::memcpy(&value, p, sizeof value);
  return value;
}
[[gnu::always_inline]] inline bool SameBytes(std::string_view a, std::string_view b) {
  const size_t n = a.size();
  if (n != b.size()) return false;
  const char* p = a.data();
  const char* q = b.data();
  if (n >= 8) {
    for (size_t i = 0; i + 8 < n; i += 8)
      if (LoadBytes<uint64_t>(p + i) != LoadBytes<uint64_t>(q + i)) return false;
    return LoadBytes<uint64_t>(p + n - 8) == LoadBytes<uint64_t>(q + n - 8);
  }
  if (n >= 4)
    return ((LoadBytes<uint32_t>(p) ^ LoadBytes<uint32_t>(q)) |
            (LoadBytes<uint32_t>(p + n - 4) ^ LoadBytes<uint32_t>(q + n - 4))) == 0;
  if (n == 0) return true;
  return p[0] == q[0] && p[n / 2] == q[n / 2] && p[n - 1] == q[n - 1];
}

// EqualsIgnoringAsciiCase compares ignoring the case of A to Z only.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);

class NameKeys {
 public:
  static constexpr size_t kMaxKeys = 2 + MonitorSettings::kMaxRows;

  explicit NameKeys(const MonitorSettings& settings);
  NameKeys(const NameKeys&) = delete;
  NameKeys& operator=(const NameKeys&) = delete;

  // Match returns the bits of the keys a lower-case name equals. Watch keys
  // are distinct names, so at most one watch bit is set.
  unsigned Match(std::string_view low) const {
    const uint32_t signature = Signature(low);
    unsigned candidates = 0;
    if (multiplier_ != 0) [[likely]] {
      const Entry& e = table_[Slot(signature)];
      if (e.signature != signature) return 0;
      candidates = e.keys;
    } else {
      for (size_t k = 0; k < count_; ++k)
        if (signatures_[k] == signature) candidates |= 1u << k;
    }
    // Equal signatures of up to 2 bytes are equal names.
    if (low.size() <= 2) return candidates;
    unsigned matched = 0;
    for (; candidates != 0; candidates &= candidates - 1) {
      const unsigned k = static_cast<unsigned>(__builtin_ctz(candidates));
      if (SameBytes(texts_[k], low)) matched |= 1u << k;
    }
    return matched;
  }
  // WatchRow returns the settings row (0-based) of a watch key's bit.
  unsigned WatchRow(unsigned watch_bit) const { return rows_[__builtin_ctz(watch_bit)]; }

  unsigned marker_keys = 0;  // the bit of the row marker's key
  unsigned client_keys = 0;  // the bit of the client variable's key, if any
  unsigned watch_keys = 0;   // the bits of the watched variables' keys

  // Signature: length (its low 16 bits), first and last byte. Names that
  // differ in it cannot be equal. 32 bits, so that the 32-bit build
  // computes it in single instructions.
  static uint32_t Signature(std::string_view key) {
    if (key.empty()) return 0;
    return (static_cast<uint32_t>(key.size()) << 16) |
           (uint32_t{static_cast<unsigned char>(key.front())} << 8) |
           static_cast<unsigned char>(key.back());
  }

 private:
  struct Entry {
    uint32_t signature = ~uint32_t{0};  // a name with this one finds no keys here
    unsigned keys = 0;                  // bits of the keys with the signature
  };
  static constexpr unsigned kSlotBits = 6;
  unsigned Slot(uint32_t signature) const {
    return static_cast<unsigned>((signature * multiplier_) >> (32 - kSlotBits));
  }
  void Add(std::string text, unsigned* bits, unsigned row);
  void BuildTable();

  std::string texts_[kMaxKeys];
  uint32_t signatures_[kMaxKeys] = {};
  unsigned rows_[kMaxKeys] = {};
  size_t count_ = 0;
  Entry table_[1u << kSlotBits];
  uint32_t multiplier_ = 0;  // 0: no spreading found, Match compares with every key
};

}  // namespace tarvel
