#include "translation/HashTrie.h"

#include <array>
#include <bit>
#include <cstring>
#include <new>

#include "platform/text.h"

namespace tarvel {

namespace {

constexpr int kChainLimit = 8;
// A node at this depth indexes by the hash's last byte: its keys share the
// whole hash, so it never splits.
constexpr int kLastSplitDepth = 3;

// Eight tables for "slicing by eight": table 0 is the byte-wise CRC-32
// table (reflected polynomial 0xEDB88320); table k advances a byte k more
// positions, so eight bytes are folded in one step.
using CrcTables = std::array<std::array<uint32_t, 256>, 8>;

constexpr CrcTables MakeCrcTables() {
  CrcTables t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    t[0][i] = c;
  }
  for (size_t k = 1; k < 8; ++k)
    for (uint32_t i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  return t;
}

constexpr CrcTables kCrc = MakeCrcTables();

uint32_t Load32(const unsigned char* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
  return v;
}

uint32_t RotateForDepth(uint32_t hash, int depth) {
  return std::rotr(hash, 8 * (depth & 3));
}

}  // namespace

uint32_t HashTrieCrc(std::string_view bytes) {
  uint32_t h = 0xFFFFFFFFu;
  auto p = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t n = bytes.size();
  while (n >= 8) {
    const uint32_t one = Load32(p) ^ h;
    const uint32_t two = Load32(p + 4);
    h = kCrc[7][one & 0xFF] ^ kCrc[6][(one >> 8) & 0xFF] ^ kCrc[5][(one >> 16) & 0xFF] ^
        kCrc[4][one >> 24] ^ kCrc[3][two & 0xFF] ^ kCrc[2][(two >> 8) & 0xFF] ^
        kCrc[1][(two >> 16) & 0xFF] ^ kCrc[0][two >> 24];
    p += 8;
    n -= 8;
  }
  while (n--) h = kCrc[0][(h ^ *p++) & 0xFF] ^ (h >> 8);
  return h;
}

const TClassInfo& THashStringItem::StaticClass() {
  static const TClassInfo info{"THashStringItem", &TObject::StaticClass(), {}};
  return info;
}

// An entry is one allocation: its fields, then its key's bytes, so that a
// lookup reaches the key without another pointer.
struct TStringHashTrie::Entry {
  uint32_t hash;  // HashValue(key), kept so that chains compare cheaply
  uint32_t size;  // of the key
  TObject* value;
  const THashStringItem* text;  // value, when it is a string item
  Entry* next;

  std::string_view key() const { return {reinterpret_cast<const char*>(this + 1), size}; }

  static Entry* Make(std::string_view key, uint32_t hash, TObject* value) {
    void* block = ::operator new(sizeof(Entry) + key.size());
    auto* e = new (block) Entry{hash, static_cast<uint32_t>(key.size()), value,
                                dynamic_cast<const THashStringItem*>(value), nullptr};
    if (!key.empty()) std::memcpy(e + 1, key.data(), key.size());
    return e;
  }
  static void Free(Entry* e) { ::operator delete(e); }
};

struct TStringHashTrie::Node {
  explicit Node(int d) : depth(d) {}
  int depth;
  int used_slots = 0;
  Slot slots[256] = {};
};

namespace {

template <class Node>
Node* AsNode(uintptr_t slot) {
  return (slot & 1) ? reinterpret_cast<Node*>(slot & ~uintptr_t{1}) : nullptr;
}
template <class Entry>
Entry* AsChain(uintptr_t slot) {
  return (slot & 1) ? nullptr : reinterpret_cast<Entry*>(slot);
}

}  // namespace

TStringHashTrie::~TStringHashTrie() {
  Clear();
}

uint32_t TStringHashTrie::HashValue(std::string_view key) const {
  if (CaseSensitive) return HashTrieCrc(key);
  return HashTrieCrc(platform::AnsiUpperCase(key));
}

bool TStringHashTrie::SameKey(const Entry& e, std::string_view key, uint32_t hash) const {
  if (e.hash != hash) return false;
  if (CaseSensitive) return e.size == key.size() && e.key() == key;
  return platform::AnsiUpperCase(e.key()) == platform::AnsiUpperCase(key);
}

void TStringHashTrie::Insert(Node& node, Entry* entry) {
  const uint8_t i = RotateForDepth(entry->hash, node.depth) & 0xFF;
  Slot& slot = node.slots[i];
  if (slot == 0) {
    entry->next = nullptr;
    slot = reinterpret_cast<Slot>(entry);
    ++node.used_slots;
    return;
  }
  if (Node* child = AsNode<Node>(slot)) {
    Insert(*child, entry);
    return;
  }
  Entry* chain = AsChain<Entry>(slot);
  int n = 0;
  for (Entry* e = chain; e; e = e->next) {
    if (SameKey(*e, entry->key(), entry->hash)) {
      // Add removes a key first, so only a direct insert gets here: the
      // entry takes the new value, the new key copy is dropped.
      e->value = entry->value;
      e->text = entry->text;
      Entry::Free(entry);
      return;
    }
    ++n;
  }
  if (n < kChainLimit || node.depth >= kLastSplitDepth) {
    entry->next = chain;
    slot = reinterpret_cast<Slot>(entry);
    return;
  }
  // The ninth key: a child node takes over the slot, the chain's entries
  // move into it by the next byte of their hashes.
  auto* child = new Node(node.depth + 1);
  for (Entry* e = chain; e;) {
    Entry* next = e->next;
    Insert(*child, e);
    e = next;
  }
  Insert(*child, entry);
  slot = reinterpret_cast<Slot>(child) | 1;
}

void TStringHashTrie::Add(std::string_view key, TObject* value) {
  Delete(key);
  if (!root_) root_ = new Node(0);
  Entry* entry = Entry::Make(key, HashValue(key), value);
  Insert(*root_, entry);
  ++count_;
}

bool TStringHashTrie::Remove(Node& node, std::string_view key, uint32_t hash) {
  const uint8_t i = RotateForDepth(hash, node.depth) & 0xFF;
  Slot& slot = node.slots[i];
  if (slot == 0) return false;
  if (Node* child = AsNode<Node>(slot)) {
    const bool removed = Remove(*child, key, hash);
    if (child->used_slots == 0) {
      delete child;
      slot = 0;
      --node.used_slots;
    }
    return removed;
  }
  Entry* previous = nullptr;
  for (Entry* e = AsChain<Entry>(slot); e; previous = e, e = e->next) {
    if (!SameKey(*e, key, hash)) continue;
    if (previous) {
      previous->next = e->next;
    } else {
      slot = reinterpret_cast<Slot>(e->next);
      if (slot == 0) --node.used_slots;
    }
    DestroyEntry(e);
    return true;
  }
  return false;
}

void TStringHashTrie::Delete(std::string_view key) {
  if (root_ && Remove(*root_, key, HashValue(key))) --count_;
}

// FindEntry: the entry of the key, or null. The hot path of a pass.
const TStringHashTrie::Entry* TStringHashTrie::FindEntry(std::string_view key) const {
  if (!root_) return nullptr;
  const uint32_t hash = HashValue(key);
  const Node* node = root_;
  for (;;) {
    const Slot slot = node->slots[RotateForDepth(hash, node->depth) & 0xFF];
    if (const Node* child = AsNode<Node>(slot)) {
      node = child;
      continue;
    }
    for (const Entry* e = AsChain<Entry>(slot); e; e = e->next)
      if (SameKey(*e, key, hash)) return e;
    return nullptr;
  }
}

TObject* TStringHashTrie::Find(std::string_view key) const {
  const Entry* e = FindEntry(key);
  return e ? e->value : nullptr;
}

bool TStringHashTrie::Contains(std::string_view key) const {
  return !SlotPath(key).empty();
}

void TStringHashTrie::AddString(std::string_view key, std::string_view text) {
  auto* item = new THashStringItem(text);
  try {
    Add(key, item);
  } catch (...) {
    delete item;
    throw;
  }
}

const std::string* TStringHashTrie::FindText(std::string_view key) const {
  const Entry* e = FindEntry(key);
  return e && e->text ? &e->text->Text : nullptr;
}

std::string TStringHashTrie::FindString(std::string_view key) const {
  const std::string* text = FindText(key);
  return text ? *text : std::string();
}

void TStringHashTrie::DestroyEntry(Entry* entry) {
  if (AutoFreeValue) delete entry->value;
  Entry::Free(entry);
}

void TStringHashTrie::DestroyNode(Node* node) {
  for (Slot slot : node->slots) {
    if (Node* child = AsNode<Node>(slot)) {
      DestroyNode(child);
      continue;
    }
    for (Entry* e = AsChain<Entry>(slot); e;) {
      Entry* next = e->next;
      DestroyEntry(e);
      e = next;
    }
  }
  delete node;
}

void TStringHashTrie::Clear() {
  if (root_) DestroyNode(root_);
  root_ = nullptr;
  count_ = 0;
}

std::vector<uint8_t> TStringHashTrie::SlotPath(std::string_view key) const {
  std::vector<uint8_t> path;
  if (!root_) return path;
  const uint32_t hash = HashValue(key);
  const Node* node = root_;
  for (;;) {
    const uint8_t i = RotateForDepth(hash, node->depth) & 0xFF;
    path.push_back(i);
    const Slot slot = node->slots[i];
    if (const Node* child = AsNode<Node>(slot)) {
      node = child;
      continue;
    }
    for (const Entry* e = AsChain<Entry>(slot); e; e = e->next)
      if (SameKey(*e, key, hash)) return path;
    return {};
  }
}

int TStringHashTrie::UsedSlots(const std::vector<uint8_t>& node_path) const {
  const Node* node = root_;
  for (uint8_t i : node_path) {
    if (!node) return -1;
    node = AsNode<const Node>(node->slots[i]);
  }
  return node ? node->used_slots : -1;
}

}  // namespace tarvel
