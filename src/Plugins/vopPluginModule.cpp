// TvopPlugin's construction and destruction: the module's identity (version
// text, module path and directory, language file) and the order in which
// an instance takes up and gives back what it owns.
//
// Threads: construction runs under the instance table's exclusive lock
// (Plugins/vopPluginInstances.cpp); destruction runs where the last holder
// of the instance lets it go.
#include "Plugins/vopPluginModule.h"

#include <filesystem>

#include "Plugins/vopPluginInternal.h"
#include "platform/module.h"

namespace tarvel {

using namespace plugin_detail;

// ---------------------------------------------------------------------------
// Construction and destruction

TvopPlugin::TvopPlugin(PPluginCallRec rec) {
  temporary_load_ = !rec || !rec->Params;
  if (rec) ReadTemporaryLoad(rec->Params);

  try {
    platform::VersionNumbers v = platform::OwnModuleVersion();
    if (v.major || v.minor || v.release || v.build) {
      version_text_ = std::to_string(v.major) + "." + std::to_string(v.minor) + "." +
                      std::to_string(v.release) + " build " + std::to_string(v.build);
    }
  } catch (...) {
    version_text_.clear();
  }

  module_path_ = platform::OwnModulePath();
  namespace fs = std::filesystem;
  try {
    fs::path path(module_path_);
    language_file_ = fs::path(path).replace_extension(".lng").string();
    std::error_code ec;
    if (!fs::exists(language_file_, ec)) language_file_.clear();
    module_file_name_ = path.filename().string();
    module_dir_ = path.parent_path().string();
  } catch (...) {
    language_file_.clear();
  }
#ifdef _WIN32
  module_dir_ += '\\';
#else
  module_dir_ += '/';
#endif
}

void TvopPlugin::AfterConstruction() {
  Loaded();
  if (OnCreate) OnCreate(*this);
}

TvopPlugin::~TvopPlugin() {
  try {
    if (OnDestroy) OnDestroy(*this);
  } catch (...) {
  }
  items_text_.clear();
  parser_items_.clear();
  data_sources_.clear();
  custom_commands_.Clear();
  // An instance destroyed while loaded still owns its row lists.
  std::lock_guard<std::mutex> lock(events_mutex_);
  TvopParamsList::Destroy(result_rows_.exchange(nullptr));
  TvopParamsList::Destroy(events_);
  TvopParamsList::Destroy(pending_events_);
  if (holds_host_icon_) ReleaseHostIcon();
}

}  // namespace tarvel
