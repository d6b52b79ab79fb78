// Small helpers the framework's units share: reading host parameters and
// the fixed names and limits of the host protocol. Internal to Plugins/.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Common/OleVariant.h"
#include "Common/vopParamLst.h"

namespace tarvel::plugin_detail {

// The source name of the framework's assertion lines.
constexpr const char* kSource = "Plugins/vopPluginModule";
// The longest a send to the host window may block.
constexpr uint32_t kHostSendTimeoutMs = 1000;

// Present: the parameter holds a value (neither empty nor null).
inline bool Present(const OleVariant& v) {
  return !v.IsEmpty() && !v.IsNull();
}

// TextParam: a parameter's text; empty without a list or the parameter.
inline std::string TextParam(const TvopParamsList* params, std::string_view name) {
  if (!params) return {};
  return params->GetParamValue(name).ToAnsi();
}

// Window handles travel as 32-bit integers; a handle above 2^31 arrives as
// a negative number.
inline uintptr_t HandleValue(const OleVariant& v) {
  auto n = v.AsInt64();
  if (!n) return 0;
  return static_cast<uintptr_t>(static_cast<uint32_t>(*n));
}

inline std::string_view TrimControls(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}

// Splits at every separator; an empty field after the last one is dropped.
inline std::vector<std::string> SplitFields(std::string_view line, char sep) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == sep) {
      out.emplace_back(line.substr(start, i - start));
      start = i + 1;
    }
  }
  if (start < line.size()) out.emplace_back(line.substr(start));
  return out;
}

}  // namespace tarvel::plugin_detail
