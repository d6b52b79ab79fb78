// TStringHashTrie: a table from byte-text keys to value objects, the
// translator's dictionary. It is a tree of 256-way nodes indexed by
// successive bytes of a 32-bit hash of the key (the lowest byte at the
// root, then the next ones, rotating); each slot is empty, holds a chain of
// at most 8 entries, or a child node that took over when a ninth key came.
// A lookup costs one hash over the key and, per level, one slot and a few
// comparisons.
//
// The hash (HashTrieCrc) is the complement of the standard CRC-32 of the
// key's bytes: the CRC before its final inversion. "abc" hashes to
// 0xCADBBE3D, so it lives in slot 0x3D of the root, 0xBE of a child there,
// then 0xDB, then 0xCA.
//
// Keys whose whole hash is equal cannot be told apart by a deeper node, so
// a slot of a node at depth 3 (whose index is the hash's last byte) keeps
// one chain, however long, instead of splitting for ever.
//
// Values are objects the caller hands over; with AutoFreeValue the trie
// deletes the value of every entry it removes or destroys. AddString
// stores a THashStringItem.
//
// Example:
//   TStringHashTrie t;
//   t.CaseSensitive = true;
//   t.AutoFreeValue = true;
//   t.AddString("Timeout", "Zeitlimit");
//   t.FindString("Timeout");  // "Zeitlimit"
//
// Threads: not thread-safe; the translator uses its tables under its lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "components/Components.h"

namespace tarvel {

// HashTrieCrc: the hash of a byte text (CRC-32 without its final inversion).
uint32_t HashTrieCrc(std::string_view bytes);

// THashStringItem: the value type of AddString.
class THashStringItem : public TObject {
 public:
  THashStringItem() = default;
  explicit THashStringItem(std::string_view text) : Text(text) {}
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }
  std::string Text;
};

class TStringHashTrie {
 public:
  TStringHashTrie() = default;
  ~TStringHashTrie();
  TStringHashTrie(const TStringHashTrie&) = delete;
  TStringHashTrie& operator=(const TStringHashTrie&) = delete;

  // CaseSensitive: keys compare byte for byte; otherwise letters compare
  // without case under the ANSI code page's rules. Set before adding.
  bool CaseSensitive = false;
  // AutoFreeValue: the trie deletes the values of entries it removes.
  bool AutoFreeValue = false;

  // Add removes the key (releasing its value as AutoFreeValue says), then
  // stores a copy of the key with the value.
  void Add(std::string_view key, TObject* value);
  // Delete removes the key's entry, if any.
  void Delete(std::string_view key);
  // Find: the value stored under the key, or null when there is none.
  TObject* Find(std::string_view key) const;
  bool Contains(std::string_view key) const;
  void AddString(std::string_view key, std::string_view text);
  // FindString: the text of a THashStringItem stored under the key; empty
  // when there is none or the value is of another class.
  std::string FindString(std::string_view key) const;
  // FindText: as FindString, without copying; null when there is none.
  const std::string* FindText(std::string_view key) const;
  // Clear removes every entry and the root.
  void Clear();

  uint32_t HashValue(std::string_view key) const;
  size_t Count() const { return count_; }

  // ---- Inspection (tests and diagnostics) ----
  bool HasRoot() const { return root_ != nullptr; }
  // SlotPath: the slot indexes from the root down to the chain holding the
  // key; empty when the key is not there.
  std::vector<uint8_t> SlotPath(std::string_view key) const;
  // UsedSlots of the node reached from the root through the child slots
  // of node_path; -1 when that is not a node.
  int UsedSlots(const std::vector<uint8_t>& node_path) const;

 private:
  struct Entry;
  struct Node;
  // A slot: 0 empty, an Entry* (the first of a chain) or a Node* | 1.
  using Slot = uintptr_t;

  bool SameKey(const Entry& e, std::string_view key, uint32_t hash) const;
  const Entry* FindEntry(std::string_view key) const;
  void Insert(Node& node, Entry* entry);
  bool Remove(Node& node, std::string_view key, uint32_t hash);
  void DestroyNode(Node* node);
  void DestroyEntry(Entry* entry);

  Node* root_ = nullptr;
  size_t count_ = 0;
};

}  // namespace tarvel
