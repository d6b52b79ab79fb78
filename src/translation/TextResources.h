// TCustomTextResources: texts a module writes that are not properties of
// any control (such as its log lines), translated like captions.
//
// Each text keeps its source wording (English) beside the text now in
// force, and a translation always starts from the source, so switching
// from German to French gives French: a German text would not be found in
// an English-to-French dictionary. Its tag is 9997: a walk over its owner
// only reports it (OnCustomTranslate); its texts are translated when the
// component itself is given to the translator, or by its owner's language
// work (the module's, Plugins/vopPluginLanguage.cpp).
//
// A translation the system ANSI code page cannot hold (Cyrillic on a
// Western machine) leaves the source wording in force: these texts travel
// as 8-bit text, and question marks help no one.
//
// Example:
//   class TMyTexts : public TCustomTextResources {
//    public:
//     explicit TMyTexts(TComponent* owner) : TCustomTextResources(owner) { AddText("Timeout"); }
//     std::string TimeoutText() const { return Text(0); }
//   };
//
// Threads: texts may be read from any thread while a pass (on another)
// replaces them; each text is read and replaced whole.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Common/ThreadSafety.h"
#include "components/Controls.h"

namespace tarvel {

class TWtransl;
class TWtranslLanguagesList;

class TCustomTextResources : public TComponent {
 public:
  static constexpr int32_t kTag = 9997;

  explicit TCustomTextResources(TComponent* owner = nullptr);
  ~TCustomTextResources() override;

  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }

  size_t Count() const;
  // Text: the text now in force.
  std::string Text(size_t index) const;
  std::string SourceText(size_t index) const;
  // SetText gives a text a new source wording, in force at once.
  void SetText(size_t index, std::string_view source);

  // TranslateTexts translates every text from its source wording (an
  // exception for one text leaves it and goes on), then notifies.
  virtual void TranslateTexts(TWtransl& translator, TWtranslLanguagesList* resources);
  // ResetToSource puts every source wording back in force, silently.
  void ResetToSource();
  // Changed calls OnChange.
  void Changed();

  // OnChange: the texts in force have changed (after TranslateTexts, or
  // after Changed).
  TNotifyEvent OnChange;

 protected:
  // AddText appends a text with its source wording; returns its index.
  size_t AddText(std::string_view source);

 private:
  struct Entry {
    std::string source;
    std::string shown;
  };
  mutable Mutex mu_;
  std::vector<Entry> texts_ TARVEL_GUARDED_BY(mu_);
};

}  // namespace tarvel
