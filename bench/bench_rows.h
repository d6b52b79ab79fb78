// The rows the benchmarks feed: one data portion of CLIENTID, the watched
// variables and one unwatched item per row, built once, whose client IDs
// are written in before each call; and the client ID sequences (uniform,
// skewed, sequential) drawn from fixed seeds, so that runs compare.
//
// Threads: a Feed belongs to the thread that feeds it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "Common/OleVariant.h"
#include "Common/vopParamLst.h"

namespace tarvel::bench {

struct Feed {
  ParamsListPtr list;
  std::vector<Variant*> ids;  // each row's CLIENTID value
};

inline Feed MakeFeed(int rows, const std::vector<std::string>& vars) {
  Feed f{NewParamsList(kRowsParamsListClass), {}};
  for (int r = 0; r < rows; ++r) {
    if (r > 0) f.list->AddNewRow();
    f.ids.push_back(&f.list->Add("CLIENTID", OleVariant(0))->Value);
    for (const std::string& v : vars) f.list->Add(v, OleVariant(1.5));
    f.list->Add("station", OleVariant("north"));
  }
  return f;
}

inline std::vector<int32_t> UniformIds(size_t count, int32_t clients, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int32_t> pick(0, clients - 1);
  std::vector<int32_t> ids(count);
  for (int32_t& id : ids) id = pick(rng);
  return ids;
}

// Skewed: 90% of the rows come from 1% of the clients.
inline std::vector<int32_t> SkewedIds(size_t count, int32_t clients, uint32_t seed) {
  std::mt19937 rng(seed);
  const int32_t hot = std::max(1, clients / 100);
  std::uniform_int_distribution<int32_t> pick_hot(0, hot - 1), pick_any(0, clients - 1);
  std::uniform_int_distribution<int> percent(0, 99);
  std::vector<int32_t> ids(count);
  for (int32_t& id : ids) id = percent(rng) < 90 ? pick_hot(rng) : pick_any(rng);
  return ids;
}

inline std::vector<int32_t> Sequential(int32_t clients) {
  std::vector<int32_t> ids(static_cast<size_t>(clients));
  std::iota(ids.begin(), ids.end(), 0);
  return ids;
}

}  // namespace tarvel::bench
