#include "translation/Translator.h"

#include <algorithm>

#include "Common/Text.h"
#include "platform/file_io.h"
#include "platform/text.h"
#include "platform/window.h"
#include "settings/BigIni.h"
#include "translation/LanguageFile.h"

namespace tarvel {

bool TextFitsAnsi(std::u16string_view text, std::string* ansi) {
  std::string converted = platform::WideToAnsi(text);
  const bool fits = platform::AnsiToWide(converted) == text;
  if (ansi) *ansi = std::move(converted);
  return fits;
}

// ---- Dictionary ----

TWtranslLanguagesList::TWtranslLanguagesList() {
  for (TStringHashTrie* t : {&ExactTexts, &LowerTexts}) {
    t->CaseSensitive = true;
    t->AutoFreeValue = true;
  }
}

void TWtranslLanguagesList::Clear() {
  ExactTexts.Clear();
  LowerTexts.Clear();
}

// ---- Construction ----

const TClassInfo& TWtransl::StaticClass() {
  static const TClassInfo info = [] {
    TClassInfo c{"TWtransl", &TComponent::StaticClass(), {}};
    TPropInfo file;
    file.name = "LanguageFile";
    file.kind = tkString;
    file.get = [](const TObject& o) {
      return OleVariant::AnsiString(static_cast<const TWtransl&>(o).LanguageFile());
    };
    file.set = [](TObject& o, const OleVariant& v) {
      static_cast<TWtransl&>(o).SetLanguageFile(v.ToAnsi());
    };
    c.properties = {file};
    return c;
  }();
  return info;
}

TWtransl::TWtransl(TComponent* owner, const platform::TickSource& ticks)
    : TComponent(owner), component_properties_{"CAPTION", "HINT", "TEXT", "TITLE", "CAPTIONS"} {
  locale_ = saved_locale_ = platform::ThreadLocaleId();
  // Nothing else can reach the translator yet: the timer is set up without
  // the lock, which is never held across a call into the timer.
  release_timer_ = std::make_unique<TvopTimerEx>(nullptr, ticks);
  release_timer_->SetEnabled(false);
  release_timer_->SetInterval(kReleaseIntervalMs);
  release_timer_->SetOnTimer([this](TObject&) { ReleaseDictionary(); });
}

TWtransl::~TWtransl() {
  // The timer is detached first, without the lock: unbinding waits for a
  // release running on the owner thread, and that release takes the lock.
  // After this no tick reaches the translator.
  try {
    release_timer_->SetOnTimer(nullptr);
    release_timer_->SetEnabled(false);
  } catch (...) {
  }
  release_timer_.reset();
  SaveCollectedTexts(TargetLanguage(), SourceLanguage());
  RecursiveMutexLock lock(lock_);
  dictionary_.reset();
}

// ---- Properties ----

std::vector<std::string> TWtransl::ComponentProperties() const {
  RecursiveMutexLock lock(lock_);
  return component_properties_;
}

void TWtransl::SetComponentProperties(const std::vector<std::string>& names) {
  RecursiveMutexLock lock(lock_);
  component_properties_ = names;
}

void TWtransl::AddComponentProperty(std::string_view name) {
  RecursiveMutexLock lock(lock_);
  component_properties_.emplace_back(name);
}

bool TWtransl::HasComponentProperty(std::string_view name) const {
  for (const std::string& n : component_properties_)
    if (SameTextAscii(n, name)) return true;
  return false;
}

std::string TWtransl::LanguageFile() const {
  RecursiveMutexLock lock(lock_);
  return language_file_;
}

void TWtransl::SetLanguageFile(std::string_view file) {
  RecursiveMutexLock lock(lock_);
  language_file_.assign(file);
}

#define TWTRANSL_GETTER(type, name, field) \
  type TWtransl::name() const {            \
    RecursiveMutexLock lock(lock_);        \
    return field;                          \
  }
TWTRANSL_GETTER(uint8_t, FontCharset, font_charset_)
TWTRANSL_GETTER(uint8_t, BiDiMode, bidi_mode_)
TWTRANSL_GETTER(uint8_t, Encoding, encoding_)
TWTRANSL_GETTER(uint32_t, Locale, locale_)
TWTRANSL_GETTER(int32_t, EntryCount, entry_count_)
TWTRANSL_GETTER(std::string, LoadedKey, loaded_key_)
TWTRANSL_GETTER(bool, HasDictionary, dictionary_ != nullptr)
TWTRANSL_GETTER(std::string, TargetLanguage, target_language_)
TWTRANSL_GETTER(std::string, SourceLanguage, source_language_)
TWTRANSL_GETTER(std::string, CurrentLanguage, current_language_)
TWTRANSL_GETTER(std::string, DefaultLanguage, default_language_)
TWTRANSL_GETTER(uint8_t, CollectMode, collect_mode_)
TWTRANSL_GETTER(uint8_t, CollectFileMode, collect_file_mode_)
TWTRANSL_GETTER(std::vector<std::string>, CollectedTexts, collected_texts_)
TWTRANSL_GETTER(std::string, LoadError, load_error_)
#undef TWTRANSL_GETTER

void TWtransl::SetCurrentLanguage(std::string_view language) {
  RecursiveMutexLock lock(lock_);
  current_language_.assign(language);
}

// ---- Loading ----

int32_t TWtransl::LoadLanguageFile(const std::string& file, const std::string& source,
                                   const std::string& target) {
  std::optional<std::string> bytes;
  try {
    bytes = ReadLanguageFile(file);
  } catch (const std::exception& e) {
    // The file is there: its old pairs go, as when a read fails midway.
    dictionary_->Clear();
    load_error_ = "The language file " + file + " cannot be read: " + e.what();
    return -1;
  }
  if (!bytes) {
    load_error_.clear();
    return -1;  // no file: the dictionary keeps what it has
  }
  load_error_.clear();
  return ParseDictionary(*bytes, source, target);
}

int32_t TWtransl::LoadLanguageText(std::string_view bytes, const std::string& source,
                                   const std::string& target) {
  RecursiveMutexLock lock(lock_);
  if (!dictionary_) dictionary_ = std::make_unique<TWtranslLanguagesList>();
  loaded_key_ = source + target;
  entry_count_ = ParseDictionary(bytes, source, target);
  return entry_count_;
}

int32_t TWtransl::ParseDictionary(std::string_view bytes, const std::string& source,
                                  const std::string& target) {
  dictionary_->Clear();
  encoding_ = 0;
  font_charset_ = 1;
  bidi_mode_ = 0;
  locale_ = saved_locale_;
  if (platform::ThreadLocaleId() != locale_) platform::SetThreadLocaleId(locale_);

  TLanguageFileSettings settings;
  // A "//saveunused" above the pairs counts for them in this very read. A
  // text used before (the dictionary may have been released and read
  // again since) or listed already is not listed again.
  int32_t count = ParseLanguageFile(
      bytes, source, target, *dictionary_, settings,
      [&](std::string_view from) TARVEL_REQUIRES(lock_) {
        if (settings.collect_mode.value_or(collect_mode_) != cmUnused) return;
        const std::string text(from);
        if (used_texts_.count(text) || std::find(collected_texts_.begin(), collected_texts_.end(),
                                                 text) != collected_texts_.end())
          return;
        collected_texts_.push_back(text);
      });
  if (settings.collect_file_mode) collect_file_mode_ = *settings.collect_file_mode;
  if (settings.collect_mode) collect_mode_ = *settings.collect_mode;
  encoding_ = settings.encoding;
  font_charset_ = settings.font_charset;
  bidi_mode_ = settings.bidi_mode;
  if (settings.locale > 0) {
    locale_ = settings.locale;
    platform::SetThreadLocaleId(locale_);
    // Numbers, dates and times are written in that locale's formats from
    // now on (under the lock, as the whole load is).
    platform::UseFormatsOf(locale_);
  }
  return count;
}

// ---- One text ----

std::u16string TWtransl::LookupText(std::u16string_view old_text, bool* found,
                                    std::string* raw) const {
  RecursiveMutexLock lock(lock_);
  return LookupLocked(old_text, found, raw);
}

std::u16string TWtransl::LookupLocked(std::u16string_view old_text, bool* found,
                                      std::string* raw) const {
  *found = false;
  std::u16string result(old_text);
  const std::u16string_view t = TrimControls(old_text);
  if (t.empty() || !dictionary_) return result;

  bool has_ampersand = t.find(u'&') != std::u16string_view::npos;
  bool has_control = false;
  for (char16_t c : t) has_control |= c < 32;
  const std::u16string escaped = EscapeControls(t);
  std::u16string no_ampersand;
  for (char16_t c : escaped)
    if (c != u'&') no_ampersand += c;

  const std::string ansi_t = platform::WideToAnsi(t);
  const std::string* hit = dictionary_->ExactTexts.FindText(ansi_t);
  if (!hit && has_control) hit = dictionary_->ExactTexts.FindText(platform::WideToAnsi(escaped));
  if (!hit && no_ampersand.size() != escaped.size()) {
    hit = dictionary_->ExactTexts.FindText(platform::WideToAnsi(no_ampersand));
    if (hit) has_ampersand = true;
  }
  if (!hit) hit = dictionary_->LowerTexts.FindText(LowerAsciiLetters(ansi_t));
  if (!hit) return result;

  *found = true;
  if (raw) *raw = *hit;
  const std::u16string decoded = encoding_ == 1 ? Utf8ToWide(*hit) : platform::AnsiToWide(*hit);
  result.clear();
  for (size_t i = 0; i < decoded.size(); ++i) {
    const char16_t c = decoded[i];
    if (c == u'%' && has_control && i + 2 < decoded.size()) {
      const int hi = HexDigitValue(decoded[i + 1]);
      const int lo = HexDigitValue(decoded[i + 2]);
      if (hi >= 0 && lo >= 0) {
        result += static_cast<char16_t>(hi * 16 + lo);
        i += 2;
        continue;
      }
    }
    if (c == u'&' && !has_ampersand) continue;
    result += c;
  }
  return result;
}

TWtransl::TTranslated TWtransl::TranslateText(std::u16string_view old_text, TObject* object,
                                              const TPropInfo* pi) {
  RecursiveMutexLock lock(lock_);
  TTranslated r;
  std::string raw;
  r.text = LookupLocked(old_text, &r.found, &raw);
  if (OnPropertyTranslate) {
    const std::u16string old_value(old_text);
    OnPropertyTranslate(*this, object, pi, old_value, r.text, r.found, r.do_default);
  }
  if (collect_mode_ != cmOff) {
    r.do_default = false;
    CollectText(old_text, r.found, raw, object, pi);
  }
  if (!r.do_default) r.text.assign(old_text);
  return r;
}

// ---- The pass ----

bool TWtransl::Translate(const std::string& language, TObject* component, std::string* text,
                         const std::string& from) {
  // The release timer is stopped before the lock is taken and started again
  // after it is left: its tick takes the lock, so the lock is never held
  // across a call into the timer. A release that slips in before the lock
  // only makes this pass read the file again.
  try {
    release_timer_->SetEnabled(false);
  } catch (...) {
  }
  // Restarts the release timer after a pass that ran, also when an
  // exception passes. Made before the lock, so the lock is left first.
  struct PassEnd {
    TWtransl& self;
    bool ran = false;
    ~PassEnd() {
      if (!ran) return;
      try {
        self.release_timer_->SetEnabled(true);
      } catch (...) {
      }
    }
  } pass{*this};
  RecursiveMutexLock lock(lock_);

  const std::string source = from.empty() ? current_language_ : from;
  target_language_ = language;
  source_language_ = source;
  if (!dictionary_) {
    dictionary_ = std::make_unique<TWtranslLanguagesList>();
    loaded_key_.clear();
    entry_count_ = 0;
  }
  const std::string key = source + language;
  if (key != loaded_key_) {
    loaded_key_ = key;
    entry_count_ = LoadLanguageFile(language_file_, source, language);
  }
  if (collect_mode_ == cmOff && entry_count_ <= 0) return false;

  pass.ran = true;
  if (OnBeforeTranslate) OnBeforeTranslate(*this, dictionary_.get());
  if (component) {
    auto* as_component = dynamic_cast<TComponent*>(component);
    if (!as_component || as_component->Tag() != 9998) TranslateComponent(component);
    if (as_component) TranslateChildren(as_component);
  } else if (text) {
    const std::u16string old = platform::AnsiToWide(*text);
    TTranslated r = TranslateText(old, nullptr, nullptr);
    std::string ansi;
    if (r.do_default && r.text != old && TextFitsAnsi(r.text, &ansi)) *text = ansi;
  } else {
    Application().SetBiDiMode(bidi_mode_);
    TApplication& app = Application();
    for (int i = 0; i < app.ComponentCount(); ++i) {
      TComponent* form = app.Components(i);
      if (!form->InheritsFrom(TForm::StaticClass()) || form->Tag() == 9999) continue;
      if (form->Tag() != 9998) TranslateComponent(form);
      TranslateChildren(form);
      platform::ProcessPendingMessages();
    }
    current_language_ = language;
  }
  if (OnAfterTranslate) OnAfterTranslate(*this, dictionary_.get());
  return true;
}

void TWtransl::ReleaseDictionary() {
  try {
    release_timer_->SetEnabled(false);
  } catch (...) {
  }
  RecursiveMutexLock lock(lock_);
  entry_count_ = 0;
  loaded_key_.clear();
  dictionary_.reset();
}

std::string TWtransl::GetLanguages(std::vector<std::string>* list) {
  if (list) list->clear();
  const std::string file = LanguageFile();
  std::string default_language;
  try {
    std::optional<std::string> bytes = ReadLanguageFile(file);
    if (bytes) {
      std::string_view text(*bytes);
      if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
      TBigIniFile ini("");
      ini.LoadFromString(text);
      default_language = ini.ReadString("Languages", "Default", "");
      std::vector<std::string> keys;
      ini.ReadSection("Languages", keys);
      for (const std::string& key : keys) {
        if (key.empty() || key[0] != '$') continue;
        const std::string value = ini.ReadString("Languages", key, "");
        if (!value.empty() && list) list->push_back(key.substr(1, 255) + "," + value);
      }
    }
  } catch (const std::exception& e) {
    RecursiveMutexLock lock(lock_);
    load_error_ = "The language file " + file + " cannot be read: " + e.what();
  }
  RecursiveMutexLock lock(lock_);
  default_language_ = default_language;
  return default_language;
}

}  // namespace tarvel
