#include "Common/SymbolTable.h"

#include <algorithm>
#include <map>

namespace tarvel {
namespace {

constexpr char kMagic[8] = {'T', 'V', 'S', 'Y', 'M', 1, 0, 0};

void PutNumber(std::string& out, uint64_t value) {
  do {
    unsigned char byte = value & 0x7f;
    value >>= 7;
    if (value) byte |= 0x80;
    out += static_cast<char>(byte);
  } while (value);
}

// Reader takes numbers and bytes off the front of a table, refusing to run
// past its end.
struct Reader {
  std::string_view rest;
  bool ok = true;

  uint64_t Number() {
    uint64_t value = 0;
    for (unsigned shift = 0; ok; shift += 7) {
      if (rest.empty() || shift > 63) {
        ok = false;
        break;
      }
      const auto byte = static_cast<unsigned char>(rest.front());
      rest.remove_prefix(1);
      value |= static_cast<uint64_t>(byte & 0x7f) << shift;
      if (!(byte & 0x80)) break;
    }
    return value;
  }
  std::string_view Bytes(uint64_t n) {
    if (!ok || n > rest.size()) {
      ok = false;
      return {};
    }
    std::string_view bytes = rest.substr(0, n);
    rest.remove_prefix(n);
    return bytes;
  }
};

}  // namespace

std::string TSymbolTable::Encode(std::vector<Function> functions) {
  // One name per address: aliases (a constructor's two entry points, a
  // symbol and its alias) would only lengthen the table.
  std::sort(functions.begin(), functions.end(), [](const Function& a, const Function& b) {
    return a.start != b.start ? a.start < b.start : a.name < b.name;
  });
  functions.erase(
      std::unique(functions.begin(), functions.end(),
                  [](const Function& a, const Function& b) { return a.start == b.start; }),
      functions.end());
  std::map<std::string, uint32_t> index;
  for (const Function& f : functions) index.emplace(f.name, 0);
  std::string out(kMagic, sizeof kMagic);
  PutNumber(out, index.size());
  uint32_t n = 0;
  const std::string* before = nullptr;
  for (auto& [name, i] : index) {
    i = n++;
    size_t shared = 0;
    if (before)
      while (shared < name.size() && shared < before->size() && name[shared] == (*before)[shared])
        ++shared;
    PutNumber(out, shared);
    PutNumber(out, name.size() - shared);
    out.append(name, shared, std::string::npos);
    before = &name;
  }
  PutNumber(out, functions.size());
  uint32_t previous = 0;
  for (const Function& f : functions) {
    PutNumber(out, f.start - previous);
    PutNumber(out, index[f.name]);
    previous = f.start;
  }
  return out;
}

std::optional<TSymbolTable> TSymbolTable::Parse(std::string_view bytes) {
  if (bytes.size() < sizeof kMagic ||
      bytes.substr(0, sizeof kMagic) != std::string_view(kMagic, sizeof kMagic))
    return std::nullopt;
  Reader in{bytes.substr(sizeof kMagic)};
  TSymbolTable table;
  const uint64_t name_count = in.Number();
  if (!in.ok || name_count > in.rest.size()) return std::nullopt;
  table.names_.reserve(name_count);
  for (uint64_t i = 0; i < name_count && in.ok; ++i) {
    const uint64_t shared = in.Number();
    const uint64_t length = in.Number();
    if (!in.ok || (i == 0 ? shared != 0 : shared > table.names_.back().size())) return std::nullopt;
    std::string name = i ? table.names_.back().substr(0, shared) : std::string();
    name += in.Bytes(length);
    table.names_.push_back(std::move(name));
  }
  const uint64_t function_count = in.Number();
  if (!in.ok || function_count > in.rest.size()) return std::nullopt;
  table.starts_.reserve(function_count);
  table.name_of_.reserve(function_count);
  uint64_t start = 0;
  for (uint64_t i = 0; i < function_count && in.ok; ++i) {
    start += in.Number();
    const uint64_t name = in.Number();
    if (!in.ok || name >= table.names_.size() || start > UINT32_MAX) return std::nullopt;
    table.starts_.push_back(static_cast<uint32_t>(start));
    table.name_of_.push_back(static_cast<uint32_t>(name));
  }
  if (!in.ok) return std::nullopt;
  return table;
}

bool TSymbolTable::Find(uint32_t offset, std::string* name, uint32_t* into) const {
  auto after = std::upper_bound(starts_.begin(), starts_.end(), offset);
  if (after == starts_.begin()) return false;
  const size_t i = static_cast<size_t>(after - starts_.begin()) - 1;
  if (name) *name = names_[name_of_[i]];
  if (into) *into = offset - starts_[i];
  return true;
}

}  // namespace tarvel
