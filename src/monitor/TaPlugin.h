// TaPlugin: the timeout monitor's plug-in class, the one the module creates
// for every host instance. It owns the monitor's state between LOAD and
// UNLOAD: the stored settings (Cfg), the client records (the engine), the
// check timer and the log texts, and wires the framework's handlers to them.
//
// The engine owns the check timer's state: the plug-in stops and starts it
// only through the engine (StopTimer and ScheduleCheck around a settings
// load, Halt at UNLOAD). The log texts reach the engine as a MonitorTexts
// value made from TextRes (Texts()) at LOAD; the engine's SetTexts takes
// new ones at any time, also for events not yet raised.
//
// Threads: the check timer ticks on the thread that created the instance
// (while it pumps messages); data calls arrive on any host thread; commands
// run one at a time. A data call applies its rows under a pin of the engine
// (UNLOAD waits for such pins, which last no longer than the rows), and
// holds the engine by shared pointer only while its events go out; a tick
// holds it by shared pointer. So either keeps it alive across UNLOAD. A
// tick that fails is reported to the host's log as an exception report.
#pragma once

#include <atomic>
#include <functional>
#include <memory>

#include "Common/ReaderPins.h"
#include "Common/ThreadSafety.h"
#include "Plugins/vopPluginModule.h"
#include "monitor/CheckTimer.h"
#include "monitor/DataSourceCfg.h"
#include "monitor/TextResources.h"
#include "monitor/TimeoutMonitor.h"

namespace tarvel {

class TaPlugin : public TvopPlugin, private MonitorSink, private MonitorTimer {
 public:
  explicit TaPlugin(PPluginCallRec rec);
  ~TaPlugin() override;

  // The handlers, as the framework calls them.
  void vopPluginCreate();
  void vopPluginLoad(PPluginCallRec rec, int32_t& result);
  void vopPluginUnload(PPluginCallRec rec, int32_t& result);
  void vopPluginSaveSettingsNow();
  void vopPluginLoadSettingsNow();
  // vopPluginShowOptionsDialog shows the options form (the native dialog,
  // or, with the call's OPTIONS-SET values or where there is no native
  // dialog, the headless view) and after OK puts a settings object read
  // from what it saved in place of Cfg.
  void vopPluginShowOptionsDialog(PPluginCallRec rec, bool& success);
  void vopPluginProcessData(PPluginCallRec rec, int32_t& result);
  void ChkTimeoutsTimer();

  TCheckTimer& ChkTimeouts() { return *chk_timeouts_; }  // exists until destruction
  // Cfg is the current settings object (null while not loaded).
  TDataSourceCfg* Cfg() const { return cfg_.get(); }
  // TextRes: the log texts, owned by the module (exists from creation).
  TTextResources* TextRes() const { return text_res_; }
  // Monitor is the running engine (null while not loaded).
  std::shared_ptr<TimeoutMonitor> Monitor() const;

 private:
  // MonitorSink
  void RaiseEvent(bool global, std::string_view name, const TvopParamsList* params) override;
  void SendLog(uint8_t level, std::string_view text) override;
  void BeginLogBatch() override;
  void EndLogBatch() noexcept override;
  // MonitorTimer
  void ScheduleTick(uint32_t interval_ms) override;
  void StopTicks() override;

  MonitorTexts Texts() const;
  // NewCfg makes a settings object whose every read restarts the watching
  // with what it read.
  std::unique_ptr<TDataSourceCfg> NewCfg();
  // Reread stops the check timer, runs read and asks for the next check,
  // also when read fails.
  void Reread(const std::function<void()>& read);
  // PushTexts gives the running monitor the log texts now in force.
  void PushTexts();

  std::unique_ptr<TCheckTimer> chk_timeouts_;
  TTextResources* text_res_ = nullptr;   // owned as a component
  std::unique_ptr<TDataSourceCfg> cfg_;  // changed by commands only

  // TakeMonitor empties monitor_ and waits until no data call uses it
  // without a reference.
  std::shared_ptr<TimeoutMonitor> TakeMonitor();

  mutable Mutex monitor_mu_;
  std::shared_ptr<TimeoutMonitor> monitor_ TARVEL_GUARDED_BY(monitor_mu_);
  // The engine for data calls, which use it under a pin of monitor_pins_
  // instead of copying monitor_: written under monitor_mu_ with monitor_.
  std::atomic<TimeoutMonitor*> live_monitor_{nullptr};
  ReaderPins monitor_pins_;
};

// RegisterTaPlugin makes the module create TaPlugin objects.
void RegisterTaPlugin();

}  // namespace tarvel
