// The names of a module's functions by address, in the compact form the
// build puts into the module (platform::OwnSymbolTable) so that a crash
// report names the module's frames even in the stripped DLL a user
// installs. The build makes it from the linked module's symbol table
// (tools/symbol-table); the full debug information stays out of the
// module, in tarvel.dll.debug.
//
// Form (all numbers unsigned LEB128):
//   "TVSYM" 1 0 0                  magic and version, 8 bytes
//   name count, then each name in byte order: the length it shares with
//     the name before, the length of the rest, the rest
//   function count, then by address: the distance from the previous
//     function's start (the first: from the module's base), the name's index
// Names are demangled without parameter lists ("tarvel::TaPlugin::Load");
// overloads share one. A function ends where the next one starts.
//
// Threads: a TSymbolTable is immutable once parsed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvel {

class TSymbolTable {
 public:
  struct Function {
    uint32_t start;  // from the module's base
    std::string name;
  };

  // Encode writes the table of these functions (any order).
  static std::string Encode(std::vector<Function> functions);
  // Parse reads a table; nullopt when the bytes are not one of this form.
  static std::optional<TSymbolTable> Parse(std::string_view bytes);

  // Find: the function whose code holds `offset` (from the module's base)
  // and how far into it the offset lies; false before the first function.
  bool Find(uint32_t offset, std::string* name, uint32_t* into) const;
  size_t FunctionCount() const { return starts_.size(); }

 private:
  std::vector<std::string> names_;
  std::vector<uint32_t> starts_;   // ascending
  std::vector<uint32_t> name_of_;  // index into names_, per start
};

}  // namespace tarvel
