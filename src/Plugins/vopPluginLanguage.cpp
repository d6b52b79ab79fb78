// The module's language: its translator (created with the instance, its
// language file beside the module: tarvel.dll -> tarvel.lng), the language
// the host names (LANGUAGE), and translating into it the module's own
// texts (its text properties named in the translator's property list: the
// three messages), its text resources (the log texts) and the dialogs it
// shows.
//
// Every change of language translates from the English source texts: a
// text already in German would not be found in an English-to-French
// dictionary, and a language without translations (English, or one the
// file lacks) must bring the English texts back.
//
// A language file that is there but cannot be read leaves the module in
// English with one log line naming the file and the reason; log lines
// reach the host only once its window is known, so the line waits for it.
//
// Threads: commands (under the command lock) and ShowOptionsDialog (without
// it) may both change the language; language_mu_ serialises them, and the
// translator holds its own lock during a pass. The messages are shared
// texts, the text resources guard their own texts: data calls and the
// check timer read them while a pass replaces them.
#include <filesystem>

#include "Plugins/vopPluginModule.h"
#include "translation/TextResources.h"

namespace tarvel {

namespace {

constexpr const char* kSourceLanguage = "EN";
constexpr const char* kNoLanguage = "NONE";

bool IsTextKind(TTypeKind kind) {
  return kind == tkString || kind == tkLString || kind == tkWString;
}

}  // namespace

void TvopPlugin::SetUpTranslator() {
  translator_ = std::make_unique<TWtransl>();
  namespace fs = std::filesystem;
  std::lock_guard<std::recursive_mutex> lock(language_mu_);
  try {
    language_file_ = fs::path(module_path_).replace_extension(".lng").string();
  } catch (...) {
    language_file_.clear();
  }
  translator_->SetLanguageFile(language_file_);
  translator_->SetCurrentLanguage(kSourceLanguage);
  language_ = kSourceLanguage;
  std::error_code ec;
  if (!language_file_.empty() && fs::exists(fs::path(language_file_), ec)) {
    // A file that names no default keeps English, so that LANGUAGE is
    // still followed (an empty language would ignore it for good).
    const std::string default_language = translator_->GetLanguages(nullptr);
    if (!default_language.empty()) language_ = default_language;
    NoteTranslatorProblem(translator_->LoadError());
  } else {
    language_file_.clear();
    translator_->SetLanguageFile("");
  }
  for (const char* name : {"MsgNoData", "MsgWriteComplete", "MsgWriteCompleteError"})
    translator_->AddComponentProperty(name);
}

std::string TvopPlugin::Language() const {
  std::lock_guard<std::recursive_mutex> lock(language_mu_);
  return language_;
}

void TvopPlugin::ChangeLanguage(const std::string& language) {
  {
    std::lock_guard<std::recursive_mutex> lock(language_mu_);
    if (language_.empty() || language.empty() || language == language_) return;
    language_ = language;
    language_applied_ = false;
    TranslateSelf();
  }
  try {
    if (OnChangeLanguage) OnChangeLanguage(*this);
  } catch (...) {
  }
}

void TvopPlugin::TranslateSelf() {
  std::lock_guard<std::recursive_mutex> lock(language_mu_);
  if (language_applied_ || language_.empty()) return;
  struct Applied {
    bool& flag;
    ~Applied() { flag = true; }
  } applied{language_applied_};
  try {
    TranslateOwnTexts();
    // The texts of the module's text resources, each from its source.
    for (TCustomTextResources* texts : text_resources_) {
      texts->ResetToSource();
      if (!ApplyTranslation(texts)) texts->Changed();
    }
  } catch (const std::exception& e) {
    NoteTranslatorProblem(std::string("Translation into ") + language_ + " failed: " + e.what());
  } catch (...) {
    NoteTranslatorProblem("Translation into " + language_ + " failed");
  }
}

void TvopPlugin::AddTextResources(TCustomTextResources* texts) {
  std::lock_guard<std::recursive_mutex> lock(language_mu_);
  text_resources_.push_back(texts);
  texts->ResetToSource();
  if (!ApplyTranslation(texts)) texts->Changed();
}

bool TvopPlugin::ApplyTranslation(TComponent* component) {
  std::lock_guard<std::recursive_mutex> lock(language_mu_);
  if (language_.empty()) language_ = kNoLanguage;
  if (!translator_) return false;
  const bool ran = translator_->Translate(language_, component, nullptr, kSourceLanguage);
  NoteTranslatorProblem(translator_->LoadError());
  return ran;
}

void TvopPlugin::TranslateOwnTexts() {
  // Text by text, not a walk over the module: a walk would also reach the
  // components the module owns, such as an options dialog that another
  // thread is showing.
  for (const std::string& name : translator_->ComponentProperties()) {
    const TPropInfo* pi = LookupProperty(*this, name);
    if (!pi || !IsTextKind(pi->kind) || !pi->get || !pi->set) continue;
    const std::string current = ReadPropertyValue(*this, pi->name).ToAnsi();
    auto it = std::find_if(own_texts_.begin(), own_texts_.end(),
                           [&](const OwnText& t) { return t.name == pi->name; });
    if (it == own_texts_.end()) {
      own_texts_.push_back(OwnText{pi->name, current, current});
      it = own_texts_.end() - 1;
    } else if (current != it->shown) {
      it->source = current;  // the plug-in set a new text since the last pass
    }
    std::string text = it->source;
    if (language_.empty()) language_ = kNoLanguage;
    translator_->Translate(language_, nullptr, &text, kSourceLanguage);
    NoteTranslatorProblem(translator_->LoadError());
    if (text != current) WritePropertyValue(*this, pi->name, OleVariant(text));
    it->shown = text;
  }
}

void TvopPlugin::NoteTranslatorProblem(const std::string& problem) {
  {
    std::lock_guard<std::recursive_mutex> lock(language_mu_);
    if (problem.empty() || problem == last_language_problem_) return;
    last_language_problem_ = problem;
    language_reports_.push_back(problem + "; the texts stay in English");
  }
  ReportLanguageProblems();
}

void TvopPlugin::ReportLanguageProblems() {
  if (!host_window_.load()) return;
  std::vector<std::string> reports;
  {
    std::lock_guard<std::recursive_mutex> lock(language_mu_);
    reports.swap(language_reports_);
  }
  for (const std::string& report : reports) SendLog(1, report);
}

}  // namespace tarvel
