#include "monitor/TaPlugin.h"

#include <exception>
#include <stdexcept>
#include <utility>

#include "Common/Assert.h"
#include "Plugins/CrashReport.h"
#include "ui/HeadlessView.h"
#include "ui/OptionValues.h"
#include "ui/OptionsForm.h"

namespace tarvel {

TaPlugin::TaPlugin(PPluginCallRec rec) : TvopPlugin(rec) {
  // The plug-in's fixed definition.
  Description = "Tarvel";
  LogTitle = "Tarvel";
  ModuleType = ModuleTypeBit(mttFilter);
  ModuleOptions = 0;
  MinVersion = 4.0f;
  IsMultiThreadSupported = true;
  MsgNoData = "No data for processing";
  MsgWriteComplete = "Data have been processed successfully";
  MsgWriteCompleteError = "Data have been processed with errors";

  chk_timeouts_ = std::make_unique<TCheckTimer>([this] { ChkTimeoutsTimer(); }, 3000);

  OnCreate = [this](TvopPlugin&) { vopPluginCreate(); };
  OnLoad = [this](TvopPlugin&, PPluginCallRec r, int32_t& result) { vopPluginLoad(r, result); };
  OnUnload = [this](TvopPlugin&, PPluginCallRec r, int32_t& result) { vopPluginUnload(r, result); };
  OnSaveSettingsNow = [this](TvopPlugin&) { vopPluginSaveSettingsNow(); };
  OnLoadSettingsNow = [this](TvopPlugin&) { vopPluginLoadSettingsNow(); };
  OnShowOptionsDialog = [this](TvopPlugin&, PPluginCallRec r, bool& success) {
    vopPluginShowOptionsDialog(r, success);
  };
  OnProcessData = [this](TvopPlugin&, PPluginCallRec r, int32_t& result) {
    vopPluginProcessData(r, result);
  };
}

TaPlugin::~TaPlugin() {
  // The timer stops first: after this no tick reaches the members below. A
  // tick still running on the owner thread sets the timer again, so the
  // timer object goes only once that tick is over.
  chk_timeouts_->Shutdown();
  chk_timeouts_.reset();
  std::shared_ptr<TimeoutMonitor> monitor = TakeMonitor();
}

std::shared_ptr<TimeoutMonitor> TaPlugin::TakeMonitor() {
  std::shared_ptr<TimeoutMonitor> monitor;
  {
    MutexLock lock(monitor_mu_);
    monitor.swap(monitor_);
    live_monitor_.store(nullptr, std::memory_order_release);
  }
  // A data call that took it without a reference is done with it after this.
  monitor_pins_.WaitForReaders();
  return monitor;
}

std::shared_ptr<TimeoutMonitor> TaPlugin::Monitor() const {
  MutexLock lock(monitor_mu_);
  return monitor_;
}

MonitorTexts TaPlugin::Texts() const {
  MonitorTexts texts;
  if (text_res_) {
    texts.timeout = text_res_->TimeoutText();
    texts.generating_event = text_res_->GeneratingEventText();
  }
  return texts;
}

void TaPlugin::PushTexts() {
  if (auto monitor = Monitor()) monitor->SetTexts(Texts());
}

void TaPlugin::vopPluginCreate() {
  text_res_ = new TTextResources(this);
  text_res_->OnChange = [this](TObject&) { PushTexts(); };
  AddTextResources(text_res_);  // translated now and at every change of language
}

void TaPlugin::vopPluginLoad(PPluginCallRec, int32_t&) {
  MonitorSink& sink = *this;
  MonitorTimer& timer = *this;
  auto monitor = std::make_shared<TimeoutMonitor>(sink, timer, nullptr, Texts());
  std::shared_ptr<TimeoutMonitor> replaced;
  {
    MutexLock lock(monitor_mu_);
    replaced = std::exchange(monitor_, monitor);
    live_monitor_.store(monitor.get(), std::memory_order_release);
  }
  // A LOAD over a loaded instance: data calls that took the old engine
  // without a reference are done with it before it may go.
  if (replaced) monitor_pins_.WaitForReaders();
  replaced.reset();
  PushTexts();  // a language change between Texts() and here is not lost
  cfg_ = NewCfg();
  vopPluginLoadSettingsNow();
}

std::unique_ptr<TDataSourceCfg> TaPlugin::NewCfg() {
  // The object is known only once made: its read handler finds it here.
  auto self = std::make_shared<TDataSourceCfg*>(nullptr);
  auto cfg = std::make_unique<TDataSourceCfg>(*this, [this, self] {
    // Every read of the settings starts the watching afresh.
    if (auto m = Monitor()) m->ReplaceSettings(MakeMonitorSettings(**self));
  });
  *self = cfg.get();
  return cfg;
}

void TaPlugin::vopPluginUnload(PPluginCallRec, int32_t&) {
  std::shared_ptr<TimeoutMonitor> monitor = TakeMonitor();
  // The engine stops the timer, and a data call still running cannot start
  // it again. That call keeps its own reference; the engine goes with the
  // last one.
  if (monitor)
    monitor->Halt();
  else
    chk_timeouts_->Stop();
  cfg_.reset();
}

void TaPlugin::vopPluginSaveSettingsNow() {
  if (cfg_) cfg_->Save();
}

void TaPlugin::vopPluginLoadSettingsNow() {
  if (!cfg_) return;
  Reread([this] { cfg_->Load(); });
}

void TaPlugin::Reread(const std::function<void()>& read) {
  std::shared_ptr<TimeoutMonitor> monitor = Monitor();
  // The timer is stopped and started through the engine, which keeps its
  // state: it starts again also when the read fails.
  if (monitor) monitor->StopTimer();
  struct Restart {
    TimeoutMonitor* monitor;
    int exceptions = std::uncaught_exceptions();
    ~Restart() noexcept(false) {
      if (!monitor) return;
      if (std::uncaught_exceptions() == exceptions) {
        monitor->ScheduleCheck();
        return;
      }
      try {
        monitor->ScheduleCheck();
      } catch (...) {
        // The load's failure is the one the caller hears of.
      }
    }
  } restart{monitor.get()};
  read();
}

void TaPlugin::vopPluginShowOptionsDialog(PPluginCallRec rec, bool& success) {
  success = false;
  std::string values;
  if (rec && rec->Params && rec->Params->IsWellFormed())
    values = rec->Params->GetParamValue("OPTIONS-SET").ToAnsi();
  std::unique_ptr<TFormView> view = values.empty() ? NativeFormView() : nullptr;
  std::string refused;
  if (!view) {
    // Values to enter, or no dialog on this platform (nothing entered:
    // the form closes as Esc does).
    view = std::make_unique<THeadlessView>([&](THeadlessView& v) {
      if (values.empty()) return;
      try {
        EnterOptionValues(v, values, kTaPluginProperties);
      } catch (const std::invalid_argument& e) {
        refused = e.what();
      }
    });
  }

  std::unique_ptr<TfrmOption> form;
  {
    auto hold = HoldCommands();
    form = std::make_unique<TfrmOption>(*this, kTaPluginProperties, TProxyCodeObject());
    // While it is shown the form leaves the module's components: a change
    // of language on another thread walks those, and must not reach into
    // a form this thread is showing.
    RemoveComponent(form.get());
  }
  const int32_t result = form->ShowModal(*view, OwnerWindow());
  form.reset();
  if (!refused.empty()) SendLog(1, "Options not set: " + refused);
  if (result != kMrOk) return;

  auto hold = HoldCommands();
  success = true;
  // Unloaded while the dialog was open, or never loaded: what was saved is
  // read at the next LOAD.
  if (!cfg_) return;
  Reread([this] {
    std::unique_ptr<TDataSourceCfg> fresh = NewCfg();
    fresh->Load();
    cfg_.swap(fresh);
  });
}

void TaPlugin::vopPluginProcessData(PPluginCallRec rec, int32_t& result) {
  // The engine is taken under a pin rather than by a copy of its shared
  // pointer, so that data calls on several threads share no lock and no
  // count. The pin is let go before events go out: their sink calls reach
  // the host, which may unload this instance on this very thread.
  std::shared_ptr<TimeoutMonitor> delivering;
  std::exception_ptr failure;
  {
    const ReaderPins::Pin pin = monitor_pins_.Enter();
    TimeoutMonitor* monitor = live_monitor_.load(std::memory_order_acquire);
    // Data before the first LOAD has nothing to feed: fail before touching anything.
    if (!monitor) throw std::logic_error("data before LOAD");
    result = 0;
    // This plug-in hands back no rows; the list is only ever empty, and
    // clearing an empty list from concurrent data calls would be a race.
    if (TvopParamsList* rows = ResultRows(); rows && rows->Count > 0) rows->Clear();
    rec->Output = rec->Input;  // the data passes through unchanged
    const auto* data = rec->Input.Kind == kValueKindList
                           ? reinterpret_cast<const TvopParamsList*>(rec->Input.Data)
                           : nullptr;
    if (data && !data->IsWellFormed()) AssertionFailure("Common/vopParamLst", 189);
    try {
      if (monitor->ApplyData(data)) delivering = monitor->shared_from_this();
    } catch (...) {
      failure = std::current_exception();
      delivering = monitor->shared_from_this();
    }
  }
  if (!failure) {
    if (delivering) delivering->DeliverWaiting();
    return;
  }
  // The events of the rows before the failing one still go out; the
  // failure is the one the caller hears of.
  try {
    delivering->DeliverWaiting();
  } catch (...) {
  }
  std::rethrow_exception(failure);
}

void TaPlugin::ChkTimeoutsTimer() {
  // The tick may hand a full queue to a host on this thread, whose handler
  // can release this instance: it then goes when the tick is done, not
  // under it. (Null while the instance is being destroyed elsewhere; that
  // destruction waits for the tick.)
  const std::shared_ptr<TvopPlugin> keep = weak_from_this().lock();
  // A fault in the tick is reported to this instance like an exception.
  TCallScope call;
  try {
    if (std::shared_ptr<TimeoutMonitor> monitor = Monitor()) monitor->ChkTimeoutsTimer();
  } catch (...) {
    // A tick has no caller to answer to: its failure goes to the host's log
    // as every handler's does. The engine has set the timer again.
    LogExceptionReport();
  }
  call.Finish(this, 0, 0);
}

void TaPlugin::RaiseEvent(bool global, std::string_view name, const TvopParamsList* params) {
  TvopPlugin::RaiseEvent(global, name, params);
}

void TaPlugin::SendLog(uint8_t level, std::string_view text) {
  TvopPlugin::SendLog(level, text);
}

void TaPlugin::BeginLogBatch() {
  TvopPlugin::BeginLogBatch();
}

void TaPlugin::EndLogBatch() noexcept {
  TvopPlugin::EndLogBatch();
}

void TaPlugin::ScheduleTick(uint32_t interval_ms) {
  chk_timeouts_->SetInterval(interval_ms);
}

void TaPlugin::StopTicks() {
  chk_timeouts_->Stop();
}

void RegisterTaPlugin() {
  RegisterPluginClass([](PPluginCallRec rec) { return std::make_unique<TaPlugin>(rec); });
}

}  // namespace tarvel
