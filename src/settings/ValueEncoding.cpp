#include "settings/ValueEncoding.h"

#include "Common/Text.h"
#include "components/Components.h"

namespace tarvel {

namespace {
TComponent* SearchFrom(TComponent* from, std::string_view path) {
  while (from) {
    size_t dot = path.find('.');
    if (dot == std::string_view::npos) return from->FindComponent(path);
    from = from->FindComponent(path.substr(0, dot));
    path.remove_prefix(dot + 1);
  }
  return nullptr;
}

TComponent* Resolve(std::string_view path, TComponent* base) {
  size_t dot = path.find('.');
  if (dot != std::string_view::npos && SameTextAscii(path.substr(0, dot), "APPLICATION"))
    return SearchFrom(&Application(), path.substr(dot + 1));
  return SearchFrom(base, path);
}
}  // namespace

std::string EscapeText(std::string_view text) {
  if (size_t nul = text.find('\0'); nul != std::string_view::npos) text = text.substr(0, nul);
  size_t first = text.find_first_not_of(' ');
  size_t last = text.find_last_not_of(' ');  // spaces after it reach the end
  std::string out;
  out.reserve(text.size() * 3);
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == ' ') {
      bool edge = first == std::string_view::npos || i < first || i > last;
      out += edge ? '+' : ' ';
    } else if (c == '%') {
      out += "%%";
    } else if (c == '+' || c < 32) {
      out += '%';
      out += UpperHexDigit(c >> 4);
      out += UpperHexDigit(c & 15);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string UnescapeText(std::string_view text) {
  if (size_t nul = text.find('\0'); nul != std::string_view::npos) text = text.substr(0, nul);
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%') {
      if (i + 1 < text.size() && text[i + 1] == '%') {
        out += '%';
        ++i;
      } else if (i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
                 HexDigitValue(text[i + 2]) >= 0) {
        out += static_cast<char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2]));
        i += 2;
      } else {
        out += '%';
      }
    } else if (c == '+') {
      out += ' ';
    } else {
      out += c;
    }
  }
  return out;
}

std::string ComponentPath(const TComponent& component) {
  if (const TComponent* owner = component.Owner()) {
    if (owner->IsApplication()) return "Application." + component.Name();
    return ComponentPath(*owner) + "." + component.Name();
  }
  return component.IsApplication() ? "Application" : component.Name();
}

TComponent* FindComponentByPath(std::string_view path, TComponent* base) {
  TComponent* found = Resolve(path, base);
  if (!found && base != &Application()) found = Resolve(path, &Application());
  return found;
}

}  // namespace tarvel
