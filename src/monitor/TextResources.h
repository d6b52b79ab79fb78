// TTextResources: the monitor's translatable log texts, "Generating event"
// (an event is raised) and "Timeout" (a watch timed out), in the language
// of the module (translation/TextResources.h).
#pragma once

#include <string>

#include "translation/TextResources.h"

namespace tarvel {

class TTextResources : public TCustomTextResources {
 public:
  explicit TTextResources(TComponent* owner = nullptr) : TCustomTextResources(owner) {
    SetName("TextRes");
    AddText("Generating event");
    AddText("Timeout");
  }
  static const TClassInfo& StaticClass() {
    static const TClassInfo info{"TTextResources", &TCustomTextResources::StaticClass(), {}};
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClass(); }

  std::string GeneratingEventText() const { return Text(0); }
  std::string TimeoutText() const { return Text(1); }
};

}  // namespace tarvel
