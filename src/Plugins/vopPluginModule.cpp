#include "Plugins/vopPluginModule.h"

#include <algorithm>
#include <filesystem>

#include "Common/Assert.h"
#include "Plugins/CrashReport.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "platform/thread.h"

namespace tarvel {

namespace {

constexpr const char* kSource = "Plugins/vopPluginModule";
constexpr int kLineNestedCommand = 1942;
constexpr int kLineDataParams = 1822;
constexpr int32_t kEventQueueLimit = 20000;
constexpr size_t kLogQueueLimit = 100;
constexpr uint32_t kHostSendTimeoutMs = 1000;
constexpr uint32_t kUnloadWaitMs = 30000;

bool Present(const OleVariant& v) {
  return !v.IsEmpty() && !v.IsNull();
}

std::string TextParam(const TvopParamsList* params, std::string_view name) {
  if (!params) return {};
  return params->GetParamValue(name).ToAnsi();
}

// Window handles travel as 32-bit integers; a handle above 2^31 arrives as
// a negative number.
uintptr_t HandleValue(const OleVariant& v) {
  auto n = v.AsInt64();
  if (!n) return 0;
  return static_cast<uintptr_t>(static_cast<uint32_t>(*n));
}

std::string_view TrimControls(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}

// Splits at every separator; an empty field after the last one is dropped.
std::vector<std::string> SplitFields(std::string_view line, char sep) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == sep) {
      out.emplace_back(line.substr(start, i - start));
      start = i + 1;
    }
  }
  if (start < line.size()) out.emplace_back(line.substr(start));
  return out;
}

const std::vector<std::string>& DataTypeNames() {
  static const std::vector<std::string> names = SplitFields(kParserDataTypeNames, '|');
  return names;
}

// Data calls running on this thread, per instance: an UNLOAD issued from
// inside one must not wait for itself.
thread_local std::vector<const TvopPlugin*> t_data_calls;

// The shared host icon.
std::mutex g_icon_mutex;
int g_icon_refs = 0;                   // guarded by g_icon_mutex
platform::IconHandle g_host_icon = 0;  // guarded by g_icon_mutex

}  // namespace

void StoreItemValue(const TvopParamsList& list, TvopParamsListItem* item, OleVariant value) {
  if (list.IsModuleList()) {
    OleVariant::CopyInto(&item->Value, value.Raw());
    return;
  }
  if (item->Value.vt != platform::VT_ANSISTRING) platform::VariantClear(&item->Value);
  item->Value = value.Detach();
}

const char* const kParserDataTypeNames =
    "String|Memo|Bytes|Blob|Boolean|Float|Smallint|Word|Integer|Date|Time|DateTime|DWord|Byte|"
    "Shortint|Int64|Currency|";

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

bool TvopPlugin::ReadTemporaryLoad(const TvopParamsList* params) {
  try {
    if (!params) return false;
    OleVariant v = params->GetParamValue("TEMPORARY-LOAD");
    if (!Present(v)) return false;
    auto b = v.AsBool();
    if (!b) return false;
    temporary_load_ = *b;
    return true;
  } catch (...) {
    return false;
  }
}

std::string TvopPlugin::ReadIniFileParam(const TvopParamsList* params, bool store) {
  std::string file = TextParam(params, "INI-FILE");
  if (store && params) ini_file_ = file;
  return file;
}

// ---------------------------------------------------------------------------
// Commands

int32_t TvopPlugin::ExecuteCommand(const std::string& command, PPluginCallRec rec) {
  int32_t result = kResultNotHandled;
  std::unique_lock<std::recursive_mutex> lock(command_lock_);
  if (command_depth_.fetch_add(1) + 1 > 1) {
    command_depth_.fetch_sub(1);
    lock.unlock();
    AssertionFailure(kSource, kLineNestedCommand);
  }
  struct DepthGuard {
    std::atomic<int32_t>& depth;
    ~DepthGuard() { depth.fetch_sub(1); }
  } depth_guard{command_depth_};

  const TvopParamsList* params = rec->Params;
  ApplyLanguageParam(params);
  if (params) {
    OleVariant host = params->GetParamValue("MessagesProcessorHandle");
    if (Present(host)) host_window_ = HandleValue(host);
  }
  TakeOwnerWindow(params);

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
  host_tag_ = rec->HostTag;
  registry_path_ = TextParam(params, "RegistryPath");
  ini_section_prefix_ = TextParam(params, "INISectionPrefix");
  if (params) {
    OleVariant handle = params->GetParamValue("HANDLE");
    if (Present(handle)) host_module_ = HandleValue(handle);
  }
  application_name_ = TextParam(params, "ApplicationName");
  if (!host_module_ && !application_name_.empty())
    host_module_ = platform::LoadedModuleHandle(application_name_);
  ReadIniFileParam(params, true);
  {
    std::lock_guard<std::mutex> lock(events_mutex_);
    if (!result_rows_.load()) result_rows_ = TvopParamsList::Create(kRowsParamsListClass);
    if (!events_) events_ = TvopParamsList::Create(kRowsParamsListClass);
    if (!pending_events_) pending_events_ = TvopParamsList::Create(kRowsParamsListClass);
  }
  send_data_proc_ = send_string_proc_ = send_byte_proc_ = nullptr;
  if (host_module_) {
    TakeHostIcon();
    send_data_proc_ = platform::ModuleProcedure(host_module_, "fSendData");
    send_string_proc_ = platform::ModuleProcedure(host_module_, "fSendString");
    send_byte_proc_ = platform::ModuleProcedure(host_module_, "fSendByte");
  }
  unloaded_ = false;
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
  unloaded_ = true;
  std::fill(std::begin(module_type_state_), std::end(module_type_state_), false);
  if (holds_host_icon_) ReleaseHostIcon();
  std::string ini = TextParam(rec->Params, "INI-FILE");
  if (ini != ini_file_) {
    ini_file_ = ini;
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
  host_module_ = 0;
  host_window_ = 0;
  return kResultOk;
}

void TvopPlugin::FreeRowLists() {
  // Data calls that passed the gate before Unloaded was set may still use
  // the lists; wait for them (not for one running on this very thread).
  const auto own = static_cast<int32_t>(std::count(t_data_calls.begin(), t_data_calls.end(), this));
  const uint32_t start = platform::TickCount();
  while (data_calls_.load() > own &&
         platform::TickDiff(platform::TickCount(), start) < static_cast<int32_t>(kUnloadWaitMs)) {
    platform::SleepMs(1);
  }
  const bool still_used = data_calls_.load() > 0;
  std::lock_guard<std::mutex> lock(events_mutex_);
  TvopParamsList* result_rows = result_rows_.exchange(nullptr);
  for (TvopParamsList** list : {&result_rows, &events_, &pending_events_}) {
    if (!*list) continue;
    if (still_used) {
      // Keep it alive until the instance goes: a running call still holds it.
      retired_lists_.emplace_back(*list);
    } else {
      try {
        TvopParamsList::Destroy(*list);
      } catch (...) {
      }
    }
    *list = nullptr;
  }
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
  const int64_t state = state_value.AsInt64().value_or(0);
  for (int role = 0; role < 8; ++role)
    if (rec->ModuleTypes & (1u << role)) module_type_state_[role] = (state == 1);
  if (OnStateChanged) OnStateChanged(*this, rec->ModuleTypes);
  return kResultOk;
}

int32_t TvopPlugin::DoSettingsCommand(PPluginCallRec rec, bool load_first) {
  const std::string remembered = ini_file_;
  struct Restore {
    std::string& target;
    const std::string& value;
    ~Restore() { target = value; }
  } restore{ini_file_, remembered};
  ini_file_ = TextParam(rec->Params, "INI-FILE");
  if (load_first) {
    if (OnLoadSettingsNow) OnLoadSettingsNow(*this);
    ini_file_ = remembered;
  }
  if (OnSaveSettingsNow) OnSaveSettingsNow(*this);
  return kResultNotHandled;
}

void TvopPlugin::ApplyLanguageParam(const TvopParamsList* params) {
  if (!params) return;
  OleVariant v = params->GetParamValue("LANGUAGE");
  if (!Present(v)) return;
  std::string language = v.ToAnsi();
  if (language_.empty() || language.empty() || language == language_) return;
  language_ = language;
  language_applied_ = false;
  // Translating the module's own texts needs the translator; until the
  // language file is read the texts stay as they are.
  language_applied_ = true;
  try {
    if (OnChangeLanguage) OnChangeLanguage(*this);
  } catch (...) {
  }
}

void TvopPlugin::TakeOwnerWindow(const TvopParamsList* params) {
  if (!params) return;
  OleVariant owner = params->GetParamValue("OWNERFORM");
  if (Present(owner)) owner_window_ = HandleValue(owner);
}

void TvopPlugin::TakeHostIcon() {
  std::lock_guard<std::mutex> lock(g_icon_mutex);
  if (holds_host_icon_) return;
  holds_host_icon_ = true;
  if (g_icon_refs++ == 0) {
    try {
      g_host_icon = platform::LoadIconResource(host_module_, "MAINICON");
    } catch (...) {
      g_host_icon = 0;
    }
  }
}

void TvopPlugin::ReleaseHostIcon() {
  std::lock_guard<std::mutex> lock(g_icon_mutex);
  if (!holds_host_icon_) return;
  holds_host_icon_ = false;
  if (--g_icon_refs == 0) {
    try {
      platform::DestroyIconHandle(g_host_icon);
    } catch (...) {
    }
    g_host_icon = 0;
  }
}

// ---------------------------------------------------------------------------
// Parser items

void TvopPlugin::SetParserItems(std::string_view text) {
  ClearParserItems();
  const auto& names = DataTypeNames();
  for (const std::string& line : SplitLines(text)) {
    std::vector<std::string> fields = SplitFields(line, '|');
    if (fields.size() < 2) continue;
    TParserItem item;
    item.Source = fields[0];
    item.Name = fields[1];
    item.DataType = kParserItemUnknownType;
    if (fields.size() > 2) {
      std::string wanted = platform::AnsiLowerCase(fields[2]);
      for (size_t i = 0; i < names.size(); ++i) {
        if (platform::AnsiLowerCase(names[i]) == wanted) {
          item.DataType = static_cast<uint8_t>(i);
          break;
        }
      }
    }
    if (fields.size() > 3) item.Extra = fields[3];
    parser_items_.push_back(std::move(item));
  }
}

std::string TvopPlugin::GetParserItemsText() const {
  const auto& names = DataTypeNames();
  std::string out;
  for (size_t i = 0; i < parser_items_.size(); ++i) {
    const TParserItem& item = parser_items_[i];
    if (i) out += "\r\n";
    out += item.Source + "|" + item.Name + "|" +
           (item.DataType < names.size() ? names[item.DataType] : std::string()) + "|" + item.Extra;
  }
  return out;
}

TParserItem TvopPlugin::GetParserItem(int index) const {
  if (index < 0 || index >= ParserItemCount()) throw std::out_of_range("parser item index");
  return parser_items_[static_cast<size_t>(index)];
}

void TvopPlugin::SetParserItem(int index, const TParserItem& item) {
  if (index < 0) throw std::out_of_range("parser item index");
  if (index >= ParserItemCount()) parser_items_.resize(static_cast<size_t>(index) + 1);
  parser_items_[static_cast<size_t>(index)] = item;
}

// ---------------------------------------------------------------------------
// Data

int32_t TvopPlugin::RunDataCall(const std::function<int32_t()>& work) {
  if (!WaitForFlags(30000, {[this] { return Busy(); }, [this] { return Unloaded(); }}, false))
    return kResultInvalid;
  // Count first, then check: an UNLOAD that sets Unloaded after our check
  // sees the count and waits for us.
  data_calls_.fetch_add(1);
  if (unloaded_.load()) {
    data_calls_.fetch_sub(1);
    return kResultInvalid;
  }
  t_data_calls.push_back(this);
  int32_t result;
  try {
    result = work();
  } catch (...) {
    result = kResultException;
  }
  t_data_calls.erase(std::find(t_data_calls.begin(), t_data_calls.end(), this));
  data_calls_.fetch_sub(1);
  return result;
}

int32_t TvopPlugin::DoProcessData(PPluginCallRec rec) {
  rec->Output.Data = 0;
  if (!rec->Params || !rec->Params->IsValid())
    AssertionFailure("Invalid call parameters", kSource, kLineDataParams);
  const uintptr_t remembered = rec->Input.Data;
  int32_t result = kResultOk;
  const TModuleTypes types = rec->ModuleTypes;
  auto has = [types](TModuleType t) { return (types & ModuleTypeBit(t)) != 0; };
  if (types != 0) {
    auto* input = reinterpret_cast<TvopParamsList*>(rec->Input.Data);
    if (rec->Input.Kind == kValueKindList && !has(mttDataQuery) && input && input->Count <= 0) {
      rec->Input.Data = 0;
      input = nullptr;
    }
    bool call_handler = true;
    if (has(mttDataExport)) {
      if (!rec->Input.Data) {
        if (!MsgNoData.empty()) SendLog(1, MsgNoData);
        call_handler = false;
      } else if (input && input->IsRowsList() && input->Count > 0) {
        // Close the last row; only lists this module made are ever grown.
        const TvopParamsListItem* last = input->Item(input->Count - 1);
        if (!last || last->NameView() != kNewRowMarker) input->AddNewRow();
      }
    }
    if (call_handler && OnProcessData) {
      try {
        OnProcessData(*this, rec, result);
        TvopParamsList* rows = result_rows_.load();
        if (rows && rows->Count > 0) {
          rec->Output.Kind = kValueKindList;
          rec->Output.Data = reinterpret_cast<uintptr_t>(rows);
        }
        if (result > 0 && !rec->Input.Data) result = 0;
        if (has(mttDataExport) || has(mttEventsHandling)) {
          if (result < 0) {
            if (!MsgWriteCompleteError.empty()) SendLog(1, MsgWriteCompleteError);
          } else if (!MsgWriteComplete.empty()) {
            SendLog(2, MsgWriteComplete);
          }
        }
      } catch (...) {
        result = kResultException;
        if (!MsgWriteCompleteError.empty()) SendLog(1, MsgWriteCompleteError);
      }
    }
  }
  if (rec->Input.Data == remembered) rec->Input.Data = 0;
  return result;
}

int32_t TvopPlugin::DoGetData(PPluginCallRec rec) {
  rec->Output.Data = 0;
  if (rec->ModuleTypes == 0) return kResultOk;
  rec->Input.Data = 0;
  if (!OnGetData) return kResultOk;
  int32_t result = kResultOk;
  try {
    OnGetData(*this, rec, result);
    TvopParamsList* rows = result_rows_.load();
    if (rows && rows->Count > 0) {
      rec->Output.Kind = kValueKindList;
      rec->Output.Data = reinterpret_cast<uintptr_t>(rows);
    }
    if (result > 0 && !rec->Input.Data) result = 0;
  } catch (...) {
    result = kResultException;
    if (!MsgWriteCompleteError.empty()) SendLog(1, MsgWriteCompleteError);
  }
  return result;
}

// ---------------------------------------------------------------------------
// Events

void TvopPlugin::RaiseEvent(bool global, std::string_view name, const TvopParamsList* params) {
  {
    std::lock_guard<std::mutex> lock(events_mutex_);
    if (!pending_events_) return;
    // Refuse a broken parameter list before the row is begun, so no half
    // row is ever queued.
    if (params && !params->IsValid()) AssertionFailure("Common/vopParamLst", 407);
    if (pending_events_->Count > kEventQueueLimit) pending_events_->Clear();
    if (global) pending_events_->Add("EVENT-GLOBAL", OleVariant(true));
    pending_events_->Add("EVENT-TYPE", OleVariant(platform::AnsiUpperCase(name)));
    if (params) pending_events_->AddList(params);
    pending_events_->AddNewRow();
  }
  PostToHost(PLUGIN_MSG_EVENTS, 0);
}

int32_t TvopPlugin::DoGetEvents(PPluginCallRec rec) {
  bool more_waiting = false;
  {
    std::lock_guard<std::mutex> lock(events_mutex_);
    if (rec->Output.Data == reinterpret_cast<uintptr_t>(events_)) {
      // The host has read the rows it was given.
      if (!events_) throw std::logic_error("no event queue to empty");
      events_->Clear();
      more_waiting = pending_events_ && pending_events_->Count > 0;
    } else {
      if (events_ && pending_events_ && pending_events_->Count > 0) {
        if (events_->Count > kEventQueueLimit) events_->Clear();
        if (events_->Count == 0) {
          std::swap(events_->items, pending_events_->items);
          std::swap(events_->Count, pending_events_->Count);
          std::swap(events_->Capacity, pending_events_->Capacity);
        } else {
          events_->AddList(pending_events_);
          pending_events_->Clear();
        }
      }
      rec->Output.Kind = kValueKindList;
      rec->Output.Data = reinterpret_cast<uintptr_t>(events_);
    }
  }
  if (more_waiting) PostToHost(PLUGIN_MSG_EVENTS, 0);
  return kResultOk;
}

int32_t TvopPlugin::PendingEventItems() const {
  std::lock_guard<std::mutex> lock(events_mutex_);
  return pending_events_ ? pending_events_->Count : 0;
}

TvopParamsList* TvopPlugin::HandedOutEvents() const {
  std::lock_guard<std::mutex> lock(events_mutex_);
  return events_;
}

void TvopPlugin::PostToHost(uint32_t message, intptr_t lparam) {
  const platform::WindowHandle window = host_window_.load();
  if (!window) return;
  const uintptr_t tag = host_tag_.load();
  if (platform::PostMessageTo(window, message, tag, lparam)) return;
  intptr_t ignored = 0;
  platform::SendMessageWithTimeout(window, message, tag, lparam, kHostSendTimeoutMs, &ignored);
}

// ---------------------------------------------------------------------------
// Log

std::string TvopPlugin::FormatLogLine(uint8_t level, std::string_view text, bool mark) const {
  std::string line;
  line.reserve(text.size() + LogTitle.size() + 3);
  line += static_cast<char>(static_cast<uint8_t>(level + 1) | (mark ? 0x80 : 0));
  if (!LogTitle.empty()) {
    line += LogTitle;
    line += ". ";
  }
  for (char c : text) line += (c == '\r' || c == '\n') ? ' ' : c;
  return line;
}

bool TvopPlugin::DeliverCopyData(uintptr_t kind, const std::string& text) {
  const platform::WindowHandle window = host_window_.load();
  if (!window) return false;
  intptr_t ignored = 0;
  return platform::SendCopyData(window, host_tag_.load(), kind, text.data(),
                                static_cast<uint32_t>(text.size()), kHostSendTimeoutMs, &ignored);
}

void TvopPlugin::SendLog(uint8_t level, std::string_view text, bool mark) {
  try {
    if (!host_window_.load()) return;
    std::vector<std::string> batch;
    batch.swap(*log_lines_.LockList());
    log_lines_.UnlockList();
    if (!batch.empty()) {
      std::string joined;
      for (const std::string& line : batch) joined += line + "\r\n";
      if (!DeliverCopyData(kCopyDataLogBatch, joined)) {
        // Back in front of anything queued meanwhile, oldest first.
        std::vector<std::string>* lines = log_lines_.LockList();
        lines->insert(lines->begin(), batch.begin(), batch.end());
        log_lines_.UnlockList();
        AddLog(level, text, mark);
        return;
      }
    }
    if (!DeliverCopyData(kCopyDataLogLine, FormatLogLine(level, text, mark)))
      AddLog(level, text, mark);
  } catch (...) {
  }
}

void TvopPlugin::AddLog(uint8_t level, std::string_view text, bool mark) {
  try {
    if (!host_window_.load()) return;
    std::string line = FormatLogLine(level, text, mark);
    std::vector<std::string>* lines = log_lines_.LockList();
    try {
      lines->push_back(std::move(line));
      if (lines->size() > kLogQueueLimit)
        lines->erase(lines->begin(),
                     lines->begin() + static_cast<long>(lines->size() - kLogQueueLimit));
    } catch (...) {
      log_lines_.UnlockList();
      throw;
    }
    log_lines_.UnlockList();
    PostToHost(PLUGIN_MSG_LOG, 0);
  } catch (...) {
  }
}

void TvopPlugin::LogExceptionReport() {
  std::string report = DescribeCurrentException();
  if (!report.empty()) AddLog(0, report);
}

std::string GetCustomCommandsText(const TvopPluginCustomCmdList& list) {
  std::string out;
  for (int i = 0; i < list.Count(); ++i) {
    const TvopPluginCustomCmd* c = list[i];
    out += c->Field1 + "|" + c->Field2 + "|" + c->Field3 + "|" + std::to_string(c->Number1) + "|" +
           std::to_string(c->Number2) + "\r\n";
  }
  return out;
}

// ---------------------------------------------------------------------------
// Instance table

namespace {

struct InstanceEntry {
  std::shared_ptr<TvopPlugin> instance;
};
using InstanceTable = TThreadObjectList<InstanceEntry>;

std::atomic<InstanceTable*> g_table{nullptr};
std::atomic<bool> g_shut_down{false};
std::mutex g_factory_mutex;
// A function-local static: main units register from their own static
// initialisers, which may run before this unit's.
PluginFactory& RegisteredFactory() {  // guarded by g_factory_mutex
  static PluginFactory factory;
  return factory;
}

std::unique_ptr<TvopPlugin> DefaultFactory(PPluginCallRec rec) {
  return std::make_unique<TvopPlugin>(rec);
}

InstanceEntry* FindEntry(TObjectList<InstanceEntry>* list, uint32_t id) {
  for (InstanceEntry* e : *list)
    if (e->instance->InstanceId() == id) return e;
  return nullptr;
}

// Holds the table's shared lock for one lookup.
class TableReadHold {
 public:
  explicit TableReadHold(InstanceTable* table) : table_(table), list_(table->LockListRead()) {}
  ~TableReadHold() { table_->UnlockRead(); }
  TObjectList<InstanceEntry>* list() const { return list_; }

 private:
  InstanceTable* table_;
  TObjectList<InstanceEntry>* list_;
};

class TableWriteHold {
 public:
  explicit TableWriteHold(InstanceTable* table) : table_(table) { table_->LockList(); }
  ~TableWriteHold() { table_->UnlockWrite(); }

 private:
  InstanceTable* table_;
};

}  // namespace

void RegisterPluginClass(PluginFactory factory) {
  std::lock_guard<std::mutex> lock(g_factory_mutex);
  RegisteredFactory() = std::move(factory);
}

void ModuleStartup() {
  if (g_table.load() || g_shut_down.load()) return;
  auto* table = new InstanceTable(true);
  InstanceTable* expected = nullptr;
  if (!g_table.compare_exchange_strong(expected, table)) delete table;
  std::lock_guard<std::mutex> lock(g_factory_mutex);
  if (!RegisteredFactory()) RegisteredFactory() = DefaultFactory;
}

bool ModuleIsShutDown() {
  return g_shut_down.load() || !g_table.load();
}

void ModuleShutdown(bool process_terminating) {
  g_shut_down = true;
  InstanceTable* table = g_table.exchange(nullptr);
  if (!table || process_terminating) return;  // the system reclaims everything
  std::vector<std::shared_ptr<TvopPlugin>> doomed;
  TObjectList<InstanceEntry>* list = table->LockList();
  for (InstanceEntry* e : *list) doomed.push_back(e->instance);
  list->Clear();
  table->UnlockWrite();
  doomed.clear();  // destroys every instance in table order, unless still in use
  delete table;
}

void ForEachInstance(const std::function<void(TvopPlugin&)>& fn) {
  InstanceTable* table = g_table.load();
  if (!table) return;
  TableReadHold hold(table);
  for (InstanceEntry* e : *hold.list()) fn(*e->instance);
}

int InstanceCount() {
  InstanceTable* table = g_table.load();
  if (!table) return 0;
  TableReadHold hold(table);
  return hold.list()->Count();
}

bool FindPluginInstanceImpl(PPluginCallRec rec, std::shared_ptr<TvopPlugin>* out) {
  out->reset();
  if (!rec || rec->InstanceId == 0) return false;
  InstanceTable* table = g_table.load();
  if (!table) return false;
  TableReadHold hold(table);
  TObjectList<InstanceEntry>* list = hold.list();
  if (InstanceEntry* e = FindEntry(list, rec->InstanceId)) {
    if (rec->Action != kActionRelease) {
      *out = e->instance;
      return true;
    }
    std::shared_ptr<TvopPlugin> doomed;
    {
      TableWriteHold write(table);
      // Another thread may have released it while we were promoting.
      if (InstanceEntry* again = FindEntry(list, rec->InstanceId)) {
        doomed = again->instance;
        list->Remove(again);
      }
    }
    doomed.reset();  // destroyed here unless a running call still holds it
    return false;
  }
  if (rec->Action == kActionRelease) return false;
  try {
    TableWriteHold write(table);
    // Search again: another thread may have created it while we promoted.
    if (InstanceEntry* again = FindEntry(list, rec->InstanceId)) {
      *out = again->instance;
      return true;
    }
    PluginFactory factory;
    {
      std::lock_guard<std::mutex> lock(g_factory_mutex);
      factory = RegisteredFactory() ? RegisteredFactory() : PluginFactory(DefaultFactory);
    }
    std::shared_ptr<TvopPlugin> created(factory(rec));
    if (!created) return false;
    created->instance_id_ = rec->InstanceId;
    created->AfterConstruction();
    auto entry = std::make_unique<InstanceEntry>();
    entry->instance = created;
    list->Add(entry.release());
    *out = std::move(created);
    return true;
  } catch (...) {
    out->reset();
    return false;
  }
}

std::shared_ptr<TvopPlugin> FindPluginInstance(PPluginCallRec rec) {
  std::shared_ptr<TvopPlugin> instance;
  FindPluginInstanceImpl(rec, &instance);
  return instance;
}

bool WaitForFlags(uint32_t limit_ms, const std::vector<FlagReader>& flags, bool ignore_shutdown) {
  const uint32_t start = platform::TickCount();
  int state = 1;
  for (int pass = 0;; ++pass) {
    if (pass > 0) {
      try {
        platform::ProcessPendingMessages();
      } catch (...) {
      }
      platform::SleepMs(50);
    }
    state = 1;
    for (const FlagReader& flag : flags) {
      if (!flag) {
        state = -1;
        break;
      }
      if (!flag()) {
        state = 0;
        break;
      }
    }
    if (state < 1) break;
    if (limit_ms != 0 &&
        platform::TickDiff(platform::TickCount(), start) >= static_cast<int32_t>(limit_ms))
      break;
    if (!ignore_shutdown && g_shut_down.load()) break;
  }
  return state == 0;
}

}  // namespace tarvel
