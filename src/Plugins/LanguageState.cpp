// The language state's work under its lock. The messages are shared texts,
// the text resources guard their own texts: data calls and the check timer
// read them while a pass replaces them.
#include "Plugins/LanguageState.h"

#include <algorithm>
#include <filesystem>
#include <utility>

namespace tarvel {

namespace {

constexpr const char* kSourceLanguage = "EN";
constexpr const char* kNoLanguage = "NONE";

bool IsTextKind(TTypeKind kind) {
  return kind == tkString || kind == tkLString || kind == tkWString;
}

}  // namespace

LanguageState::LanguageState(TComponent& owner, std::function<void()> on_problem)
    : owner_(owner), on_problem_(std::move(on_problem)) {}

void LanguageState::SetUp(const std::string& module_path) {
  translator_ = std::make_unique<TWtransl>();
  namespace fs = std::filesystem;
  RecursiveMutexLock lock(mu_);
  try {
    file_ = fs::path(module_path).replace_extension(".lng").string();
  } catch (...) {
    file_.clear();
  }
  translator_->SetLanguageFile(file_);
  translator_->SetCurrentLanguage(kSourceLanguage);
  language_ = kSourceLanguage;
  std::error_code ec;
  if (!file_.empty() && fs::exists(fs::path(file_), ec)) {
    // A file that names no default keeps English, so that LANGUAGE is
    // still followed (an empty language would ignore it for good).
    const std::string default_language = translator_->GetLanguages(nullptr);
    if (!default_language.empty()) language_ = default_language;
    NoteProblem(translator_->LoadError());
  } else {
    file_.clear();
    translator_->SetLanguageFile("");
  }
  for (const char* name : {"MsgNoData", "MsgWriteComplete", "MsgWriteCompleteError"})
    translator_->AddComponentProperty(name);
}

std::string LanguageState::Language() const {
  RecursiveMutexLock lock(mu_);
  return language_;
}

bool LanguageState::Change(const std::string& language) {
  RecursiveMutexLock lock(mu_);
  if (language_.empty() || language.empty() || language == language_) return false;
  language_ = language;
  applied_ = false;
  TranslateSelf();
  return true;
}

void LanguageState::TranslateSelf() {
  RecursiveMutexLock lock(mu_);
  if (applied_ || language_.empty()) return;
  // Applied whatever happens: a pass that failed is not repeated for the
  // same language.
  try {
    TranslatePass();
  } catch (...) {
    applied_ = true;
    throw;
  }
  applied_ = true;
}

void LanguageState::TranslatePass() {
  try {
    TranslateOwnTexts();
    // The texts of the module's text resources, each from its source.
    for (TCustomTextResources* texts : text_resources_) {
      texts->ResetToSource();
      if (!Apply(texts)) texts->Changed();
    }
  } catch (const std::exception& e) {
    NoteProblem(std::string("Translation into ") + language_ + " failed: " + e.what());
  } catch (...) {
    NoteProblem("Translation into " + language_ + " failed");
  }
}

void LanguageState::AddTextResources(TCustomTextResources* texts) {
  RecursiveMutexLock lock(mu_);
  text_resources_.push_back(texts);
  texts->ResetToSource();
  if (!Apply(texts)) texts->Changed();
}

bool LanguageState::Apply(TComponent* component) {
  RecursiveMutexLock lock(mu_);
  if (language_.empty()) language_ = kNoLanguage;
  if (!translator_) return false;
  const bool ran = translator_->Translate(language_, component, nullptr, kSourceLanguage);
  NoteProblem(translator_->LoadError());
  return ran;
}

void LanguageState::TranslateOwnTexts() {
  // Text by text, not a walk over the module: a walk would also reach the
  // components the module owns, such as an options dialog that another
  // thread is showing.
  for (const std::string& name : translator_->ComponentProperties()) {
    const TPropInfo* pi = LookupProperty(owner_, name);
    if (!pi || !IsTextKind(pi->kind) || !pi->get || !pi->set) continue;
    const std::string current = ReadPropertyValue(owner_, pi->name).ToAnsi();
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
    NoteProblem(translator_->LoadError());
    if (text != current) WritePropertyValue(owner_, pi->name, OleVariant(text));
    it->shown = text;
  }
}

void LanguageState::NoteProblem(const std::string& problem) {
  {
    RecursiveMutexLock lock(mu_);
    if (problem.empty() || problem == last_problem_) return;
    last_problem_ = problem;
    reports_.push_back(problem + "; the texts stay in English");
  }
  on_problem_();
}

std::vector<std::string> LanguageState::TakeReports() {
  std::vector<std::string> reports;
  RecursiveMutexLock lock(mu_);
  reports.swap(reports_);
  return reports;
}

}  // namespace tarvel
