// Unescapes arbitrary bytes and checks that escaping the result and
// unescaping it again gives it back (up to the first NUL, where stored text
// ends), and that escaping stays within three bytes per byte.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "settings/ValueEncoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  std::string text = tarvel::UnescapeText(input);
  text = text.substr(0, text.find('\0'));
  std::string stored = tarvel::EscapeText(text);
  if (stored.size() > text.size() * 3) std::abort();
  if (stored.find_first_of("\r\n") != std::string::npos) std::abort();
  if (tarvel::UnescapeText(stored) != text) std::abort();
  // Escaping raw input directly must round-trip as well.
  std::string raw = input.substr(0, input.find('\0'));
  if (tarvel::UnescapeText(tarvel::EscapeText(raw)) != raw) std::abort();
  return 0;
}
