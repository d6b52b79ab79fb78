// The custom command list rendered for the host's GetCustomCommands.
#include "Plugins/vopPluginCustomCmd.h"

namespace tarvel {

std::string GetCustomCommandsText(const TvopPluginCustomCmdList& list) {
  std::string out;
  for (int i = 0; i < list.Count(); ++i) {
    const TvopPluginCustomCmd* c = list[i];
    out += c->Field1 + "|" + c->Field2 + "|" + c->Field3 + "|" + std::to_string(c->Number1) + "|" +
           std::to_string(c->Number2) + "\r\n";
  }
  return out;
}

}  // namespace tarvel
