// TvopPlugin: the module object of the plug-in framework. The host runs
// several instances of a plug-in side by side, each named by the InstanceId
// of its call records; the framework keeps one object per id in a
// process-wide instance table, creates objects of the registered plug-in
// class on first use and calls the plug-in's bound handlers when the host
// asks for something. An unbound handler is simply not called.
//
// Threads: commands on one instance run one at a time under its command
// lock (the host context's), which also guards what commands write here
// (the roles' state, the parser items, the data sources); data calls
// (ProcessData, GetData, GetEvents) run on any host thread without it,
// counted by the data-call gate so that the last UNLOAD frees the row lists
// only after the data calls that started before it have finished. The
// language state, the event queue and the log queue each own their lock.
// Locks are taken in this order: the command lock, the language state's,
// then the event queue's (which switches its timer under it), the log
// queue's or the shared host icon's. Nothing is sent to the host window
// while the event queue's or the log queue's lock is held. Handlers must
// not throw across threads they do not own; exceptions inside a call are
// turned into result codes by the exports.
//
// Where each job lives: construction and destruction in vopPluginModule.cpp;
// the parts of an instance, each in its own files with the lock that guards
// its fields: the host context (the host's window and tag, the host module
// and its send procedures, the settings place, TEMPORARY-LOAD, the shared
// host icon) and the command lock in HostContext.h/.cpp, the language state
// (the translator, the language, the own texts, the text resources) in
// LanguageState.h/.cpp, the event queue in EventQueue.h/.cpp, the log queue
// in LogQueue.h/.cpp and the data-call gate in DataCallGate.h/.cpp. What the
// instance does with them: the parameters that change the host context
// (TEMPORARY-LOAD, INI-FILE, owner window, LANGUAGE) in vopPluginContext.cpp,
// the change of language and its reports in vopPluginLanguage.cpp, the
// property map at the host's settings place in vopPluginSettings.cpp,
// commands in vopPluginCommands.cpp, parser items in
// vopPluginParserItems.cpp, data calls and the row lists' end in
// vopPluginData.cpp, events in vopPluginEvents.cpp, the log in
// vopPluginLog.cpp, the options dialog's placement in
// vopPluginDialogPlacement.cpp, and the instance table in
// vopPluginInstances.h/.cpp.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Common/SharedText.h"
#include "Common/ThreadLists.h"
#include "Common/vopParamLst.h"
#include "Plugins/DataCallGate.h"
#include "Plugins/EventQueue.h"
#include "Plugins/HostContext.h"
#include "Plugins/LanguageState.h"
#include "Plugins/LogQueue.h"
#include "Plugins/vopPluginCustomCmd.h"
#include "Plugins/vopPluginInstances.h"
#include "Plugins/vopPluginTypes.h"
#include "components/Components.h"
#include "platform/module.h"
#include "platform/window.h"
#include "settings/Storage.h"
#include "settings/TWregistry.h"
#include "translation/TextResources.h"
#include "translation/Translator.h"

namespace tarvel {

// One parser variable the host told the module about (SET-ITEMS).
struct TParserItem {
  std::string Name;
  std::string Source;
  uint8_t DataType = 17;
  std::string Extra;
  bool operator==(const TParserItem&) const = default;
};
constexpr uint8_t kParserItemUnknownType = 17;
// The data type names by index, as one text.
extern const char* const kParserDataTypeNames;

// StoreItemValue replaces an item's value in a list the host or the module
// built. In a host list the old value is freed only when it is OLE memory
// (shared with the host's runtime); the host's own 8-bit strings are left to
// their owner.
void StoreItemValue(const TvopParamsList& list, TvopParamsListItem* item, OleVariant value);

// One data source of the host's configuration (SET-STATE).
struct TConfigDataSource {
  int32_t Id = 0;
  std::string Text2;
  std::string Text3;
};

// CentredOver: where a dialog of that size goes to sit centred over owner;
// each half of the difference cut toward zero.
platform::ScreenRect CentredOver(const platform::ScreenRect& owner, int32_t width, int32_t height);

// TvopPlugin is a component: it owns the plug-in's components (text
// resources, an options form while it is shown), and its class descriptor
// publishes Description, LogTitle, EventsSupported, MinVersion,
// IsMultiThreadSupported and the three messages, so the translator finds
// the messages by name.
class TvopPlugin : public TComponent, public std::enable_shared_from_this<TvopPlugin> {
 public:
  // Handler types; Sender is the instance.
  using NotifyEvent = std::function<void(TvopPlugin& sender)>;
  using CommandEvent = std::function<void(TvopPlugin& sender, PPluginCallRec rec, int32_t& result)>;
  using CustomCommandEvent = std::function<void(TvopPlugin& sender, const std::string& command,
                                                PPluginCallRec rec, int32_t& result)>;
  using ShowOptionsDialogEvent =
      std::function<void(TvopPlugin& sender, PPluginCallRec rec, bool& success)>;
  using StateChangeEvent = std::function<void(TvopPlugin& sender, TModuleTypes types)>;

  explicit TvopPlugin(PPluginCallRec rec);
  ~TvopPlugin() override;
  TvopPlugin(const TvopPlugin&) = delete;
  TvopPlugin& operator=(const TvopPlugin&) = delete;

  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }

  // ---- Properties (a plug-in sets them in its constructor) ----
  // The messages are logged by data calls on any thread while a command may
  // translate them, hence shared texts.
  std::string Description;
  std::string LogTitle;
  TModuleTypes ModuleType = 0;
  TModuleOptions ModuleOptions = 0;
  float MinVersion = 4.0f;
  std::string EventsSupported;
  bool IsMultiThreadSupported = true;
  TSharedText MsgNoData = "No data for processing";
  TSharedText MsgWriteComplete = "Data have been processed successfully";
  TSharedText MsgWriteCompleteError = "Data have been processed with errors";

  // ---- Events ----
  ShowOptionsDialogEvent OnShowOptionsDialog;
  CustomCommandEvent OnExecuteCustomCommand;
  CustomCommandEvent OnEvent;
  CommandEvent OnLoad;
  CommandEvent OnUnload;
  NotifyEvent OnSaveSettingsNow;
  NotifyEvent OnLoadSettingsNow;
  NotifyEvent OnSetParserItems;
  StateChangeEvent OnStateChanged;
  CommandEvent OnProcessData;
  CommandEvent OnGetData;
  NotifyEvent OnBeforeGetParserItems;
  NotifyEvent OnChangeLanguage;
  // Handed to the property map by LoadSettings / SaveSettings.
  TSetValueProc OnSetPropertyValue;
  TGetValueProc OnGetPropertyValue;
  TBeforeProcessItemProc OnBeforeProcessSettingsItem;
  // The creation notice: runs once after the whole construction.
  NotifyEvent OnCreate;
  // The destruction notice: runs first when the instance is destroyed.
  NotifyEvent OnDestroy;

  // ---- Identity and state ----
  uint32_t InstanceId() const { return instance_id_; }
  uint32_t HostTag() const { return host_.Tag(); }
  int32_t LoadCount() const { return load_count_.load(); }
  bool Unloaded() const { return gate_.Closed(); }
  bool Busy() const { return gate_.Busy(); }
  // TemporaryLoad: the TEMPORARY-LOAD of the creating call or the running
  // command; read it under the command lock (in a command).
  bool TemporaryLoad() const TARVEL_NO_THREAD_SAFETY_ANALYSIS { return host_.TemporaryLoad(); }
  const std::string& VersionText() const { return version_text_; }
  const std::string& ModuleDir() const { return module_dir_; }
  const std::string& ModuleFileName() const { return module_file_name_; }
  const std::string& ModulePath() const { return module_path_; }
  // What commands write (the roles' state, the parser items, the data
  // sources) is read in a command or under HoldCommands, unchecked as the
  // host context's getters are.
  bool ModuleTypeState(TModuleType role) const TARVEL_NO_THREAD_SAFETY_ANALYSIS {
    return module_type_state_[role];
  }

  // ---- Host context ----
  // What commands write is read in a command or under HoldCommands, whose
  // hold the analysis cannot see (it is handed to the caller), hence
  // unchecked; the windows are atomic.
  platform::WindowHandle HostWindow() const { return host_.Window(); }
  platform::WindowHandle OwnerWindow() const { return host_.OwnerWindow(); }
  platform::ModuleHandle HostModule() const TARVEL_NO_THREAD_SAFETY_ANALYSIS {
    return host_.Module();
  }
  const std::string& ApplicationName() const TARVEL_NO_THREAD_SAFETY_ANALYSIS {
    return host_.ApplicationName();
  }
  const std::string& RegistryPath() const TARVEL_NO_THREAD_SAFETY_ANALYSIS {
    return host_.RegistryPath();
  }
  const std::string& INISectionPrefix() const TARVEL_NO_THREAD_SAFETY_ANALYSIS {
    return host_.INISectionPrefix();
  }
  const std::string& IniFile() const TARVEL_NO_THREAD_SAFETY_ANALYSIS { return host_.IniFile(); }
  void SetIniFile(std::string file) {
    RecursiveMutexLock hold(host_.CommandLock());
    host_.SetIniFile(std::move(file));
  }
  std::string Language() const { return language_.Language(); }
  // LanguageFile: the language file beside the module; empty when there
  // is none.
  const std::string& LanguageFile() const { return language_.File(); }
  // Translator: the instance's translator (exists from construction).
  TWtransl* Translator() const { return language_.Translator(); }
  bool HoldsHostIcon() const TARVEL_NO_THREAD_SAFETY_ANALYSIS { return host_.HoldsIcon(); }
  void* SendDataProc() const TARVEL_NO_THREAD_SAFETY_ANALYSIS { return host_.SendDataProc(); }
  void* SendStringProc() const TARVEL_NO_THREAD_SAFETY_ANALYSIS { return host_.SendStringProc(); }
  void* SendByteProc() const TARVEL_NO_THREAD_SAFETY_ANALYSIS { return host_.SendByteProc(); }

  TRegistryRoot RegistryRoot() const { return host_.RegistryRoot(); }

  // ---- Options dialog placement ----
  // The dialog is a component with the integer properties Left, Top, Width
  // and Height (screen pixels). Called by the dialog on its own thread.
  // RecordDialogBounds remembers its bounds as it is created, before its
  // stored place is loaded.
  void RecordDialogBounds(const TComponent& dialog);
  // DialogMoved: false without an owner window or recorded bounds; else
  // whether the dialog's left, top, right or bottom differs from them.
  bool DialogMoved(const TComponent& dialog) const;
  // CentreDialogOnOwner centres the dialog over OwnerWindow, keeping its
  // size; false (nothing moves) without an owner or its rectangle.
  bool CentreDialogOnOwner(TComponent& dialog);
  const platform::ScreenRect& DialogBounds() const { return dialog_bounds_; }
  TRegistryRoot SecondRegistryRoot() const { return host_.SecondRegistryRoot(); }

  // LoadSettings / SaveSettings move the target's properties named by the
  // map lines to or from this instance's settings place (the INI file
  // override, else IniFile, else the registry at RegistryPath). Where the
  // host named neither a file nor a key, the settings are kept in memory
  // for the instance's life, and SaveSettings says so in the host's log
  // (level 1). False when there are no map lines or no store could be
  // used; errors of the property map itself reach the caller.
  // With problem, LoadSettings raises nothing: why stored settings could not
  // be read (the engine's error, or a registry key that is there but cannot
  // be opened) goes there, and stays empty when they were read or there
  // are none yet.
  bool LoadSettings(const std::string& map_lines, TComponent* target,
                    const std::string& ini_override = {}, std::string* problem = nullptr);
  bool SaveSettings(const std::string& map_lines, TComponent* target,
                    const std::string& ini_override = {});
  // SaveSettingsShort saves only the map up to and including ";---short---".
  bool SaveSettingsShort(const std::string& map_lines, TComponent* target,
                         const std::string& ini_override = {});

  // ReadTemporaryLoad takes TEMPORARY-LOAD from a list when it holds a value
  // (at creation, and under the command lock).
  bool ReadTemporaryLoad(const TvopParamsList* params);
  // ReadIniFileParam returns INI-FILE's text; with store and a list, it
  // becomes IniFile (absent clears it).
  std::string ReadIniFileParam(const TvopParamsList* params, bool store);

  // ---- Commands ----
  int32_t ExecuteCommand(const std::string& command, PPluginCallRec rec);
  // HoldCommands holds the command lock: what commands change (the host
  // context, the parser items, a plug-in's settings object) stays as it is
  // while the hold lives. Re-entrant on one thread. Code outside a command
  // that reads or changes those (the options dialog, the reload of sibling
  // instances) takes it; LoadSettings and SaveSettings take it themselves.
  std::unique_lock<RecursiveMutex> HoldCommands() {
    return std::unique_lock<RecursiveMutex>(host_.CommandLock());
  }

  // Parser items (SET-ITEMS / ITEMS, and the options dialog).
  // The changes take the (re-entrant) command lock themselves.
  void SetParserItems(std::string_view text);
  std::string GetParserItemsText() const TARVEL_NO_THREAD_SAFETY_ANALYSIS;
  int ParserItemCount() const TARVEL_NO_THREAD_SAFETY_ANALYSIS {
    return static_cast<int>(parser_items_.size());
  }
  TParserItem GetParserItem(int index) const TARVEL_NO_THREAD_SAFETY_ANALYSIS;
  void SetParserItem(int index, const TParserItem& item);
  void ClearParserItems() {
    RecursiveMutexLock hold(host_.CommandLock());
    parser_items_.clear();
  }
  const std::string& ItemsText() const TARVEL_NO_THREAD_SAFETY_ANALYSIS { return items_text_; }
  const std::vector<std::unique_ptr<TConfigDataSource>>& DataSources() const
      TARVEL_NO_THREAD_SAFETY_ANALYSIS {
    return data_sources_;
  }

  // ---- Data ----
  // The row lists exist from the first LOAD to the last UNLOAD.
  TvopParamsList* ResultRows() const { return result_rows_.load(); }
  int32_t DoProcessData(PPluginCallRec rec);
  int32_t DoGetData(PPluginCallRec rec);

  // ---- Events to the host ----
  void RaiseEvent(bool global, std::string_view name, const TvopParamsList* params);
  int32_t DoGetEvents(PPluginCallRec rec);
  // PostToHost posts to HostWindow (wParam HostTag), falling back to a
  // bounded send; false when there is no host window or neither reached it.
  bool PostToHost(uint32_t message, intptr_t lparam);
  // RepeatEventNotice announces the events again when they wait uncollected
  // and the last notice is EventQueue::kNoticeRepeatMs old; the notice timer's handler,
  // on the instance's creating thread.
  void RepeatEventNotice();
  // PendingEventItems counts items raised but not yet handed to the host;
  // HandedOutEvents is the list the host reads (null when not loaded).
  int32_t PendingEventItems() const;
  TvopParamsList* HandedOutEvents() const;

  // ---- Log to the host ----
  void SendLog(uint8_t level, std::string_view text, bool mark = false);
  void AddLog(uint8_t level, std::string_view text, bool mark = false);
  std::string FormatLogLine(uint8_t level, std::string_view text, bool mark) const;
  // A log batch: the lines the calling thread sends with SendLog between
  // BeginLogBatch and the matching EndLogBatch reach the host together, in
  // order, as one batch (with the queued lines before them) at
  // EndLogBatch, or earlier when they fill kLogBatchBytes or an event queue
  // is offered to the host. What fails to arrive is queued as SendLog
  // queues it. Lines of other threads meanwhile go as usual. Batches nest;
  // a second thread's BeginLogBatch meanwhile does nothing.
  void BeginLogBatch();
  void EndLogBatch() noexcept;
  static constexpr size_t kLogBatchBytes = 32 * 1024;
  // LogExceptionReport logs the exception being handled on this thread.
  void LogExceptionReport();
  TThreadStringList& LogLines() { return log_.Lines(); }

  TvopPluginCustomCmdList& CustomCommands() { return custom_commands_; }

  // ---- Framework entry points used by the exports ----
  // RunDataCall runs work as a data call: it waits while the instance is
  // unloaded and another data call still runs, refuses an unloaded instance
  // (-1), and counts the call while work runs (an exception gives -3).
  int32_t RunDataCall(const std::function<int32_t()>& work);
  // AfterConstruction runs the creation notice; called once by the table.
  void AfterConstruction();
  // ApplyLanguageParam follows a LANGUAGE parameter that names another language.
  void ApplyLanguageParam(const TvopParamsList* params);
  // ChangeLanguage: the instance's language becomes language (not empty,
  // not the current one): the module translates itself and its text
  // resources once, then OnChangeLanguage.
  void ChangeLanguage(const std::string& language);
  // TranslateSelf translates the module's own texts (its text properties
  // named in the translator's list) and its text resources into Language,
  // each time from their English source texts; once per language.
  void TranslateSelf();
  // AddTextResources makes texts (owned by the module, alive as long as it)
  // follow the module's language, and translates them now.
  void AddTextResources(TCustomTextResources* texts);
  // ApplyTranslation translates a component (and what it owns) from
  // English into Language; true when a pass ran.
  bool ApplyTranslation(TComponent* component);
  // ReportLanguageProblems logs, once the host window is known, why the
  // language file could not be used.
  void ReportLanguageProblems();
  // TakeOwnerWindow takes OWNERFORM when present and not null; a value that
  // does not convert to a handle raises and changes nothing.
  void TakeOwnerWindow(const TvopParamsList* params);
  // ReadOwnerWindow converts OWNERFORM (nullopt when absent or null) without
  // taking it; raises as TakeOwnerWindow does.
  static std::optional<platform::WindowHandle> ReadOwnerWindow(const TvopParamsList* params);

 protected:
  // Loaded runs after the plug-in's definition is in place.
  virtual void Loaded() {}

 private:
  friend bool FindPluginInstanceImpl(PPluginCallRec, std::shared_ptr<TvopPlugin>*);
  // RunCommand runs a command that is not nested in another.
  int32_t RunCommand(const std::string& command, PPluginCallRec rec)
      TARVEL_REQUIRES(host_.CommandLock());
  int32_t DoLoad(PPluginCallRec rec) TARVEL_REQUIRES(host_.CommandLock());
  int32_t DoUnload(PPluginCallRec rec) TARVEL_REQUIRES(host_.CommandLock());
  int32_t DoSetState(PPluginCallRec rec) TARVEL_REQUIRES(host_.CommandLock());
  int32_t DoSettingsCommand(PPluginCallRec rec, bool load_first)
      TARVEL_REQUIRES(host_.CommandLock());
  void FreeRowLists();
  void AnnounceEvents();
  void OfferQueueToHost();
  bool DeliverCopyData(uintptr_t kind, const std::string& text);
  void AppendLogLine(std::string& out, uint8_t level, std::string_view text, bool mark) const;
  void FlushLogBatch() noexcept;
  bool RunPropertyMap(const std::string& map_lines, TComponent* target,
                      const std::string& ini_override, bool saving, bool report_no_place,
                      std::string* problem = nullptr);
  std::string UnopenedSettingsKey() TARVEL_REQUIRES(host_.CommandLock());
  void SetUpTranslator();

  uint32_t instance_id_ = 0;
  HostContext host_;
  std::atomic<int32_t> load_count_{0};
  DataCallGate gate_;
  std::atomic<int32_t> command_depth_{0};

  // Row lists. ResultRows belongs to the running data call; the event
  // lists are the event queue's.
  // Atomic: a data call on an instance not yet loaded may meet the first LOAD.
  std::atomic<TvopParamsList*> result_rows_{nullptr};
  EventQueue events_{[this] { RepeatEventNotice(); }};

  LogQueue log_;
  TvopPluginCustomCmdList custom_commands_;
  // Written by commands.
  std::vector<std::unique_ptr<TConfigDataSource>> data_sources_
      TARVEL_GUARDED_BY(host_.CommandLock());
  std::vector<TParserItem> parser_items_ TARVEL_GUARDED_BY(host_.CommandLock());
  std::string items_text_ TARVEL_GUARDED_BY(host_.CommandLock());
  bool module_type_state_[8] TARVEL_GUARDED_BY(host_.CommandLock()) = {};

  std::string module_path_, module_dir_, module_file_name_, version_text_;
  // The module's language; commands and ShowOptionsDialog (which takes no
  // command lock) both translate.
  LanguageState language_{*this, [this] { ReportLanguageProblems(); }};
  platform::ScreenRect dialog_bounds_;
};

}  // namespace tarvel
