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
// Class descriptor

const TClassInfo& TvopPlugin::StaticClass() {
  static const TClassInfo info = [] {
    TClassInfo c{"TvopPlugin", &TComponent::StaticClass(), {}};
    auto text = [](const char* name, std::string TvopPlugin::*member) {
      return FieldProperty<TvopPlugin>(name, member);
    };
    auto shared = [](const char* name, TSharedText TvopPlugin::*member) {
      TPropInfo p;
      p.name = name;
      p.kind = tkString;
      p.get = [member](const TObject& o) {
        return OleVariant::AnsiString((static_cast<const TvopPlugin&>(o).*member).Get());
      };
      p.set = [member](TObject& o, const OleVariant& v) {
        (static_cast<TvopPlugin&>(o).*member).Set(v.ToAnsi());
      };
      return p;
    };
    TPropInfo min_version;
    min_version.name = "MinVersion";
    min_version.kind = tkFloat;
    min_version.get = [](const TObject& o) {
      return OleVariant(static_cast<double>(static_cast<const TvopPlugin&>(o).MinVersion));
    };
    min_version.set = [](TObject& o, const OleVariant& v) {
      static_cast<TvopPlugin&>(o).MinVersion = static_cast<float>(v.AsDouble().value_or(0));
    };
    c.properties = {
        text("Description", &TvopPlugin::Description),
        text("LogTitle", &TvopPlugin::LogTitle),
        text("EventsSupported", &TvopPlugin::EventsSupported),
        min_version,
        FieldProperty<TvopPlugin>("IsMultiThreadSupported", &TvopPlugin::IsMultiThreadSupported),
        shared("MsgNoData", &TvopPlugin::MsgNoData),
        shared("MsgWriteComplete", &TvopPlugin::MsgWriteComplete),
        shared("MsgWriteCompleteError", &TvopPlugin::MsgWriteCompleteError)};
    return c;
  }();
  return info;
}

// ---------------------------------------------------------------------------
// Construction and destruction

TvopPlugin::TvopPlugin(PPluginCallRec rec) {
  host_.SetTemporaryLoad(!rec || !rec->Params);
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
    module_file_name_ = path.filename().string();
    module_dir_ = path.parent_path().string();
  } catch (...) {
  }
#ifdef _WIN32
  module_dir_ += '\\';
#else
  module_dir_ += '/';
#endif
  SetUpTranslator();
}

void TvopPlugin::AfterConstruction() {
  Loaded();
  if (Translator() && !LanguageFile().empty()) TranslateSelf();
  if (OnCreate) OnCreate(*this);
}

TvopPlugin::~TvopPlugin() {
  // No notice is repeated from here on: the timer goes before the queues.
  events_.StopNotices();
  try {
    if (OnDestroy) OnDestroy(*this);
  } catch (...) {
  }
  items_text_.clear();
  parser_items_.clear();
  data_sources_.clear();
  language_.DropTranslator();
  custom_commands_.Clear();
  // An instance destroyed while loaded still owns its row lists.
  events_.Close(result_rows_.exchange(nullptr), false);
  host_.ReleaseIcon();
}

}  // namespace tarvel
