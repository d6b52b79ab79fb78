// The hash trie: its hash, where keys sit, when chains split into child
// nodes and when children go again, and the value ownership rules.
#include "translation/HashTrie.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <string>
#include <vector>

namespace tarvel {
namespace {

// Forge: four bytes that, appended to prefix, give the wanted hash. Four
// bytes folded into the CRC register act linearly on it, so the bytes are
// the solution of a 32x32 system over GF(2).
uint32_t ShiftFourZeroBytes(uint32_t r) {
  for (int i = 0; i < 4; ++i) {
    uint32_t t = r & 0xFF;
    for (int bit = 0; bit < 8; ++bit) t = (t & 1) ? (t >> 1) ^ 0xEDB88320u : t >> 1;
    r = t ^ (r >> 8);
  }
  return r;
}

std::string Forge(const std::string& prefix, uint32_t wanted) {
  // Solve ShiftFourZeroBytes(v) == wanted by Gaussian elimination.
  std::array<uint32_t, 32> column{};  // images of the basis vectors
  for (int i = 0; i < 32; ++i) column[i] = ShiftFourZeroBytes(1u << i);
  // Rows: for output bit j, which input bits affect it, and the wanted bit.
  std::array<uint64_t, 32> rows{};
  for (int j = 0; j < 32; ++j) {
    uint64_t row = 0;
    for (int i = 0; i < 32; ++i)
      if (column[i] >> j & 1) row |= uint64_t{1} << i;
    rows[j] = row | (uint64_t{wanted >> j & 1} << 32);
  }
  for (int col = 0, r = 0; col < 32; ++col, ++r) {
    int pivot = r;
    while (!(rows[pivot] >> col & 1)) ++pivot;
    std::swap(rows[r], rows[pivot]);
    for (int k = 0; k < 32; ++k)
      if (k != r && (rows[k] >> col & 1)) rows[k] ^= rows[r];
  }
  uint32_t v = 0;
  for (int i = 0; i < 32; ++i) v |= static_cast<uint32_t>(rows[i] >> 32 & 1) << i;
  const uint32_t x = v ^ HashTrieCrc(prefix);
  std::string key = prefix;
  for (int i = 0; i < 4; ++i) key += static_cast<char>(x >> (8 * i) & 0xFF);
  return key;
}

class Counted : public TObject {
 public:
  explicit Counted(int& deaths) : deaths_(deaths) {}
  ~Counted() override { ++deaths_; }

 private:
  int& deaths_;
};

TStringHashTrie& Exact(TStringHashTrie& t) {
  t.CaseSensitive = true;
  t.AutoFreeValue = true;
  return t;
}

TEST(HashTrieTest, HashIsTheCrcBeforeItsFinalInversion) {
  struct {
    const char* what;
    std::string key;
    uint32_t hash;
  } cases[] = {
      {"abc", "abc", 0xCADBBE3Du},
      {"the empty key", "", 0xFFFFFFFFu},
      {"the CRC check string, inverted", "123456789", ~0xCBF43926u},
      {"longer than one eight-byte step", "The quick brown fox jumps over the lazy dog",
       ~0x414FA339u},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(HashTrieCrc(c.key), c.hash);
  }
  EXPECT_EQ(Forge("x", 0x12345678u).size(), 5u);
  EXPECT_EQ(HashTrieCrc(Forge("x", 0x12345678u)), 0x12345678u);
}

TEST(HashTrieTest, AbcSitsInTheSlotsOfItsHashBytesLevelByLevel) {
  TStringHashTrie t;
  Exact(t).AddString("abc", "ABC");
  EXPECT_EQ(t.SlotPath("abc"), (std::vector<uint8_t>{0x3D}));
  // Eight keys sharing abc's three low hash bytes push it down to depth 3,
  // where its highest byte picks the slot.
  for (uint32_t top = 1; top <= 8; ++top)
    t.AddString(Forge("k" + std::to_string(top), (0xCADBBE3Du & 0x00FFFFFFu) | (top << 24)), "v");
  EXPECT_EQ(t.SlotPath("abc"), (std::vector<uint8_t>{0x3D, 0xBE, 0xDB, 0xCA}));
  EXPECT_EQ(t.FindString("abc"), "ABC");
  EXPECT_EQ(t.Count(), 9u);
}

TEST(HashTrieTest, TheNinthKeyOfASlotSplitsItAndEmptyChildrenGo) {
  TStringHashTrie t;
  Exact(t).AddString("other", "o");  // somewhere else in the root
  std::vector<std::string> keys;
  for (int i = 0; keys.size() < 9; ++i) {
    std::string k = "key" + std::to_string(i);
    if ((HashTrieCrc(k) & 0xFF) == 0x3D && (HashTrieCrc("other") & 0xFF) != 0x3D) keys.push_back(k);
  }
  for (size_t i = 0; i < 8; ++i) t.AddString(keys[i], keys[i] + "!");
  EXPECT_EQ(t.UsedSlots({}), 2);
  EXPECT_EQ(t.UsedSlots({0x3D}), -1) << "eight keys are still a chain";
  t.AddString(keys[8], keys[8] + "!");
  EXPECT_EQ(t.UsedSlots({}), 2) << "the split does not change the root's count";
  EXPECT_GT(t.UsedSlots({0x3D}), 0) << "the ninth key makes a child node";
  for (const std::string& k : keys) {
    SCOPED_TRACE(k);
    EXPECT_EQ(t.FindString(k), k + "!");
    EXPECT_EQ(t.SlotPath(k).size(), 2u);
  }
  for (const std::string& k : keys) t.Delete(k);
  EXPECT_EQ(t.UsedSlots({0x3D}), -1) << "the emptied child is freed";
  EXPECT_EQ(t.UsedSlots({}), 1);
  t.Delete("other");
  EXPECT_TRUE(t.HasRoot()) << "an empty root stays until Clear";
  EXPECT_EQ(t.UsedSlots({}), 0);
  t.Clear();
  EXPECT_FALSE(t.HasRoot());
}

TEST(HashTrieTest, KeysWithOneWholeHashShareAChainInsteadOfSplittingForEver) {
  TStringHashTrie t;
  Exact(t);
  std::vector<std::string> keys;
  for (int i = 0; i < 12; ++i) keys.push_back(Forge("same" + std::to_string(i), 0x0BADF00Du));
  for (const std::string& k : keys) t.AddString(k, k);
  for (const std::string& k : keys) {
    EXPECT_EQ(t.FindString(k), k);
    EXPECT_EQ(t.SlotPath(k), (std::vector<uint8_t>{0x0D, 0xF0, 0xAD, 0x0B}));
  }
  for (const std::string& k : keys) t.Delete(k);
  EXPECT_EQ(t.UsedSlots({}), 0);
}

TEST(HashTrieTest, EdgeKeysAndValueOwnership) {
  int deaths = 0;
  {
    TStringHashTrie t;
    Exact(t);
    t.AddString("", "empty");
    EXPECT_EQ(t.SlotPath(""), (std::vector<uint8_t>{0xFF}));
    EXPECT_EQ(t.FindString(""), "empty");
    t.Delete("");
    EXPECT_FALSE(t.Contains(""));

    t.Add("x", new Counted(deaths));
    t.Add("x", new Counted(deaths));  // replaces: the old value is freed
    EXPECT_EQ(deaths, 1);
    EXPECT_EQ(t.Count(), 1u);
    EXPECT_EQ(t.FindString("x"), "") << "a value that is no string item gives no text";
    EXPECT_NE(t.Find("x"), nullptr);
  }
  EXPECT_EQ(deaths, 2) << "destruction frees the values it owns";

  Counted kept(deaths);
  {
    TStringHashTrie t;  // AutoFreeValue off: values stay the caller's
    t.Add("k", &kept);
  }
  EXPECT_EQ(deaths, 2);
}

TEST(HashTrieTest, LetterCaseMattersOnlyWhenAskedTo) {
  struct {
    const char* what;
    bool case_sensitive;
    size_t count;
    const char* found_by_upper;
  } cases[] = {
      {"ignoring case: one key", false, 1, "second"},
      {"case-sensitive: two keys", true, 2, "first"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TStringHashTrie t;
    t.CaseSensitive = c.case_sensitive;
    t.AutoFreeValue = true;
    t.AddString("SAVE", "first");
    t.AddString("Save", "second");
    EXPECT_EQ(t.Count(), c.count);
    EXPECT_EQ(t.FindString("SAVE"), c.found_by_upper);
  }
  TStringHashTrie t;
  t.AutoFreeValue = true;
  t.AddString("\xC4rger", "x");  // Windows-1252 / ANSI letters fold too
  EXPECT_EQ(t.FindString("\xE4RGER"), "x");
}

}  // namespace
}  // namespace tarvel
