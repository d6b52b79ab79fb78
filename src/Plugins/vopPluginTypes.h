// The binary interface with the host: the call record every export takes,
// module roles and options, result codes and window message numbers.
//
// The host owns the call record and fills it; the module reads and writes
// only the fields below. On i686 the record is 52 packed bytes and each
// value block 13; in the native build pointers widen the fields, which
// nothing outside this process sees.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Common/vopParamLst.h"

namespace tarvel {

constexpr uint32_t kCallRecMarker = 102;
constexpr uint8_t kActionRelease = 255;
constexpr uint16_t kIntfVersionMajor = 4;
constexpr uint16_t kIntfVersionMinor = 0;

// Kinds of TPluginValue::Data.
constexpr uint8_t kValueKindList = 1;
constexpr uint8_t kValueKindInteger = 5;

#pragma pack(push, 1)
struct TPluginValue {
  uint32_t Reserved;
  int32_t Size;
  uint8_t Kind;
  uintptr_t Data;  // an integer, or a pointer (text buffer or list)
};

struct TPluginCallRec {
  uint32_t Marker;
  uint8_t Action;
  uint32_t InstanceId;
  uint32_t HostTag;
  uint32_t RequestToken;
  uint32_t RequestValue;
  uint8_t ModuleTypes;
  TvopParamsList* Params;
  TPluginValue Input;
  TPluginValue Output;
};
#pragma pack(pop)
using PPluginCallRec = TPluginCallRec*;

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(TPluginValue) == 13);
static_assert(offsetof(TPluginValue, Size) == 4);
static_assert(offsetof(TPluginValue, Kind) == 8);
static_assert(offsetof(TPluginValue, Data) == 9);
static_assert(sizeof(TPluginCallRec) == 52);
static_assert(offsetof(TPluginCallRec, Action) == 4);
static_assert(offsetof(TPluginCallRec, InstanceId) == 5);
static_assert(offsetof(TPluginCallRec, HostTag) == 9);
static_assert(offsetof(TPluginCallRec, RequestToken) == 13);
static_assert(offsetof(TPluginCallRec, RequestValue) == 17);
static_assert(offsetof(TPluginCallRec, ModuleTypes) == 21);
static_assert(offsetof(TPluginCallRec, Params) == 22);
static_assert(offsetof(TPluginCallRec, Input) == 26);
static_assert(offsetof(TPluginCallRec, Output) == 39);
#endif

// Module roles: bit positions in TModuleTypes.
enum TModuleType : uint8_t {
  mttDataQuery = 0,
  mttDataParser = 1,
  mttDataExport = 2,
  mttEventsHandling = 3,
  mttLogging = 4,
  mttFilter = 5,
  mttDeviceLayer = 6,
  mttMenuExt = 7,
};
using TModuleTypes = uint8_t;
constexpr TModuleTypes ModuleTypeBit(TModuleType t) {
  return static_cast<TModuleTypes>(1u << t);
}

enum TModuleOption : uint8_t { moNoConfig = 0, moXMLOptions = 1 };
using TModuleOptions = uint8_t;
constexpr TModuleOptions ModuleOptionBit(TModuleOption o) {
  return static_cast<TModuleOptions>(1u << o);
}

// Result codes of exports and commands.
constexpr int32_t kResultOk = 0;
constexpr int32_t kResultInvalid = -1;
constexpr int32_t kResultNotHandled = -2;
constexpr int32_t kResultException = -3;

// Window messages to the host window.
constexpr uint32_t PLUGIN_MSG_LOG = 1809;
constexpr uint32_t PLUGIN_MSG_EVENTS = 1811;
// dwData of the WM_COPYDATA log messages.
constexpr uintptr_t kCopyDataLogBatch = 1;
constexpr uintptr_t kCopyDataLogLine = 2;

// ShowOptionsDialog status in Output.Data.
constexpr uintptr_t kOptionsCancelled = 0;
constexpr uintptr_t kOptionsConfirmed = 1;
constexpr uintptr_t kOptionsNoInstance = 2;
constexpr uintptr_t kOptionsNoHandler = 3;
constexpr uintptr_t kOptionsRunning = 4;

// IsValidCallRec: not null, marker 102, and a parameter list unless the
// call is a release request.
inline bool IsValidCallRec(const TPluginCallRec* rec) {
  return rec && rec->Marker == kCallRecMarker && (rec->Params || rec->Action == kActionRelease);
}

}  // namespace tarvel
