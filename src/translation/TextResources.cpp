#include "translation/TextResources.h"

#include "platform/text.h"
#include "translation/Translator.h"

namespace tarvel {

const TClassInfo& TCustomTextResources::StaticClass() {
  static const TClassInfo info{"TCustomTextResources", &TComponent::StaticClass(), {}};
  return info;
}

TCustomTextResources::TCustomTextResources(TComponent* owner) : TComponent(owner) {
  SetTag(kTag);
}

TCustomTextResources::~TCustomTextResources() {
  MutexLock lock(mu_);
  texts_.clear();
}

size_t TCustomTextResources::AddText(std::string_view source) {
  MutexLock lock(mu_);
  texts_.push_back(Entry{std::string(source), std::string(source)});
  return texts_.size() - 1;
}

size_t TCustomTextResources::Count() const {
  MutexLock lock(mu_);
  return texts_.size();
}

std::string TCustomTextResources::Text(size_t index) const {
  MutexLock lock(mu_);
  return index < texts_.size() ? texts_[index].shown : std::string();
}

std::string TCustomTextResources::SourceText(size_t index) const {
  MutexLock lock(mu_);
  return index < texts_.size() ? texts_[index].source : std::string();
}

void TCustomTextResources::SetText(size_t index, std::string_view source) {
  MutexLock lock(mu_);
  if (index >= texts_.size()) return;
  texts_[index].source.assign(source);
  texts_[index].shown.assign(source);
}

void TCustomTextResources::ResetToSource() {
  MutexLock lock(mu_);
  for (Entry& e : texts_) e.shown = e.source;
}

void TCustomTextResources::TranslateTexts(TWtransl& translator, TWtranslLanguagesList*) {
  const size_t n = Count();
  for (size_t i = 0; i < n; ++i) {
    try {
      const std::string source = SourceText(i);
      TWtransl::TTranslated r =
          translator.TranslateText(platform::AnsiToWide(source), nullptr, nullptr);
      std::string shown;
      if (!TextFitsAnsi(r.text, &shown)) shown = source;
      MutexLock lock(mu_);
      if (i < texts_.size() && texts_[i].source == source) texts_[i].shown = std::move(shown);
    } catch (...) {
      // One text's failure leaves it as it was; the others still follow.
    }
  }
  Changed();
}

void TCustomTextResources::Changed() {
  if (OnChange) OnChange(*this);
}

}  // namespace tarvel
