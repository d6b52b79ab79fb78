// Data calls: the gate every data call passes (RunDataCall), the hand-over
// of the host's rows to the plug-in (DoProcessData, DoGetData), and the
// end of the row lists at the last UNLOAD (FreeRowLists), which waits for
// the data calls that started before it.
//
// Threads: data calls run on any host thread without the command lock,
// counted by the gate (Plugins/DataCallGate.h); FreeRowLists runs under
// the command lock of the last UNLOAD.
#include <algorithm>

#include "Common/Assert.h"
#include "Plugins/vopPluginInternal.h"
#include "Plugins/vopPluginModule.h"

namespace tarvel {

using namespace plugin_detail;

namespace {

constexpr int kLineDataParams = 1822;
constexpr uint32_t kUnloadWaitMs = 30000;

// IsRowsListClass: a list of the rows list class, by its class name in any
// letter case, as the host's own copy of the classes names it too.
bool IsRowsListClass(const TvopParamsList& list) {
  const TListClassInfo* cls = list.class_ref;
  return cls && cls->name && SameTextAscii(cls->name, kRowsParamsListClass.name);
}

}  // namespace

void TvopPlugin::FreeRowLists() {
  // Data calls that passed the gate before it closed may still use the
  // lists; wait for them (not for one running on this very thread).
  const bool still_used = gate_.WaitForOthers(kUnloadWaitMs);
  // Kept alive until the instance goes while a running call still holds them.
  events_.Close(result_rows_.exchange(nullptr), still_used);
}

// ---------------------------------------------------------------------------
// Data

int32_t TvopPlugin::RunDataCall(const std::function<int32_t()>& work) {
  return gate_.Run(work);
}

int32_t TvopPlugin::DoProcessData(PPluginCallRec rec) {
  rec->Output.Data = 0;
  if (!rec->Params || !rec->Params->IsWellFormed())
    AssertionFailure("Invalid call parameters", kSource, kLineDataParams);
  const uintptr_t remembered = rec->Input.Data;
  // A host's rows list whose last row is open: the handler gets a closed
  // copy, and the host gets its own list back, never grown by the module.
  ParamsListPtr closed;
  int32_t result = kResultOk;
  const TModuleTypes types = rec->ModuleTypes;
  auto has = [types](TModuleType t) { return (types & ModuleTypeBit(t)) != 0; };
  if (types != 0) {
    // Input.Data is a list only when Input.Kind says so; a list must be one
    // the module can walk before anything reads its items.
    TvopParamsList* input = rec->Input.Kind == kValueKindList
                                ? reinterpret_cast<TvopParamsList*>(rec->Input.Data)
                                : nullptr;
    if (input && !input->IsWellFormed())
      AssertionFailure("Invalid call parameters", kSource, kLineDataParams);
    if (input && !has(mttDataQuery) && input->Count <= 0) {
      rec->Input.Data = 0;
      input = nullptr;
    }
    bool call_handler = true;
    if (has(mttDataExport)) {
      if (!rec->Input.Data) {
        if (std::string m = MsgNoData.Get(); !m.empty()) SendLog(1, m);
        call_handler = false;
      } else if (!input) {
        // Data that is not a list cannot be exported.
        AssertionFailure("Invalid call parameters", kSource, kLineDataParams);
      } else if (IsRowsListClass(*input) && input->Count > 0) {
        // Close the last row, also of a list the host made.
        const TvopParamsListItem* last = input->Item(input->Count - 1);
        if (!last || last->NameView() != kNewRowMarker) {
          if (input->IsModuleList()) {
            input->AddNewRow();
          } else {
            closed = NewParamsList(kRowsParamsListClass);
            closed->AddList(input);
            closed->AddNewRow();
            rec->Input.Data = reinterpret_cast<uintptr_t>(closed.get());
          }
        }
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
            if (std::string m = MsgWriteCompleteError.Get(); !m.empty()) SendLog(1, m);
          } else if (std::string m = MsgWriteComplete.Get(); !m.empty()) {
            SendLog(2, m);
          }
        }
      } catch (...) {
        result = kResultException;
        if (std::string m = MsgWriteCompleteError.Get(); !m.empty()) SendLog(1, m);
      }
    }
  }
  if (closed) {
    // The copy goes with this call; the handler's pass-through of its input
    // hands the host its own list.
    const auto copy = reinterpret_cast<uintptr_t>(closed.get());
    if (rec->Input.Data == copy) rec->Input.Data = remembered;
    if (rec->Output.Data == copy) rec->Output.Data = remembered;
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
    if (std::string m = MsgWriteCompleteError.Get(); !m.empty()) SendLog(1, m);
  }
  return result;
}

}  // namespace tarvel
