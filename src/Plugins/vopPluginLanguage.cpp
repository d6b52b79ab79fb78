// The module's language as the instance uses it: the language state
// (Plugins/LanguageState.h) translates, the instance tells the plug-in of
// a change and sends the host the reports of a language file that could
// not be used.
//
// A language file that is there but cannot be read leaves the module in
// English with one log line naming the file and the reason; log lines
// reach the host only once its window is known, so the line waits for it.
//
// Threads: commands (under the command lock) and ShowOptionsDialog (without
// it) may both change the language; the language state serialises them.
#include "Plugins/vopPluginModule.h"

namespace tarvel {

void TvopPlugin::SetUpTranslator() {
  language_.SetUp(module_path_);
}

void TvopPlugin::ChangeLanguage(const std::string& language) {
  if (!language_.Change(language)) return;
  try {
    if (OnChangeLanguage) OnChangeLanguage(*this);
  } catch (...) {
  }
}

void TvopPlugin::TranslateSelf() {
  language_.TranslateSelf();
}

void TvopPlugin::AddTextResources(TCustomTextResources* texts) {
  language_.AddTextResources(texts);
}

bool TvopPlugin::ApplyTranslation(TComponent* component) {
  return language_.Apply(component);
}

void TvopPlugin::ReportLanguageProblems() {
  if (!host_.Window()) return;
  for (const std::string& report : language_.TakeReports()) SendLog(1, report);
}

}  // namespace tarvel
