// TWtransl: the translator. It replaces the texts a module shows or writes
// (captions, hints, texts, list items, message properties, text resources)
// by their counterparts in another language, looked up by their complete
// English wording in one language file next to the module.
//
// The language file (read by translation/LanguageFile.h) pairs wordings in
// blocks:
//     EN:>Timeout
//     DE:>Zeitlimit
//     <empty line>
// and may carry directives in its first 19 lines (Encoding=utf-8, ...).
// A pass (Translate) loads the dictionary for its (source, target) pair
// unless that pair is loaded already, then walks the given component and
// what it owns (translation/TranslateWalk.cpp), one text, or every form of
// the application; the dictionary is released 20000 ms after the last pass
// that ran. In a collection mode (translation/CollectTexts.cpp) a pass
// changes nothing and records texts instead, written to a side file when
// the translator is destroyed.
//
// Texts are looked up in the system ANSI code page; translations come back
// wide, decoded from UTF-8 under Encoding=utf-8. Whoever stores a result as
// 8-bit text keeps the old text when the code page cannot hold the
// translation (TextFitsAnsi), rather than showing question marks.
//
// Example (what the module does):
//   TWtransl t;                              // on a thread that pumps messages
//   t.SetLanguageFile(dir + "tarvel.lng");
//   t.SetCurrentLanguage("EN");
//   std::string def = t.GetLanguages(nullptr);
//   t.Translate("DE", &plugin, nullptr, "EN");   // any thread
//
// Threads: Translate, GetLanguages and the accessors may be called from any
// thread; a pass holds the translator's lock (re-entrant for its holder)
// throughout, and so does the timer's release of the dictionary. The
// release timer ticks on the creating thread. The lock is never held while
// the timer is called (the timer's tick takes the lock), and the
// destructor, which may run on any thread, detaches the timer first. The walk touches the objects
// it translates on the calling thread; the caller must own them there.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "Common/ThreadSafety.h"
#include "components/Components.h"
#include "components/Controls.h"
#include "translation/HashTrie.h"
#include "translation/TimerEx.h"

namespace tarvel {

// TWtranslLanguagesList: the dictionary of one (source, target) pair: the
// exact source wordings, and the lower-cased ones where they differ.
class TWtranslLanguagesList {
 public:
  TWtranslLanguagesList();
  TStringHashTrie ExactTexts;
  TStringHashTrie LowerTexts;
  void Clear();
};

class TWtransl;

using TTranslateNotify = std::function<void(TWtransl& sender, TWtranslLanguagesList* resources)>;
using TCustomTranslateNotify =
    std::function<void(TWtransl& sender, TObject* comp, TWtranslLanguagesList* resources)>;
using TBeforeTranslateComponentNotify = std::function<void(
    TWtransl& sender, TObject* comp, TWtranslLanguagesList* resources, bool& allow)>;
using TCustomObjectPropertyTranslateNotify = std::function<void(
    TWtransl& sender, const std::string& prop, TObject* obj, TWtranslLanguagesList* resources)>;
using TPropertyTranslateNotify = std::function<void(
    TWtransl& sender, TObject* obj, const TPropInfo* pi, const std::u16string& old_value,
    std::u16string& new_value, bool found, bool& do_default)>;

// Collection modes and how the side file is opened.
enum TCollectMode : uint8_t {
  cmOff = 0,
  cmUntranslated = 1,           // //saveuntr
  cmAll = 2,                    // //saveall
  cmUnused = 3,                 // //saveunused
  cmUntranslatedWithPlace = 4,  // //saveuntrobj
};
enum TCollectFileMode : uint8_t { cfNew = 0, cfRewrite = 1, cfAppend = 2 };

// TextFitsAnsi converts wide text to the system code page; false when the
// code page cannot hold it (the conversion does not come back unchanged).
bool TextFitsAnsi(std::u16string_view text, std::string* ansi);

class TWtransl : public TComponent {
 public:
  static constexpr uint32_t kReleaseIntervalMs = 20000;

  // ticks: what the release timer follows (see platform/clock.h).
  explicit TWtransl(TComponent* owner = nullptr,
                    const platform::TickSource& ticks = platform::SystemTicks());
  // Writes the collected texts (if any), stops the release timer, frees
  // the dictionary.
  ~TWtransl() override;

  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }

  // ---- Properties ----
  // ComponentProperties: names of the properties translated on every
  // component and collection item, matched without regard to case;
  // "CAPTION", "HINT", "TEXT", "TITLE", "CAPTIONS" at first.
  std::vector<std::string> ComponentProperties() const;
  void SetComponentProperties(const std::vector<std::string>& names);
  void AddComponentProperty(std::string_view name);
  std::string LanguageFile() const;
  void SetLanguageFile(std::string_view file);

  TPropertyTranslateNotify OnPropertyTranslate;
  TCustomTranslateNotify OnCustomTranslate;
  // OnBeforeTranslate: called at the start of every pass that runs, before
  // its target is walked (the counterpart of OnAfterTranslate).
  TTranslateNotify OnBeforeTranslate;
  TTranslateNotify OnAfterTranslate;
  TCustomObjectPropertyTranslateNotify OnCustomObjectPropertyTranslate;
  TBeforeTranslateComponentNotify OnBeforeTranslateComponent;

  // ---- The pass ----
  // Translate into language from `from` (empty: CurrentLanguage): the
  // component and what it owns when given; otherwise the text; otherwise
  // every form of the application. True when a pass ran (the file gave
  // pairs, or a collection mode is on).
  bool Translate(const std::string& language, TObject* component, std::string* text,
                 const std::string& from);
  // GetLanguages fills list (when given) with "code,display name" lines
  // from the file's [Languages] section and returns its Default.
  std::string GetLanguages(std::vector<std::string>* list);

  struct TTranslated {
    std::u16string text;  // the translation, or the old text
    bool found = false;
    bool do_default = true;  // false: the caller keeps the old text
  };
  // TranslateText translates one text during a pass (lock held): lookup,
  // OnPropertyTranslate, the collection step.
  TTranslated TranslateText(std::u16string_view old_text, TObject* object, const TPropInfo* pi);
  // LookupText finds a text's translation (see the .cpp for the forms it
  // tries). raw receives the stored bytes of a hit.
  std::u16string LookupText(std::u16string_view old_text, bool* found,
                            std::string* raw = nullptr) const;

  // LoadLanguageText loads the dictionary of a pair from a language file's
  // bytes, as reading the file does (tools, tests and fuzzing); returns the
  // pairs taken.
  int32_t LoadLanguageText(std::string_view bytes, const std::string& source,
                           const std::string& target);

  // ReleaseDictionary frees the dictionary (the release timer's handler).
  void ReleaseDictionary();

  // ---- The walk (translation/TranslateWalk.cpp), during a pass ----
  void TranslateComponent(TObject* c) TARVEL_REQUIRES(lock_);
  void TranslateChildren(TComponent* parent) TARVEL_REQUIRES(lock_);
  void TranslateProperty(TObject* o, std::string_view name) TARVEL_REQUIRES(lock_);
  void TranslateCollection(TCollection* collection) TARVEL_REQUIRES(lock_);
  void ApplyReadingOrderAndFonts(TObject* c) TARVEL_REQUIRES(lock_);

  // ---- State (read under the lock) ----
  uint8_t FontCharset() const;
  uint8_t BiDiMode() const;
  uint8_t Encoding() const;
  uint32_t Locale() const;
  int32_t EntryCount() const;
  std::string LoadedKey() const;
  bool HasDictionary() const;
  std::string TargetLanguage() const;
  std::string SourceLanguage() const;
  std::string CurrentLanguage() const;
  void SetCurrentLanguage(std::string_view language);
  std::string DefaultLanguage() const;
  uint8_t CollectMode() const;
  uint8_t CollectFileMode() const;
  std::vector<std::string> CollectedTexts() const;
  // LoadError: why the last load found no dictionary (the file could not
  // be read), naming the file; empty after a load that read the file.
  std::string LoadError() const;
  TvopTimerEx* ReleaseTimer() const { return release_timer_.get(); }

  // ---- Collection (translation/CollectTexts.cpp) ----
  // CollectText records a text of a pass as CollectMode says.
  void CollectText(std::u16string_view old_text, bool found, const std::string& raw,
                   TObject* object, const TPropInfo* pi) TARVEL_REQUIRES(lock_);
  // SaveCollectedTexts writes the collected texts to the side file; it
  // never raises.
  void SaveCollectedTexts(const std::string& target, const std::string& source);
  // SideFileName: where SaveCollectedTexts would write now.
  std::string SideFileName() const;

 private:
  int32_t LoadLanguageFile(const std::string& file, const std::string& source,
                           const std::string& target) TARVEL_REQUIRES(lock_);
  int32_t ParseDictionary(std::string_view bytes, const std::string& source,
                          const std::string& target) TARVEL_REQUIRES(lock_);
  bool HasComponentProperty(std::string_view name) const TARVEL_REQUIRES(lock_);
  // LookupLocked: LookupText with the lock held.
  std::u16string LookupLocked(std::u16string_view old_text, bool* found, std::string* raw) const
      TARVEL_REQUIRES(lock_);

  mutable RecursiveMutex lock_;
  std::vector<std::string> component_properties_ TARVEL_GUARDED_BY(lock_);
  std::string language_file_ TARVEL_GUARDED_BY(lock_) = "app.lng";
  uint8_t font_charset_ TARVEL_GUARDED_BY(lock_) = 1;
  uint8_t bidi_mode_ TARVEL_GUARDED_BY(lock_) = 0;
  uint8_t encoding_ TARVEL_GUARDED_BY(lock_) = 0;
  uint32_t locale_ TARVEL_GUARDED_BY(lock_) = 0;
  uint32_t saved_locale_ TARVEL_GUARDED_BY(lock_) = 0;
  std::vector<std::string> collected_texts_ TARVEL_GUARDED_BY(lock_);
  // //saveall: the stored translation of each collected text.
  std::map<std::string, std::string> collected_translations_ TARVEL_GUARDED_BY(lock_);
  // //saveunused: every text a pass used in the translator's life.
  std::set<std::string> used_texts_ TARVEL_GUARDED_BY(lock_);
  int32_t entry_count_ TARVEL_GUARDED_BY(lock_) = 0;
  std::string loaded_key_ TARVEL_GUARDED_BY(lock_);
  std::unique_ptr<TWtranslLanguagesList> dictionary_ TARVEL_GUARDED_BY(lock_);
  std::string target_language_ TARVEL_GUARDED_BY(lock_);
  std::string source_language_ TARVEL_GUARDED_BY(lock_);
  std::string current_language_ TARVEL_GUARDED_BY(lock_);
  std::string default_language_ TARVEL_GUARDED_BY(lock_);
  uint8_t collect_mode_ TARVEL_GUARDED_BY(lock_) = cmOff;
  uint8_t collect_file_mode_ TARVEL_GUARDED_BY(lock_) = cfNew;
  std::string load_error_ TARVEL_GUARDED_BY(lock_);
  // Made by the constructor and let go only by the destructor, after it is
  // detached: read without the lock.
  std::unique_ptr<TvopTimerEx> release_timer_;
};

}  // namespace tarvel
