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
// This file is compiled into each module (the product and test modules);
// the module's main unit registers the plug-in class.
#include <cstring>
#include <stdexcept>
#include <string>

#include "Common/Assert.h"
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
    std::memcpy(reinterpret_cast<void*>(rec->Input.Data), text.data(), text.size());
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

}  // namespace

extern "C" {

TARVEL_EXPORT int32_t TARVEL_API GetPluginIntfVersion() {
  return static_cast<int32_t>(kIntfVersionMajor | (kIntfVersionMinor << 16));
}

TARVEL_EXPORT float TARVEL_API GetAppMinVersion(PPluginCallRec rec) {
  try {
    auto instance = FindPluginInstance(rec);
    return instance ? instance->MinVersion : -1.0f;
  } catch (...) {
    return -1.0f;
  }
}

TARVEL_EXPORT const char* TARVEL_API GetModuleDescription(PPluginCallRec rec) {
  try {
    auto instance = FindPluginInstance(rec);
    return instance ? instance->Description.c_str() : nullptr;
  } catch (...) {
    return nullptr;
  }
}

TARVEL_EXPORT int32_t TARVEL_API GetModuleType(PPluginCallRec rec) {
  try {
    auto instance = FindPluginInstance(rec);
    if (!instance) return 0;
    return static_cast<int32_t>(instance->ModuleType) |
           (static_cast<int32_t>(instance->ModuleOptions) << 16);
  } catch (...) {
    return 0;
  }
}

TARVEL_EXPORT int32_t TARVEL_API GetCustomCommands(PPluginCallRec rec) {
  std::shared_ptr<TvopPlugin> instance;
  return CopyTextResult(
      rec,
      [&]() -> std::string {
        instance = FindPluginInstance(rec);
        if (!instance || !(instance->ModuleType & ModuleTypeBit(mttMenuExt))) return {};
        return GetCustomCommandsText(instance->CustomCommands());
      },
      [] {}, false);
}

TARVEL_EXPORT int32_t TARVEL_API GetLogEx(PPluginCallRec rec) {
  std::shared_ptr<TvopPlugin> instance;
  std::vector<std::string>* lines = nullptr;
  size_t taken = 0;
  const int32_t result = CopyTextResult(
      rec,
      [&]() -> std::string {
        instance = FindPluginInstance(rec);
        if (!instance) return {};
        lines = instance->LogLines().LockList();  // held to the end of the call
        std::string text;
        for (const std::string& line : *lines) text += line + "\r\n";
        taken = lines->size();
        return text;
      },
      [&] { lines->erase(lines->begin(), lines->begin() + static_cast<long>(taken)); }, true);
  if (lines) instance->LogLines().UnlockList();
  return result;
}

TARVEL_EXPORT void TARVEL_API ShowOptionsDialog(PPluginCallRec rec) {
  try {
    if (!rec) return;
    rec->Output.Kind = kValueKindInteger;
    rec->Output.Size = 4;
    rec->Output.Data = kOptionsNoInstance;
    auto instance = FindPluginInstance(rec);
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
}

TARVEL_EXPORT int32_t TARVEL_API ExecutePluginCommand(PPluginCallRec rec) {
  try {
    if (!IsValidCallRec(rec)) return kResultInvalid;
    auto instance = FindPluginInstance(rec);
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
  } catch (...) {
    return kResultException;
  }
}

TARVEL_EXPORT int32_t TARVEL_API GetData(PPluginCallRec rec) {
  try {
    if (!IsValidCallRec(rec)) return kResultInvalid;
    auto instance = FindPluginInstance(rec);
    if (!instance) return kResultInvalid;
    return instance->RunDataCall([&] {
      rec->Output.Data = 0;
      return instance->DoGetData(rec);
    });
  } catch (...) {
    return kResultException;
  }
}

TARVEL_EXPORT int32_t TARVEL_API GetEvents(PPluginCallRec rec) {
  try {
    if (!IsValidCallRec(rec)) return kResultInvalid;
    auto instance = FindPluginInstance(rec);
    if (!instance) return kResultInvalid;
    return instance->RunDataCall([&] { return instance->DoGetEvents(rec); });
  } catch (...) {
    return kResultException;
  }
}

TARVEL_EXPORT int32_t TARVEL_API ProcessData(PPluginCallRec rec) {
  try {
    if (!IsValidCallRec(rec)) return kResultInvalid;
    auto instance = FindPluginInstance(rec);
    if (!instance) return kResultInvalid;
    return instance->RunDataCall([&] {
      if (ModuleIsShutDown()) return kResultInvalid;
      rec->Output.Data = 0;
      return instance->DoProcessData(rec);
    });
  } catch (...) {
    return kResultException;
  }
}

TARVEL_EXPORT bool TARVEL_API MultiThreadSupport(PPluginCallRec rec) {
  try {
    auto instance = FindPluginInstance(rec);
    return instance && instance->IsMultiThreadSupported;
  } catch (...) {
    return false;
  }
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
  } else if (reason == kDllProcessDetach) {
    try {
      ModuleShutdown(reserved != nullptr);
    } catch (...) {
    }
    if (!reserved) platform::ReleaseRuntimeResources();
  }
  return 1;
}
#else
__attribute__((destructor)) static void TarvelModuleUnload() {
  try {
    ModuleShutdown(false);
  } catch (...) {
  }
}
#endif
