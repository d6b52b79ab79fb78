// The process-wide instance table and the module's start-up and shutdown.
// The host names an instance by the InstanceId of its call records; the
// table holds one TvopPlugin per id, made by the registered plug-in class
// on first use and destroyed on a release request (Action 255) or at
// module shutdown.
//
// Threads: every function may be called from any thread. Lookups share the
// table's lock; creation and release take it exclusively and search again,
// so one id never gets two instances.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "Plugins/vopPluginTypes.h"

namespace tarvel {

class TvopPlugin;
using PluginFactory = std::function<std::unique_ptr<TvopPlugin>(PPluginCallRec)>;

// RegisterPluginClass makes FindPluginInstance create objects through factory.
void RegisterPluginClass(PluginFactory factory);
// FindPluginInstance finds or creates the instance a record names, or
// releases it (Action 255). The instance stays alive while the caller holds
// the returned pointer, even if it is released meanwhile.
std::shared_ptr<TvopPlugin> FindPluginInstance(PPluginCallRec rec);
// ForEachInstance calls fn for every instance under the table's shared lock.
void ForEachInstance(const std::function<void(TvopPlugin&)>& fn);
// Instances returns every instance in the table, held, so the caller may
// use them after the table's lock is let go.
std::vector<std::shared_ptr<TvopPlugin>> Instances();
// InstanceCount is the number of instances in the table (0 after shutdown).
int InstanceCount();
// ModuleStartup creates the instance table (idempotent); ModuleShutdown
// detaches it and destroys every instance unless the process is ending.
void ModuleStartup();
void ModuleShutdown(bool process_terminating);
bool ModuleIsShutDown();

// WaitForFlags polls until a flag reads clear (true), a flag is missing (an
// empty function: false), the limit passes (false; 0 means no limit) or,
// unless ignore_shutdown, the module shuts down (false). From the second
// pass on it processes the calling thread's messages and sleeps 50 ms.
using FlagReader = std::function<bool()>;
bool WaitForFlags(uint32_t limit_ms, const std::vector<FlagReader>& flags, bool ignore_shutdown);

}  // namespace tarvel
