// HostContext: what the host told an instance about itself, and the command
// lock under which the commands that tell it run. The host's window and tag
// (where notices and log lines go), the owner window of the module's
// dialogs, the host module with its send procedures and the shared host
// icon this instance holds, the application name, the settings place
// (registry path, INI section prefix, INI file, registry roots, and the
// settings kept in memory where the host named no place) and the
// TEMPORARY-LOAD of the running command.
//
// Threads: commands on one instance run one at a time under the command
// lock, which is re-entrant; the fields commands write are held under it,
// and code outside a command that reads or changes them takes it (the
// instance's HoldCommands). The host's window and tag and the owner window
// are atomic instead: data calls, which take no lock, send to the host, and
// the options dialog centres itself on the owner. The host icon is shared
// by every instance of the process and counted under its own lock, taken
// inside the command lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "Common/ThreadSafety.h"
#include "Common/vopParamLst.h"
#include "platform/module.h"
#include "platform/window.h"
#include "settings/BigIni.h"
#include "settings/Storage.h"

namespace tarvel {

class HostContext {
 public:
  HostContext() = default;
  HostContext(const HostContext&) = delete;
  HostContext& operator=(const HostContext&) = delete;

  RecursiveMutex& CommandLock() TARVEL_RETURN_CAPABILITY(command_lock_) { return command_lock_; }

  // ---- Read without a lock ----
  uint32_t Tag() const { return tag_.load(); }
  platform::WindowHandle Window() const { return window_.load(); }
  // SetWindow: true when the window changed.
  bool SetWindow(platform::WindowHandle window) { return window_.exchange(window) != window; }
  platform::WindowHandle OwnerWindow() const { return owner_window_.load(); }
  void SetOwnerWindow(platform::WindowHandle window) { owner_window_ = window; }
  // The registry roots are fixed.
  TRegistryRoot RegistryRoot() const { return kRegistryRoot; }
  TRegistryRoot SecondRegistryRoot() const { return kSecondRegistryRoot; }

  // ---- Under the command lock ----
  bool TemporaryLoad() const TARVEL_REQUIRES(command_lock_) { return temporary_load_; }
  void SetTemporaryLoad(bool value) TARVEL_REQUIRES(command_lock_) { temporary_load_ = value; }
  const std::string& IniFile() const TARVEL_REQUIRES(command_lock_) { return ini_file_; }
  void SetIniFile(std::string file) TARVEL_REQUIRES(command_lock_) { ini_file_ = std::move(file); }
  const std::string& RegistryPath() const TARVEL_REQUIRES(command_lock_) { return registry_path_; }
  const std::string& INISectionPrefix() const TARVEL_REQUIRES(command_lock_) {
    return ini_section_prefix_;
  }
  const std::string& ApplicationName() const TARVEL_REQUIRES(command_lock_) {
    return application_name_;
  }
  platform::ModuleHandle Module() const TARVEL_REQUIRES(command_lock_) { return module_; }
  void* SendDataProc() const TARVEL_REQUIRES(command_lock_) { return send_data_proc_; }
  void* SendStringProc() const TARVEL_REQUIRES(command_lock_) { return send_string_proc_; }
  void* SendByteProc() const TARVEL_REQUIRES(command_lock_) { return send_byte_proc_; }
  bool HoldsIcon() const TARVEL_REQUIRES(command_lock_) { return holds_icon_; }

  // Load takes what a first LOAD names: the host's tag, the registry path,
  // the INI section prefix, the host module (handle, else found by the
  // application name) and the application name.
  void Load(uint32_t tag, const TvopParamsList* params,
            std::optional<platform::ModuleHandle> handle) TARVEL_REQUIRES(command_lock_);
  // BindModule takes the host icon and the send procedures of the host
  // module (none without one).
  void BindModule() TARVEL_REQUIRES(command_lock_);
  // ReleaseIcon lets the host icon go when this instance holds it.
  void ReleaseIcon() TARVEL_REQUIRES(command_lock_);
  // Unload forgets the host module and window at the last UNLOAD.
  void Unload() TARVEL_REQUIRES(command_lock_);
  // UnplacedSettings: the settings kept in memory, made on first use.
  TBigIniFile* UnplacedSettings() TARVEL_REQUIRES(command_lock_);

 private:
  static constexpr TRegistryRoot kRegistryRoot = rrHKEY_LOCAL_MACHINE;
  static constexpr TRegistryRoot kSecondRegistryRoot = rrHKEY_CURRENT_USER;

  RecursiveMutex command_lock_;
  std::atomic<uint32_t> tag_{0};
  std::atomic<platform::WindowHandle> window_{0};
  std::atomic<platform::WindowHandle> owner_window_{0};
  // The TEMPORARY-LOAD of the creating call or the running command.
  bool temporary_load_ TARVEL_GUARDED_BY(command_lock_) = false;
  platform::ModuleHandle module_ TARVEL_GUARDED_BY(command_lock_) = 0;
  std::string application_name_ TARVEL_GUARDED_BY(command_lock_);
  std::string registry_path_ TARVEL_GUARDED_BY(command_lock_);
  std::string ini_section_prefix_ TARVEL_GUARDED_BY(command_lock_);
  std::string ini_file_ TARVEL_GUARDED_BY(command_lock_);
  bool holds_icon_ TARVEL_GUARDED_BY(command_lock_) = false;
  void* send_data_proc_ TARVEL_GUARDED_BY(command_lock_) = nullptr;
  void* send_string_proc_ TARVEL_GUARDED_BY(command_lock_) = nullptr;
  void* send_byte_proc_ TARVEL_GUARDED_BY(command_lock_) = nullptr;
  // Settings saved while the host named no place.
  std::unique_ptr<TBigIniFile> unplaced_settings_ TARVEL_GUARDED_BY(command_lock_);
};

}  // namespace tarvel
