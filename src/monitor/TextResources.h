// TTextResources: the monitor's translatable log texts.
#pragma once

#include <string>

#include "settings/Components.h"

namespace tarvel {

class TTextResources : public TComponent {
 public:
  explicit TTextResources(TComponent* owner = nullptr) : TComponent(owner) { SetName("TextRes"); }
  std::string GeneratingEventText = "Generating event";
  std::string TimeoutText = "Timeout";
};

}  // namespace tarvel
