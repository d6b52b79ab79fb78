// The module's exported functions: the whole binary boundary with the host.
//
// Every export but GetPluginIntfVersion takes one pointer to a call record
// the host owns (Plugins/vopPluginTypes.h). The record names the instance,
// carries the parameter list and the Input/Output value blocks. Lists and
// text buffers stay owned by whoever made them: the host reads the module's
// result and event rows in place, the module copies text into the host's
// buffer. Each export is a thin shell: it checks the record, finds the
// instance and turns every exception into a result code. No exception ever
// leaves an export.
//
// Each call runs in a crash-report scope (Plugins/CrashReport.h): a fault
// the module's code raises meanwhile (a record, list or buffer of the
// host's that points nowhere, or the module's own mistake) is thrown as an
// exception where it happens, unwinds the call as any exception does, is
// reported to the host's log at level 0 with its call stack, and the
// export answers as it does for an exception.
//
// This file is compiled into each module (the product and test modules);
// the module's main unit registers the plug-in class.
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>

#include "Common/Assert.h"
#include "Plugins/CrashReport.h"
#include "Plugins/vopPluginInternal.h"
#include "Plugins/vopPluginModule.h"
#include "platform/runtime.h"

#ifdef _WIN32
#define TARVEL_API __stdcall
#define TARVEL_EXPORT
#else
#define TARVEL_API
#define TARVEL_EXPORT __attribute__((visibility("default")))
#endif

using namespace tarvel;

namespace {

using plugin_detail::kSource;
using plugin_detail::Present;

constexpr int kLineCommandParams = 1000;

// CopyToHost copies into a buffer of the host's with the module's own code,
// so that a buffer that points nowhere faults here, where the crash-report
// scope takes it, and not inside the C library, where nothing may.
void CopyToHost(uintptr_t to, const std::string& text) {
  auto* out = reinterpret_cast<volatile char*>(to);
  for (size_t i = 0; i < text.size(); ++i) out[i] = text[i];
}

// The text-result protocol of GetCustomCommands and GetLogEx: produce() runs
// with whatever lock it needs and returns the text; on success the
// discard() callback drops what was copied.
template <class Produce, class Discard>
int32_t CopyTextResult(PPluginCallRec rec, const Produce& produce, const Discard& discard,
                       bool discard_on_zero_size) {
  int32_t result = 0;
  try {
    if (!rec) return 0;
    rec->Output.Data = 0;
    rec->Output.Kind = kValueKindInteger;
    const std::string text = produce();
    rec->Output.Data = static_cast<uintptr_t>(text.size());
    if (text.empty()) return 0;
    if (discard_on_zero_size && rec->Input.Size == 0) {
      discard();
      return 0;
    }
    // A buffer too small, or none at all: the host learns the size it needs.
    if (static_cast<int64_t>(text.size()) > rec->Input.Size || rec->Input.Data == 0) return 0;
    CopyToHost(rec->Input.Data, text);
    result = static_cast<int32_t>(text.size());
    discard();
  } catch (...) {
  }
  return result;
}

// ReloadSiblings has every other instance with the same settings place
// reload what the dialog just saved. Each sibling is compared and reloaded
// under its own command lock, so an UNLOAD on another thread cannot free
// its settings under the reload; no two command locks are held at once.
void ReloadSiblings(const std::shared_ptr<TvopPlugin>& instance) {
  std::string path;
  {
    auto hold = instance->HoldCommands();
    path = instance->RegistryPath();
  }
  for (const std::shared_ptr<TvopPlugin>& other : Instances()) {
    if (other == instance || !other->OnLoadSettingsNow) continue;
    try {
      auto hold = other->HoldCommands();
      if (other->RegistryPath() == path) other->OnLoadSettingsNow(*other);
    } catch (...) {
    }
  }
}

// RunExport is the shell of an export that answers a value: work runs in
// the call's crash-report scope and may name the instance it found; an
// exception answers on_exception, and so does a fault, which is reported
// to that instance.
template <class T, class Work>
T RunExport(T on_exception, const Work& work) {
  TCallScope call;
  std::shared_ptr<TvopPlugin> instance;
  T result;
  try {
    result = work(instance);
  } catch (...) {
    result = on_exception;
  }
  return call.Finish(instance.get(), result, on_exception);
}

}  // namespace

extern "C" {

TARVEL_EXPORT int32_t TARVEL_API GetPluginIntfVersion() {
  return static_cast<int32_t>(kIntfVersionMajor | (kIntfVersionMinor << 16));
}

TARVEL_EXPORT float TARVEL_API GetAppMinVersion(PPluginCallRec rec) {
  return RunExport(-1.0f, [&](std::shared_ptr<TvopPlugin>& instance) {
    instance = FindPluginInstance(rec);
    return instance ? instance->MinVersion : -1.0f;
  });
}

TARVEL_EXPORT const char* TARVEL_API GetModuleDescription(PPluginCallRec rec) {
  return RunExport<const char*>(nullptr, [&](std::shared_ptr<TvopPlugin>& instance) {
    instance = FindPluginInstance(rec);
    return instance ? instance->Description.c_str() : nullptr;
  });
}

TARVEL_EXPORT int32_t TARVEL_API GetModuleType(PPluginCallRec rec) {
  return RunExport(0, [&](std::shared_ptr<TvopPlugin>& instance) {
    instance = FindPluginInstance(rec);
    if (!instance) return 0;
    return static_cast<int32_t>(instance->ModuleType) |
           (static_cast<int32_t>(instance->ModuleOptions) << 16);
  });
}

// The text exports answer for a fault what they answer for an exception:
// what they had set so far (0 unless the copy was complete).
TARVEL_EXPORT int32_t TARVEL_API GetCustomCommands(PPluginCallRec rec) {
  TCallScope call;
  std::shared_ptr<TvopPlugin> instance;
  const int32_t result = CopyTextResult(
      rec,
      [&]() -> std::string {
        instance = FindPluginInstance(rec);
        if (!instance || !(instance->ModuleType & ModuleTypeBit(mttMenuExt))) return {};
        return GetCustomCommandsText(instance->CustomCommands());
      },
      [] {}, false);
  return call.Finish(instance.get(), result, result);
}

TARVEL_EXPORT int32_t TARVEL_API GetLogEx(PPluginCallRec rec) {
  TCallScope call;
  std::shared_ptr<TvopPlugin> instance;
  // The lines stay held from the copy to their removal, so that lines
  // queued meanwhile are neither lost nor handed out twice.
  std::optional<WriteLocked<std::vector<std::string>>> lines;
  size_t taken = 0;
  const int32_t result = CopyTextResult(
      rec,
      [&]() -> std::string {
        instance = FindPluginInstance(rec);
        if (!instance) return {};
        lines.emplace(instance->LogLines().Lock());
        std::string text;
        for (const std::string& line : **lines) text += line + "\r\n";
        taken = (*lines)->size();
        return text;
      },
      [&] { (*lines)->erase((*lines)->begin(), (*lines)->begin() + static_cast<long>(taken)); },
      true);
  lines.reset();
  // The report of a fault in the copy joins the lines the host has yet to fetch.
  return call.Finish(instance.get(), result, result);
}

TARVEL_EXPORT void TARVEL_API ShowOptionsDialog(PPluginCallRec rec) {
  TCallScope call;
  std::shared_ptr<TvopPlugin> instance;
  try {
    if (!rec) return;
    rec->Output.Kind = kValueKindInteger;
    rec->Output.Size = 4;
    rec->Output.Data = kOptionsNoInstance;
    instance = FindPluginInstance(rec);
    if (!instance) return;
    if (!instance->OnShowOptionsDialog) {
      rec->Output.Data = kOptionsNoHandler;
      return;
    }
    rec->Output.Data = kOptionsRunning;
    if (rec->Params) {
      // A list the module cannot read, or an OWNERFORM that is no handle,
      // fails the call before any dialog is shown.
      try {
        if (!rec->Params->IsWellFormed()) throw std::invalid_argument("Invalid call parameters");
        (void)TvopPlugin::ReadOwnerWindow(rec->Params);
      } catch (...) {
        rec->Output.Data = kOptionsCancelled;
        return;
      }
      // The same context fields commands write: taken under their lock.
      auto hold = instance->HoldCommands();
      instance->ReadIniFileParam(rec->Params, true);
      instance->ApplyLanguageParam(rec->Params);
      instance->TakeOwnerWindow(rec->Params);
    }
    // The dialog is modal and may stay open for long: the handler holds the
    // command lock only for its own short steps, so other threads' commands
    // are not held up by the user.
    bool success = false;
    try {
      instance->OnShowOptionsDialog(*instance, rec, success);
    } catch (...) {
      success = false;
    }
    rec->Output.Data = success ? kOptionsConfirmed : kOptionsCancelled;
    if (success) ReloadSiblings(instance);
  } catch (...) {
  }
  // A fault answers as a failed dialog does, where the record can say so.
  if (call.Finish(instance.get(), false, true)) {
    try {
      rec->Output.Data = kOptionsCancelled;
    } catch (...) {
    }
  }
}

TARVEL_EXPORT int32_t TARVEL_API ExecutePluginCommand(PPluginCallRec rec) {
  return RunExport(kResultException, [&](std::shared_ptr<TvopPlugin>& instance) {
    if (!IsValidCallRec(rec)) return kResultInvalid;
    instance = FindPluginInstance(rec);
    if (!instance) return kResultInvalid;
    if (!rec->Params->IsWellFormed())
      AssertionFailure("Invalid call parameters", kSource, kLineCommandParams);
    OleVariant command = rec->Params->GetParamValue("COMMAND");
    if (!Present(command)) return kResultInvalid;
    const std::string text = command.ToAnsi();
    try {
      return instance->ExecuteCommand(text, rec);
    } catch (...) {
      instance->LogExceptionReport();
      return kResultException;
    }
  });
}

TARVEL_EXPORT int32_t TARVEL_API GetData(PPluginCallRec rec) {
  return RunExport(kResultException, [&](std::shared_ptr<TvopPlugin>& instance) {
    if (!IsValidCallRec(rec)) return kResultInvalid;
    instance = FindPluginInstance(rec);
    if (!instance) return kResultInvalid;
    return instance->RunDataCall([&] {
      rec->Output.Data = 0;
      return instance->DoGetData(rec);
    });
  });
}

TARVEL_EXPORT int32_t TARVEL_API GetEvents(PPluginCallRec rec) {
  return RunExport(kResultException, [&](std::shared_ptr<TvopPlugin>& instance) {
    if (!IsValidCallRec(rec)) return kResultInvalid;
    instance = FindPluginInstance(rec);
    if (!instance) return kResultInvalid;
    return instance->RunDataCall([&] { return instance->DoGetEvents(rec); });
  });
}

TARVEL_EXPORT int32_t TARVEL_API ProcessData(PPluginCallRec rec) {
  return RunExport(kResultException, [&](std::shared_ptr<TvopPlugin>& instance) {
    if (!IsValidCallRec(rec)) return kResultInvalid;
    instance = FindPluginInstance(rec);
    if (!instance) return kResultInvalid;
    return instance->RunDataCall([&] {
      if (ModuleIsShutDown()) return kResultInvalid;
      rec->Output.Data = 0;
      return instance->DoProcessData(rec);
    });
  });
}

TARVEL_EXPORT bool TARVEL_API MultiThreadSupport(PPluginCallRec rec) {
  return RunExport(false, [&](std::shared_ptr<TvopPlugin>& instance) {
    instance = FindPluginInstance(rec);
    return instance && instance->IsMultiThreadSupported;
  });
}

}  // extern "C"

#ifdef _WIN32
// Shutdown runs here rather than in a static destructor so that at process
// exit (reserved != null, other threads already gone) nothing is waited on.
// When the host unloads the module while the process goes on, everything
// the module took is given back, so a host that loads and unloads it again
// and again does not grow.
// The loader's entry point with the Windows types spelled out (BOOL is int,
// DWORD unsigned long), which is all this file needed <windows.h> for.
constexpr unsigned long kDllProcessDetach = 0;  // DLL_PROCESS_DETACH
constexpr unsigned long kDllProcessAttach = 1;  // DLL_PROCESS_ATTACH
extern "C" int __stdcall DllMain(void*, unsigned long reason, void* reserved) {
  if (reason == kDllProcessAttach) {
    ModuleStartup();
    InstallCrashReporting();
  } else if (reason == kDllProcessDetach) {
    try {
      ModuleShutdown(reserved != nullptr);
    } catch (...) {
    }
    RemoveCrashReporting();
    if (!reserved) platform::ReleaseRuntimeResources();
  }
  return 1;
}
#else
__attribute__((constructor)) static void TarvelModuleLoad() {
  InstallCrashReporting();
}

__attribute__((destructor)) static void TarvelModuleUnload() {
  try {
    ModuleShutdown(false);
  } catch (...) {
  }
  RemoveCrashReporting();
}
#endif
