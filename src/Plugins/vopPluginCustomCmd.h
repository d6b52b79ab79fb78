// Custom commands a menu-extension module offers the host.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tarvel {

struct TvopPluginCustomCmd {
  std::string Field1, Field2, Field3;
  uint8_t Number1 = 0;
  uint8_t Number2 = 0;
};

// TvopPluginCustomCmdList owns its descriptors: removing or clearing frees them.
class TvopPluginCustomCmdList {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  TvopPluginCustomCmd* operator[](int index) const {
    return items_[static_cast<size_t>(index)].get();
  }
  TvopPluginCustomCmd* Add(TvopPluginCustomCmd cmd) {
    items_.push_back(std::make_unique<TvopPluginCustomCmd>(std::move(cmd)));
    return items_.back().get();
  }
  void Delete(int index) { items_.erase(items_.begin() + index); }
  void Clear() { items_.clear(); }

 private:
  std::vector<std::unique_ptr<TvopPluginCustomCmd>> items_;
};

// GetCustomCommandsText renders every descriptor as
// Field1|Field2|Field3|Number1|Number2 followed by CR LF.
std::string GetCustomCommandsText(const TvopPluginCustomCmdList& list);

}  // namespace tarvel
