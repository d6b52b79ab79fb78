// The client index at its own contract: every client found again as the
// index grows, records that never move, creation order kept.
#include "monitor/ClientIndex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "Common/OleVariant.h"

namespace tarvel {
namespace {

// IdOf: client i of a mix of integers, doubles and texts.
OleVariant IdOf(int i) {
  switch (i % 3) {
    case 0:
      return OleVariant(i);
    case 1:
      return OleVariant(i + 0.5);
    default: {
      char text[32];
      std::snprintf(text, sizeof text, "client %d", i);
      return OleVariant(text);
    }
  }
}

struct Lookup {
  TClientListItem* record;
  bool created;
};

Lookup FindOrCreate(ClientIndex& index, const OleVariant& value) {
  ClientIdView id;
  id.Assign(value.Raw());
  ClientIndex::Shard& shard = index.ShardOf(id.Hash());
  std::lock_guard<ShardLock> lock(shard.mu);
  Lookup l{};
  l.record = index.FindOrCreate(shard, id, nullptr, &l.created);
  return l;
}

// Past several slab sizes and many doublings of each shard's slots.
TEST(ClientIndex, FindsEveryClientAgainAsItGrows) {
  constexpr int kClients = 70000;
  ClientIndex index;
  std::vector<TClientListItem*> records;
  for (int i = 0; i < kClients; ++i) {
    const Lookup l = FindOrCreate(index, IdOf(i));
    ASSERT_TRUE(l.created) << i;
    ASSERT_EQ(index.Record(static_cast<uint32_t>(i)), l.record);
    records.push_back(l.record);
    // Now and then, every client so far is still where it was.
    if ((i & (i + 1)) == 0 || i == kClients - 1) {
      for (int k = 0; k <= i; ++k) {
        const Lookup again = FindOrCreate(index, IdOf(k));
        ASSERT_FALSE(again.created) << k << " of " << i;
        ASSERT_EQ(again.record, records[static_cast<size_t>(k)]) << k << " of " << i;
      }
    }
  }
  EXPECT_EQ(index.ClientCount(), static_cast<size_t>(kClients));
  EXPECT_EQ(index.Created(), static_cast<uint32_t>(kClients));
  // Records from every slab come back in the order they were made.
  std::vector<TClientListItem*> shuffled = records;
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(3));
  index.OrderByCreation(shuffled);
  EXPECT_EQ(shuffled, records);
  // A look without the lock finds a record of the client's own shard.
  for (int i = 0; i < kClients; ++i) {
    ClientIdView id;
    id.Assign(IdOf(i).Raw());
    TClientListItem* candidate = index.Candidate(id.Hash());
    ASSERT_NE(candidate, nullptr) << i;
    EXPECT_EQ(candidate->ClientId.Hash() >> (64 - ClientIndex::kShardBits),
              id.Hash() >> (64 - ClientIndex::kShardBits));
  }
}

TEST(ClientIndex, ANewRecordWaitsUntilItsWatchesAreBuilt) {
  ClientIndex index;
  const Lookup l = FindOrCreate(index, OleVariant(5));
  ASSERT_TRUE(l.created);
  for (const TTimeoutListItem& w : l.record->Watches) EXPECT_FALSE(w.Armed());
  EXPECT_EQ(l.record->queue_slot, TClientListItem::kNotQueued);
}

}  // namespace
}  // namespace tarvel
