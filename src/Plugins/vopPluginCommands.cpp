// The command protocol: ExecuteCommand and the commands it dispatches
// (LOAD, UNLOAD, SET-ITEMS, SET-STATE, ITEMS, EVENTS-SUPPORT, EVENT, the
// settings commands and the plug-in's custom commands), in that order.
//
// Threads: commands on one instance run one at a time under its command
// lock; a command issued from inside another on the same thread is refused
// with the nested-command assertion. Data calls run beside commands; the
// row lists they use are freed only after them (Plugins/vopPluginData.cpp).
#include <algorithm>
#include <optional>

#include "Common/Assert.h"
#include "Plugins/vopPluginInternal.h"
#include "Plugins/vopPluginModule.h"
#include "platform/module.h"

namespace tarvel {

using namespace plugin_detail;

namespace {

constexpr int kLineNestedCommand = 1942;

}  // namespace

void StoreItemValue(const TvopParamsList& list, TvopParamsListItem* item, OleVariant value) {
  if (list.IsModuleList()) {
    OleVariant::CopyInto(&item->Value, value.Raw());
    return;
  }
  if (item->Value.vt != platform::VT_ANSISTRING) platform::VariantClear(&item->Value);
  item->Value = value.Detach();
}

// ---------------------------------------------------------------------------
// Commands

int32_t TvopPlugin::ExecuteCommand(const std::string& command, PPluginCallRec rec) {
  {
    RecursiveMutexLock lock(host_.CommandLock());
    if (command_depth_.fetch_add(1) + 1 == 1) {
      struct DepthGuard {
        std::atomic<int32_t>& depth;
        ~DepthGuard() { depth.fetch_sub(1); }
      } depth_guard{command_depth_};
      return RunCommand(command, rec);
    }
    command_depth_.fetch_sub(1);
  }
  // Nested in a command of this thread: refused once the lock is let go.
  AssertionFailure(kSource, kLineNestedCommand);
}

int32_t TvopPlugin::RunCommand(const std::string& command, PPluginCallRec rec) {
  int32_t result = kResultNotHandled;
  const TvopParamsList* params = rec->Params;
  // Taken here, under the lock, so that a command on another thread never
  // sees this one's value.
  ReadTemporaryLoad(params);
  ApplyLanguageParam(params);
  // Both handles are converted before either is taken, so a value that
  // does not convert fails the command and leaves the instance's handles
  // as they were (a 0 stored instead would silence the host's notices).
  std::optional<platform::WindowHandle> host_window, owner_window;
  if (params) {
    OleVariant host = params->GetParamValue("MessagesProcessorHandle");
    if (Present(host)) host_window = HandleParam(host, "MessagesProcessorHandle");
    owner_window = ReadOwnerWindow(params);
  }
  if (host_window && host_.SetWindow(*host_window)) {
    // A notice that went to another window may never be answered.
    events_.ForgetNotice();
  }
  if (owner_window) host_.SetOwnerWindow(*owner_window);
  // A language file that could not be read was met before the host window
  // was known (at creation, or by this command's LANGUAGE): say so now.
  ReportLanguageProblems();

  if (command == "LOAD") {
    try {
      DoLoad(rec);
      result = kResultOk;
    } catch (...) {
      result = kResultException;
    }
  } else if (command == "UNLOAD") {
    try {
      DoUnload(rec);
      result = kResultOk;
    } catch (...) {
      result = kResultException;
    }
  } else if (command == "SET-ITEMS") {
    OleVariant items = params ? params->GetParamValue("ITEMS") : OleVariant();
    if (items.IsText()) {
      SetParserItems(items.ToAnsi());
      if (OnSetParserItems) OnSetParserItems(*this);
      result = kResultOk;
    } else {
      result = kResultInvalid;
    }
  } else if (command == "SET-STATE") {
    result = DoSetState(rec);
  } else if (command == "ITEMS") {
    TvopParamsListItem* slot = params ? params->ItemByName("RESULT") : nullptr;
    if (!slot) {
      result = kResultInvalid;
    } else {
      if (OnBeforeGetParserItems) OnBeforeGetParserItems(*this);
      items_text_ = GetParserItemsText();
      StoreItemValue(*params, slot, OleVariant(items_text_));
      result = kResultOk;
    }
  } else if (command == "EVENTS-SUPPORT") {
    if (TvopParamsListItem* slot = params ? params->ItemByName("RESULT") : nullptr)
      StoreItemValue(*params, slot, OleVariant(EventsSupported));
    result = kResultOk;
  } else if (command == "EVENT") {
    OleVariant type = params ? params->GetParamValue("EVENT-TYPE") : OleVariant();
    if (!Present(type)) {
      result = kResultInvalid;
    } else if (!OnEvent) {
      result = kResultOk;
    } else {
      try {
        int32_t r = kResultInvalid;
        const std::string event_type = type.ToAnsi();
        OnEvent(*this, event_type, rec, r);
        result = r;
      } catch (...) {
        result = kResultException;
      }
    }
  } else if (command == "SAVE-SETTINGS-NOW") {
    result = DoSettingsCommand(rec, false);
  } else if (command == "LOAD-SETTINGS-NOW") {
    result = DoSettingsCommand(rec, true);
  } else if (OnExecuteCustomCommand) {
    try {
      int32_t r = kResultNotHandled;
      OnExecuteCustomCommand(*this, command, rec, r);
      result = r;
    } catch (...) {
      result = kResultException;
    }
  }
  return result;
}

int32_t TvopPlugin::DoLoad(PPluginCallRec rec) {
  if (load_count_.fetch_add(1) + 1 > 1) return kResultOk;  // nested: only counts
  const TvopParamsList* params = rec->Params;
  // A HANDLE that does not convert fails the LOAD before anything changes:
  // the count goes back, so the host's next LOAD is a first one again.
  std::optional<platform::ModuleHandle> handle;
  try {
    if (params) {
      OleVariant value = params->GetParamValue("HANDLE");
      if (Present(value)) handle = HandleParam(value, "HANDLE");
    }
  } catch (...) {
    load_count_.fetch_sub(1);
    throw;
  }
  host_.Load(rec->HostTag, params, handle);
  ReadIniFileParam(params, true);
  if (!result_rows_.load()) result_rows_ = TvopParamsList::Create(kRowsParamsListClass);
  events_.Open();
  host_.BindModule();
  gate_.Open();
  int32_t result = kResultOk;
  if (OnLoad) OnLoad(*this, rec, result);
  return result;
}

int32_t TvopPlugin::DoUnload(PPluginCallRec rec) {
  int32_t count = load_count_.fetch_sub(1) - 1;
  if (count < 0) {
    load_count_ = 0;
    return kResultOk;
  }
  if (count > 0) return kResultOk;  // nested: only counts
  gate_.Close();
  std::fill(std::begin(module_type_state_), std::end(module_type_state_), false);
  host_.ReleaseIcon();
  std::string ini = TextParam(rec->Params, "INI-FILE");
  if (ini != host_.IniFile()) {
    host_.SetIniFile(ini);
    try {
      if (OnSaveSettingsNow) OnSaveSettingsNow(*this);
    } catch (...) {
    }
  }
  try {
    int32_t result = kResultOk;
    if (OnUnload) OnUnload(*this, rec, result);
  } catch (...) {
  }
  FreeRowLists();
  host_.Unload();
  return kResultOk;
}

int32_t TvopPlugin::DoSetState(PPluginCallRec rec) {
  const TvopParamsList* params = rec->Params;
  OleVariant sources = params ? params->GetParamValue("DATA-SOURCES-IN-CFG") : OleVariant();
  if (Present(sources)) {
    data_sources_.clear();
    for (const std::string& line : SplitLines(sources.ToAnsi())) {
      try {
        std::vector<std::string> fields = SplitFields(line, ';');
        auto field = [&](size_t i) {
          return i < fields.size() ? std::string(TrimControls(fields[i])) : std::string();
        };
        std::string id_text = field(0);
        int32_t id = -1;
        if (!id_text.empty()) {
          size_t used = 0;
          long long v = std::stoll(id_text, &used, 10);
          if (used == id_text.size() && v >= INT32_MIN && v <= INT32_MAX)
            id = static_cast<int32_t>(v);
        }
        if (id == -1) continue;
        auto source = std::make_unique<TConfigDataSource>();
        source->Id = id;
        source->Text2 = field(1);
        source->Text3 = field(2);
        data_sources_.push_back(std::move(source));
      } catch (...) {
        // A line that cannot be read is skipped; the others stand.
      }
    }
  }
  OleVariant state_value = params ? params->GetParamValue("RESULT") : OleVariant();
  if (!Present(state_value)) return kResultInvalid;
  // A RESULT that is no number fails the command; the roles keep their state.
  const auto state = static_cast<int32_t>(IntegerParam(state_value, "RESULT"));
  for (int role = 0; role < 8; ++role)
    if (rec->ModuleTypes & (1u << role)) module_type_state_[role] = (state == 1);
  if (OnStateChanged) OnStateChanged(*this, rec->ModuleTypes);
  return kResultOk;
}

int32_t TvopPlugin::DoSettingsCommand(PPluginCallRec rec, bool load_first) {
  // The command's INI-FILE holds for the command only, also when a handler
  // throws.
  const std::string remembered = host_.IniFile();
  host_.SetIniFile(TextParam(rec->Params, "INI-FILE"));
  try {
    if (load_first) {
      if (OnLoadSettingsNow) OnLoadSettingsNow(*this);
      host_.SetIniFile(remembered);
    }
    if (OnSaveSettingsNow) OnSaveSettingsNow(*this);
  } catch (...) {
    host_.SetIniFile(remembered);
    throw;
  }
  host_.SetIniFile(remembered);
  return kResultNotHandled;
}

}  // namespace tarvel
