// Translator adapters: small objects, registered once per process, that
// translate objects the component walk cannot translate by itself. A
// property adapter (empty mask) is asked for an object held by a property
// the walk translates; a component adapter (non-empty mask) is asked once
// for every component the walk translates. Each serves one class and its
// descendants; the first registered adapter that fits is the only one
// asked.
//
// Registered at start-up, in this order:
//   TWtranslatorCustomTntStrings     TWideStrings          property adapter
//   TWtranslatorCustomTextResources  TCustomTextResources  component adapter ("*")
//
// Threads: registration and lookup take the registry's own lock; the
// adapters run during a pass, under the translator's lock, outside the
// registry's.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "components/Components.h"

namespace tarvel {

class TWtransl;
class TWtranslLanguagesList;

class TWtranslatorCustom {
 public:
  virtual ~TWtranslatorCustom() = default;
  // Mask is stored lower-cased: empty for a property adapter.
  std::string Mask;
  // ObjClass: the class served (with its descendants); null: every class.
  const TClassInfo* ObjClass = nullptr;
  // Translate: comp is the component being walked, obj the object a
  // property of it holds (null for a component adapter), pi that property.
  // True when the adapter handled the object.
  virtual bool Translate(TWtransl& translator, TObject* comp, TObject* obj, const TPropInfo* pi,
                         TWtranslLanguagesList* resources);
};

// TWtranslatorCustomTntStrings translates a TWideStrings line by line.
class TWtranslatorCustomTntStrings : public TWtranslatorCustom {
 public:
  bool Translate(TWtransl& translator, TObject* comp, TObject* obj, const TPropInfo* pi,
                 TWtranslLanguagesList* resources) override;
};

// TWtranslatorCustomTextResources has a text resources component translate
// its texts.
class TWtranslatorCustomTextResources : public TWtranslatorCustom {
 public:
  bool Translate(TWtransl& translator, TObject* comp, TObject* obj, const TPropInfo* pi,
                 TWtranslLanguagesList* resources) override;
};

// RegisterTranslatorCustom appends an adapter serving cls with the mask.
bool RegisterTranslatorCustom(const TClassInfo* cls, std::string_view mask,
                              std::unique_ptr<TWtranslatorCustom> adapter);

// TranslateByComponentAdapter: the first component adapter that serves c
// translates it; false when none serves it.
bool TranslateByComponentAdapter(TWtransl& translator, TObject* c,
                                 TWtranslLanguagesList* resources);
// TranslateByPropertyAdapter: the first property adapter that serves obj
// translates it; false when obj is null or no adapter handled it.
bool TranslateByPropertyAdapter(TWtransl& translator, TObject* comp, TObject* obj,
                                const TPropInfo* pi, TWtranslLanguagesList* resources);

}  // namespace tarvel
