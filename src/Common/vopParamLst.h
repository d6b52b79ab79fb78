// Parameter lists: the ordered lists of named variant values that the host
// and the module exchange by pointer (command parameters, data rows, result
// rows, queued events).
//
// The memory layout is the host's and is fixed: each object starts with a
// class-reference word, strings are AnsiStr pointers and values are OLE
// VARIANTs (offsets are checked on i686 below). Lists built by the host are
// only read through this layout; the module grows only lists it created.
//
// A row is a run of items closed by the row marker "$NEW_ROW$" (null value).
// A list that is not well formed (see IsWellFormed) is refused by every
// lookup like one with a wrong signature; Item() bounds only by Count, so a
// caller that walks a host list checks IsWellFormed first.
//
// Names are looked up case-insensitively, but unevenly: an item's key is the
// system's ANSI lower case of its name, while a query folds only A-Z. A query
// with upper-case non-ASCII letters therefore misses a key holding their
// lower-case form; hosts rely on nothing else.
//
// No operation takes a lock: whoever shares a list guards it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "Common/AnsiStr.h"
#include "Common/OleVariant.h"

namespace tarvel {

constexpr uint32_t kParamsListSignature = 0x0FDE2E4B;
constexpr std::string_view kNewRowMarker = "$NEW_ROW$";
constexpr uint8_t kItemStateModule = 2;

// Class references of the module's own list classes. A list whose class
// reference is none of these was built elsewhere.
struct TListClassInfo {
  const char* name;
  const TListClassInfo* parent;
  uint32_t instance_size;
};
extern const TListClassInfo kParamsListItemClass;
extern const TListClassInfo kParamsListClass;
extern const TListClassInfo kRowsParamsListClass;

struct TvopParamsListItem {
  const TListClassInfo* class_ref;
  char* Name;     // AnsiStr, exactly as passed in
  char* LowName;  // AnsiStr, ANSI lower case of Name: the lookup key
  uint32_t reserved0;
  uint8_t State;
  uint8_t reserved1[7];
  Variant Value;

  std::string_view NameView() const { return AnsiStrView(Name); }
  std::string_view LowNameView() const { return AnsiStrView(LowName); }
};

struct TvopParamsList {
  const TListClassInfo* class_ref;
  TvopParamsListItem** items;
  int32_t Count;
  int32_t Capacity;
  uint32_t Signature;
  char* ListId;  // AnsiStr, GUID text
  uint32_t reserved0;

  // Create builds an empty list of the given class (kParamsListClass or
  // kRowsParamsListClass). Destroy begins destruction: Signature becomes 0,
  // the items are freed, then the object. Both accept only module lists.
  static TvopParamsList* Create(const TListClassInfo& cls = kParamsListClass);
  static void Destroy(TvopParamsList* list);

  // IsModuleList reports whether this object was created by this module.
  bool IsModuleList() const;
  // IsRowsList reports whether this is a module-created TvopRowsParamsList.
  bool IsRowsList() const;
  bool IsValid() const { return Signature == kParamsListSignature; }
  // IsWellFormed: IsValid, and the items can be walked: a positive Count
  // needs an item array and may not exceed Capacity (the slots the array
  // has). A negative Count reads as an empty list. Lists from the host are
  // checked with this before the module walks them.
  bool IsWellFormed() const {
    return IsValid() && (Count <= 0 || (items != nullptr && Count <= Capacity));
  }
  std::string_view ListIdView() const { return AnsiStrView(ListId); }

  void Clear();
  TvopParamsListItem* Item(int32_t index) const;
  // SetItem replaces a slot without freeing its item (assertion, line 144).
  void SetItem(int32_t index, TvopParamsListItem* item);
  int32_t IndexOf(std::string_view name, int32_t first = 0, int32_t last = -1) const;
  TvopParamsListItem* ItemByName(std::string_view name) const;
  OleVariant GetParamValue(std::string_view name) const;
  TvopParamsListItem* Add(std::string_view name, const OleVariant& value);
  // Add taking the value over: no copy of what it holds is made.
  TvopParamsListItem* Add(std::string_view name, OleVariant&& value);
  TvopParamsListItem* SetParamValue(std::string_view name, const OleVariant& value,
                                    bool add_if_missing);
  TvopParamsListItem* AddItem(const TvopParamsListItem* item);
  bool AddList(const TvopParamsList* source);
  void AddNewRow();

  // RowCount counts the rows: the row markers, plus one for items after the
  // last marker.
  int32_t RowCount() const;
};

// TvopRowsParamsList behaves exactly like TvopParamsList and adds one
// reserved word; it is told apart by its class reference.
struct TvopRowsParamsList {
  TvopParamsList base;
  uint32_t reserved1;
};

#if defined(_WIN32) && !defined(_WIN64)
// The host reads these objects in place: offsets are part of the interface.
static_assert(sizeof(void*) == 4);
static_assert(sizeof(Variant) == 16);
static_assert(offsetof(TvopParamsList, class_ref) == 0);
static_assert(offsetof(TvopParamsList, items) == 4);
static_assert(offsetof(TvopParamsList, Count) == 8);
static_assert(offsetof(TvopParamsList, Capacity) == 12);
static_assert(offsetof(TvopParamsList, Signature) == 16);
static_assert(offsetof(TvopParamsList, ListId) == 20);
static_assert(offsetof(TvopParamsList, reserved0) == 24);
static_assert(sizeof(TvopParamsList) == 28);
static_assert(offsetof(TvopRowsParamsList, reserved1) == 28);
static_assert(sizeof(TvopRowsParamsList) == 32);
static_assert(offsetof(TvopParamsListItem, class_ref) == 0);
static_assert(offsetof(TvopParamsListItem, Name) == 4);
static_assert(offsetof(TvopParamsListItem, LowName) == 8);
static_assert(offsetof(TvopParamsListItem, reserved0) == 12);
static_assert(offsetof(TvopParamsListItem, State) == 16);
static_assert(offsetof(TvopParamsListItem, reserved1) == 17);
static_assert(offsetof(TvopParamsListItem, Value) == 24);
static_assert(sizeof(TvopParamsListItem) == 40);
#endif

// Items the module's lists free are kept for the next ones, up to a little
// more than a full event queue. ReleaseCachedListItems gives them back to
// the system (the module does at shutdown); CachedListItems counts them.
void ReleaseCachedListItems();
size_t CachedListItems();

// ParamsListPtr owns a module-created list.
struct ParamsListDeleter {
  void operator()(TvopParamsList* list) const { TvopParamsList::Destroy(list); }
};
using ParamsListPtr = std::unique_ptr<TvopParamsList, ParamsListDeleter>;

inline ParamsListPtr NewParamsList(const TListClassInfo& cls = kParamsListClass) {
  return ParamsListPtr(TvopParamsList::Create(cls));
}

}  // namespace tarvel
