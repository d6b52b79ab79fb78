// make_symbol_table: the names table of a linked module
// (Common/SymbolTable.h), made at build time from its symbol table.
//
// Reads the output of `nm --defined-only MODULE | c++filt -p` on standard
// input ("ADDRESS TYPE NAME" per line) and writes the table to OUTPUT.
// Only functions count (types t, T, w, W); section symbols ('.' first) do
// not. Addresses become offsets from the module's base, --image-base
// (hexadecimal, 0 by default: a shared object's symbols already are).
// --strip-underscore drops the leading '_' that 32-bit Windows puts on C
// names (c++filt already drops it from C++ ones) and the "@N" that stdcall
// names end in. scripts/symbolize reads symbol tables the same way.
//
// Built with the build machine's compiler in either build: it runs there.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "Common/SymbolTable.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: make_symbol_table [--image-base HEX] [--strip-underscore] OUTPUT "
               "< nm-output\n");
  return 2;
}

std::string CleanName(std::string name, bool strip_underscore) {
  if (!strip_underscore) return name;
  if (name.size() > 1 && name[0] == '_') name.erase(0, 1);
  const size_t at = name.rfind('@');
  if (at != std::string::npos && at + 1 < name.size() &&
      name.find_first_not_of("0123456789", at + 1) == std::string::npos)
    name.erase(at);
  return name;
}

}  // namespace

int main(int argc, char** argv) {
  unsigned long long image_base = 0;
  bool strip_underscore = false;
  const char* output = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--image-base") && i + 1 < argc) {
      image_base = std::strtoull(argv[++i], nullptr, 16);
    } else if (!std::strcmp(argv[i], "--strip-underscore")) {
      strip_underscore = true;
    } else if (argv[i][0] != '-' && !output) {
      output = argv[i];
    } else {
      return Usage();
    }
  }
  if (!output) return Usage();

  std::vector<tarvel::TSymbolTable::Function> functions;
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream fields(line);
    std::string address, type;
    if (!(fields >> address >> type) || type.size() != 1 || !std::strchr("tTwW", type[0])) continue;
    std::string name;
    std::getline(fields >> std::ws, name);
    if (name.empty() || name[0] == '.') continue;
    const unsigned long long at = std::strtoull(address.c_str(), nullptr, 16);
    if (at < image_base || at - image_base > UINT32_MAX) continue;
    functions.push_back(
        {static_cast<uint32_t>(at - image_base), CleanName(name, strip_underscore)});
  }
  if (functions.empty()) {
    std::fprintf(stderr, "make_symbol_table: no functions in the input\n");
    return 1;
  }

  FILE* out = std::fopen(output, "wb");
  if (!out) {
    std::perror(output);
    return 1;
  }
  const std::string table = tarvel::TSymbolTable::Encode(std::move(functions));
  const bool written = std::fwrite(table.data(), 1, table.size(), out) == table.size();
  return std::fclose(out) == 0 && written ? 0 : 1;
}
