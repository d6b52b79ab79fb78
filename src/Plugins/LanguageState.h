// LanguageState: the module's language. Its translator (created with the
// instance, its language file beside the module: tarvel.dll -> tarvel.lng),
// the language the host names, and translating into it the module's own
// texts (its text properties named in the translator's property list: the
// three messages), its text resources (the log texts) and the dialogs it
// shows.
//
// Every change of language translates from the English source texts: a
// text already in German would not be found in an English-to-French
// dictionary, and a language without translations (English, or one the
// file lacks) must bring the English texts back.
//
// A problem of the language file (one that is there but cannot be read, a
// pass that failed) is noted once per distinct problem as a report that
// waits for the host's window; on_problem then runs, and the owner sends
// the reports when it can (TakeReports).
//
// Threads: commands (under the command lock) and ShowOptionsDialog
// (without it) may both change the language; the state's re-entrant lock
// serialises them, and is held for a whole pass, on_problem included. The
// translator holds its own lock during a pass. The translator and the
// language file are set up at construction and not changed after it, and
// read without the lock.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Common/ThreadSafety.h"
#include "components/Components.h"
#include "translation/TextResources.h"
#include "translation/Translator.h"

namespace tarvel {

class LanguageState {
 public:
  // owner: the module whose text properties are its own texts.
  LanguageState(TComponent& owner, std::function<void()> on_problem);
  LanguageState(const LanguageState&) = delete;
  LanguageState& operator=(const LanguageState&) = delete;

  // SetUp makes the translator for the language file beside module_path,
  // and takes the file's default language; once, at construction.
  void SetUp(const std::string& module_path);
  // DropTranslator ends the translator as the module goes.
  void DropTranslator() { translator_.reset(); }
  TWtransl* Translator() const { return translator_.get(); }
  // File: the language file; empty when there is none.
  const std::string& File() const { return file_; }

  std::string Language() const;
  // Change makes language (not empty, not the current one) the module's
  // language and translates the module into it; false when nothing changed.
  bool Change(const std::string& language);
  // TranslateSelf translates the own texts and the text resources into the
  // language, each time from their source texts; once per language.
  void TranslateSelf();
  // AddTextResources makes texts follow the module's language, and
  // translates them now.
  void AddTextResources(TCustomTextResources* texts);
  // Apply translates a component from English into the language; true when
  // a pass ran.
  bool Apply(TComponent* component);
  // TakeReports hands out the reports that wait for the host.
  std::vector<std::string> TakeReports();

 private:
  struct OwnText {
    std::string name, source, shown;
  };
  // TranslatePass: the own texts, then the text resources.
  void TranslatePass() TARVEL_REQUIRES(mu_);
  void TranslateOwnTexts() TARVEL_REQUIRES(mu_);
  void NoteProblem(const std::string& problem);

  TComponent& owner_;
  const std::function<void()> on_problem_;
  std::unique_ptr<TWtransl> translator_;
  std::string file_;
  mutable RecursiveMutex mu_;
  std::string language_ TARVEL_GUARDED_BY(mu_) = "EN";
  bool applied_ TARVEL_GUARDED_BY(mu_) = false;
  std::vector<OwnText> own_texts_ TARVEL_GUARDED_BY(mu_);
  // Owned as components of the module.
  std::vector<TCustomTextResources*> text_resources_ TARVEL_GUARDED_BY(mu_);
  std::vector<std::string> reports_ TARVEL_GUARDED_BY(mu_);  // waiting for a host window
  std::string last_problem_ TARVEL_GUARDED_BY(mu_);
};

}  // namespace tarvel
