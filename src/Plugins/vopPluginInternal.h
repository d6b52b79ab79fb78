// Small helpers the framework's units share: reading host parameters and
// the fixed names and limits of the host protocol. Internal to Plugins/.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "Common/OleVariant.h"
#include "Common/Text.h"
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

// EConvertError: a parameter's value does not convert to the type the
// command needs. The command then fails (-3) and the instance keeps the
// values it had.
class EConvertError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// IntegerParam converts a parameter to a 32-bit integer as the host's
// runtime converts a variant: numbers (cut to whole) and text that spells a
// number convert; anything else, or a number outside 32 bits, raises.
// Unsigned 32-bit spellings are accepted too, since handles above 2^31 may
// arrive either as negative or as unsigned numbers.
inline uint32_t IntegerParam(const OleVariant& v, std::string_view name) {
  const std::optional<int64_t> n = v.AsInt64();
  if (!n || *n < INT32_MIN || *n > int64_t{UINT32_MAX})
    throw EConvertError("Could not convert the value of " + std::string(name) + " into an integer");
  return static_cast<uint32_t>(*n);
}

// HandleParam reads a window or module handle parameter (IntegerParam).
inline uintptr_t HandleParam(const OleVariant& v, std::string_view name) {
  return static_cast<uintptr_t>(IntegerParam(v, name));
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
