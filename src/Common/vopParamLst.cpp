#include "Common/vopParamLst.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "Common/Assert.h"
#include "platform/text.h"

namespace tarvel {

namespace {
constexpr const char* kSource = "Common/vopParamLst";
constexpr int kLineItemWrite = 144;
constexpr int kLineIndexOf = 189;
constexpr int kLineAddList = 407;

std::string AsciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return out;
}

std::string_view TrimControls(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) < 33) s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) < 33) s.remove_suffix(1);
  return s;
}

TvopParamsListItem* NewItem(std::string_view name, const OleVariant& value) {
  auto* item = static_cast<TvopParamsListItem*>(std::calloc(1, sizeof(TvopParamsListItem)));
  if (!item) throw std::bad_alloc();
  try {
    item->class_ref = &kParamsListItemClass;
    platform::VariantInit(&item->Value);
    item->Name = AnsiStrNew(name);
    item->LowName = AnsiStrNew(platform::AnsiLowerCase(name));
    if (value.Type() == platform::VT_ANSISTRING) {
      OleVariant converted(value.ToAnsi());
      OleVariant::CopyInto(&item->Value, converted.Raw());
    } else {
      OleVariant::CopyInto(&item->Value, value.Raw());
    }
    item->State = kItemStateModule;
  } catch (...) {
    AnsiStrFree(item->Name);
    AnsiStrFree(item->LowName);
    std::free(item);
    throw;
  }
  return item;
}

void FreeItem(TvopParamsListItem* item) {
  if (!item) return;
  OleVariant::ClearRaw(&item->Value);
  AnsiStrFree(item->Name);
  AnsiStrFree(item->LowName);
  std::free(item);
}
}  // namespace

const TListClassInfo kParamsListItemClass{"TvopParamsListItem", nullptr,
                                          sizeof(TvopParamsListItem)};
const TListClassInfo kParamsListClass{"TvopParamsList", nullptr, sizeof(TvopParamsList)};
const TListClassInfo kRowsParamsListClass{"TvopRowsParamsList", &kParamsListClass,
                                          sizeof(TvopRowsParamsList)};

TvopParamsList* TvopParamsList::Create(const TListClassInfo& cls) {
  if (&cls != &kParamsListClass && &cls != &kRowsParamsListClass)
    throw std::invalid_argument("not a parameter list class");
  auto* list = static_cast<TvopParamsList*>(std::calloc(1, cls.instance_size));
  if (!list) throw std::bad_alloc();
  list->class_ref = &cls;
  list->Signature = kParamsListSignature;
  try {
    list->ListId = AnsiStrNew(platform::NewGuidText());
  } catch (...) {
    std::free(list);
    throw;
  }
  return list;
}

void TvopParamsList::Destroy(TvopParamsList* list) {
  if (!list || !list->IsModuleList()) return;
  list->Signature = 0;
  list->Clear();
  AnsiStrFree(list->ListId);
  list->ListId = nullptr;
  std::free(list);
}

bool TvopParamsList::IsModuleList() const {
  return class_ref == &kParamsListClass || class_ref == &kRowsParamsListClass;
}

bool TvopParamsList::IsRowsList() const {
  return class_ref == &kRowsParamsListClass;
}

void TvopParamsList::Clear() {
  // Only the module's own lists are ever cleared; their item array is ours.
  if (!IsModuleList()) return;
  for (int32_t i = 0; i < Count; ++i) {
    TvopParamsListItem* item = items[i];
    items[i] = nullptr;
    FreeItem(item);
  }
  std::free(items);
  items = nullptr;
  Count = 0;
  Capacity = 0;
}

TvopParamsListItem* TvopParamsList::Item(int32_t index) const {
  if (index < 0 || index >= Count || !items) return nullptr;
  return items[index];
}

void TvopParamsList::SetItem(int32_t index, TvopParamsListItem* item) {
  if (index < 0 || index >= Count) AssertionFailure(kSource, kLineItemWrite);
  items[index] = item;
}

int32_t TvopParamsList::IndexOf(std::string_view name, int32_t first, int32_t last) const {
  if (!IsWellFormed()) AssertionFailure(kSource, kLineIndexOf);
  if (Count <= 0) return -1;
  std::string query = AsciiLower(name);
  if (first < 0) first = 0;
  if (last < 0 || last >= Count) last = Count - 1;
  for (int32_t i = first; i <= last; ++i) {
    const TvopParamsListItem* item = items[i];
    if (item && item->LowNameView() == query) return i;
  }
  return -1;
}

TvopParamsListItem* TvopParamsList::ItemByName(std::string_view name) const {
  if (Count <= 0) return nullptr;
  return Item(IndexOf(name));
}

OleVariant TvopParamsList::GetParamValue(std::string_view name) const {
  const TvopParamsListItem* item = ItemByName(name);
  return item ? OleVariant::CopyOf(item->Value) : OleVariant();
}

TvopParamsListItem* TvopParamsList::Add(std::string_view name, const OleVariant& value) {
  if (TrimControls(name).empty()) return nullptr;
  if (!IsModuleList()) throw std::logic_error("a list built by the host is never grown");
  if (Count >= Capacity) {
    int32_t grown = Capacity < 4 ? 4 : Capacity + Capacity / 2;
    auto* bigger = static_cast<TvopParamsListItem**>(
        std::realloc(items, static_cast<size_t>(grown) * sizeof(TvopParamsListItem*)));
    if (!bigger) throw std::bad_alloc();
    items = bigger;
    Capacity = grown;
  }
  TvopParamsListItem* item = NewItem(name, value);
  items[Count++] = item;
  return item;
}

TvopParamsListItem* TvopParamsList::SetParamValue(std::string_view name, const OleVariant& value,
                                                  bool add_if_missing) {
  TvopParamsListItem* item = ItemByName(name);
  if (!item && add_if_missing) item = Add(name, OleVariant::Null());
  if (!item) return nullptr;
  if (value.IsText()) {
    OleVariant text(value.ToAnsi());
    if (value.Type() == platform::VT_BSTR) text = value;
    OleVariant::CopyInto(&item->Value, text.Raw());
  } else {
    OleVariant::CopyInto(&item->Value, value.Raw());
  }
  return item;
}

TvopParamsListItem* TvopParamsList::AddItem(const TvopParamsListItem* item) {
  if (!item) return nullptr;
  return Add(item->NameView(), OleVariant::CopyOf(item->Value));
}

bool TvopParamsList::AddList(const TvopParamsList* source) {
  if (!source) return false;
  if (!source->IsWellFormed()) AssertionFailure(kSource, kLineAddList);
  const int32_t count = source->Count;  // fixed first: a list may append itself
  if (count <= 0) return false;
  for (int32_t i = 0; i < count; ++i) AddItem(source->Item(i));
  return true;
}

void TvopParamsList::AddNewRow() {
  Add(kNewRowMarker, OleVariant::Null());
}

int32_t TvopParamsList::RowCount() const {
  int32_t rows = 0;
  bool open = false;
  for (int32_t i = 0; i < Count; ++i) {
    const TvopParamsListItem* item = Item(i);
    if (item && item->LowNameView() == "$new_row$") {
      ++rows;
      open = false;
    } else {
      open = true;
    }
  }
  return rows + (open ? 1 : 0);
}

}  // namespace tarvel
