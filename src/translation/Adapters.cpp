#include "translation/Adapters.h"

#include <vector>

#include "Common/ThreadSafety.h"
#include "components/Controls.h"
#include "translation/TextResources.h"
#include "translation/Translator.h"

namespace tarvel {

namespace {

struct Registry {
  Mutex mu;
  std::vector<std::unique_ptr<TWtranslatorCustom>> adapters TARVEL_GUARDED_BY(mu);

  Registry() {
    Append(&TWideStrings::StaticClass(), "", std::make_unique<TWtranslatorCustomTntStrings>());
    Append(&TCustomTextResources::StaticClass(), "*",
           std::make_unique<TWtranslatorCustomTextResources>());
  }
  void Append(const TClassInfo* cls, std::string_view mask,
              std::unique_ptr<TWtranslatorCustom> adapter) TARVEL_REQUIRES(mu) {
    adapter->ObjClass = cls;
    adapter->Mask = LowerAscii(mask);
    adapters.push_back(std::move(adapter));
  }
  static std::string LowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
  }
};

// The registry lives until the module is unloaded; the two adapters of
// this module are in it from its first use.
Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

// Find: the first adapter of the kind that serves the object's class. The
// adapters are never removed, so the pointer stays good after the lock.
TWtranslatorCustom* Find(const TObject& object, bool component_adapter) {
  Registry& r = TheRegistry();
  MutexLock lock(r.mu);
  for (const auto& a : r.adapters) {
    if (a->Mask.empty() == component_adapter) continue;
    if (a->ObjClass ? object.InheritsFrom(*a->ObjClass) : component_adapter) return a.get();
  }
  return nullptr;
}

}  // namespace

bool TWtranslatorCustom::Translate(TWtransl&, TObject*, TObject*, const TPropInfo*,
                                   TWtranslLanguagesList*) {
  return false;
}

bool TWtranslatorCustomTntStrings::Translate(TWtransl& translator, TObject* comp, TObject* obj,
                                             const TPropInfo* pi, TWtranslLanguagesList*) {
  auto* lines = dynamic_cast<TWideStrings*>(obj);
  if (!lines) return false;
  lines->BeginUpdate();
  struct EndUpdate {
    TWideStrings* lines;
    ~EndUpdate() { lines->EndUpdate(); }
  } end{lines};
  for (int i = 0; i < lines->Count(); ++i) {
    const std::u16string old = lines->Strings(i);
    TWtransl::TTranslated r = translator.TranslateText(old, comp, pi);
    if (r.do_default && r.text != old) lines->SetStrings(i, r.text);
  }
  return true;
}

bool TWtranslatorCustomTextResources::Translate(TWtransl& translator, TObject* comp, TObject*,
                                                const TPropInfo*,
                                                TWtranslLanguagesList* resources) {
  auto* texts = dynamic_cast<TCustomTextResources*>(comp);
  if (!texts) return false;
  texts->TranslateTexts(translator, resources);
  return true;
}

bool RegisterTranslatorCustom(const TClassInfo* cls, std::string_view mask,
                              std::unique_ptr<TWtranslatorCustom> adapter) {
  Registry& r = TheRegistry();
  MutexLock lock(r.mu);
  r.Append(cls, mask, std::move(adapter));
  return true;
}

bool TranslateByComponentAdapter(TWtransl& translator, TObject* c,
                                 TWtranslLanguagesList* resources) {
  if (!c) return false;
  TWtranslatorCustom* adapter = Find(*c, true);
  if (!adapter) return false;
  adapter->Translate(translator, c, nullptr, nullptr, resources);
  return true;
}

bool TranslateByPropertyAdapter(TWtransl& translator, TObject* comp, TObject* obj,
                                const TPropInfo* pi, TWtranslLanguagesList* resources) {
  if (!obj) return false;
  TWtranslatorCustom* adapter = Find(*obj, false);
  return adapter && adapter->Translate(translator, comp, obj, pi, resources);
}

}  // namespace tarvel
