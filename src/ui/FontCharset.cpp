#include "ui/FontCharset.h"

namespace tarvel {

namespace {

struct ScriptRange {
  char16_t first, last;
  uint8_t charset;
};
// Windows' character sets by the Unicode blocks of their letters.
constexpr ScriptRange kScripts[] = {
    {0x0100, 0x017F, 238},  // Latin Extended-A: Central European
    {0x0370, 0x03FF, 161},  // Greek
    {0x0400, 0x04FF, 204},  // Cyrillic
    {0x0590, 0x05FF, 177},  // Hebrew
    {0x0600, 0x06FF, 178},  // Arabic
    {0x0E00, 0x0E7F, 222},  // Thai
};

uint8_t CharsetOfOwnTexts(const TControl& c) {
  if (c.InheritsFrom(TLabel::StaticClass()))
    return CharsetForText(static_cast<const TLabel&>(c).Caption());
  if (c.InheritsFrom(TForm::StaticClass()))
    return CharsetForText(static_cast<const TForm&>(c).Caption());
  if (c.InheritsFrom(TCaptionedWinControl::StaticClass()))
    return CharsetForText(static_cast<const TCaptionedWinControl&>(c).Caption());
  if (c.InheritsFrom(TCustomEdit::StaticClass()))
    return CharsetForText(static_cast<const TCustomEdit&>(c).Text());
  return kDefaultCharset;
}

}  // namespace

uint8_t CharsetForText(std::u16string_view text) {
  for (char16_t ch : text) {
    if (ch < 0x100) continue;
    for (const ScriptRange& s : kScripts)
      if (ch >= s.first && ch <= s.last) return s.charset;
  }
  return kDefaultCharset;
}

uint8_t CharsetForControls(const TControl& root) {
  if (uint8_t own = CharsetOfOwnTexts(root); own != kDefaultCharset) return own;
  if (!root.IsWindowed()) return kDefaultCharset;
  const auto& parent = static_cast<const TWinControl&>(root);
  for (int i = 0; i < parent.ControlCount(); ++i)
    if (uint8_t c = CharsetForControls(*parent.Controls(i)); c != kDefaultCharset) return c;
  return kDefaultCharset;
}

}  // namespace tarvel
