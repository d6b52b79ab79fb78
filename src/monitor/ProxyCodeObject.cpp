#include "monitor/ProxyCodeObject.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "Common/Text.h"
#include "monitor/MonitorSettings.h"
#include "platform/text.h"

namespace tarvel {

namespace {

using C = TProxyCodeObject;

// The one declaration of every persisted field, in declaration order.
const FieldSpec<C> kFields[] = {
    {"Left", &C::Left, 314},
    {"Top", &C::Top, 184},
    {"Height", &C::Height, 402},
    {"Width", &C::Width, 541},
    {"var1_Text", &C::var1_Text, ""},
    {"var2_Text", &C::var2_Text, ""},
    {"var3_Text", &C::var3_Text, ""},
    {"var4_Text", &C::var4_Text, ""},
    {"type1_ItemIndex", &C::type1_ItemIndex, -1},
    {"type2_ItemIndex", &C::type2_ItemIndex, -1},
    {"type3_ItemIndex", &C::type3_ItemIndex, -1},
    {"type4_ItemIndex", &C::type4_ItemIndex, -1},
    {"val1_Value", &C::val1_Value, 0.0},
    {"val2_Value", &C::val2_Value, 0.0},
    {"val3_Value", &C::val3_Value, 0.0},
    {"val4_Value", &C::val4_Value, 0.0},
    {"event1_Text", &C::event1_Text, ""},
    {"event2_Text", &C::event2_Text, ""},
    {"event3_Text", &C::event3_Text, ""},
    {"event4_Text", &C::event4_Text, ""},
    {"chkWaitData_Checked", &C::chkWaitData_Checked, true},
    {"chkEvOnce_Checked", &C::chkEvOnce_Checked, true},
    {"chkCheckClient_Checked", &C::chkCheckClient_Checked, true},
    {"edtClientVar_Text", &C::edtClientVar_Text, "CLIENTID"},
    {"edtEventResume_Text", &C::edtEventResume_Text, "-RESUME"},
    {"chkEventResume_Checked", &C::chkEventResume_Checked, false},
};

constexpr std::string C::*kVar[] = {&C::var1_Text, &C::var2_Text, &C::var3_Text, &C::var4_Text};
constexpr int32_t C::*kType[] = {&C::type1_ItemIndex, &C::type2_ItemIndex, &C::type3_ItemIndex,
                                 &C::type4_ItemIndex};
constexpr double C::*kVal[] = {&C::val1_Value, &C::val2_Value, &C::val3_Value, &C::val4_Value};
constexpr std::string C::*kEvent[] = {&C::event1_Text, &C::event2_Text, &C::event3_Text,
                                      &C::event4_Text};

}  // namespace

TProxyCodeObject::TProxyCodeObject(TComponent* owner) : TProxyCodeCustomObject(owner) {
  ApplyFieldDefaults(*this, kFields);
}

const TClassInfo& TProxyCodeObject::StaticClass() {
  static const TClassInfo info{"TProxyCodeObject", &TProxyCodeCustomObject::StaticClass(),
                               FieldProperties(kFields)};
  return info;
}

void TProxyCodeObject::Assign(const TProxyCodeObject& source) {
  if (&source != this) AssignFields(*this, source, kFields);
}

const std::string& TProxyCodeObject::VarText(int row) const {
  return this->*kVar[row];
}
int32_t TProxyCodeObject::TypeItemIndex(int row) const {
  return this->*kType[row];
}
double TProxyCodeObject::ValValue(int row) const {
  return this->*kVal[row];
}
const std::string& TProxyCodeObject::EventText(int row) const {
  return this->*kEvent[row];
}

std::optional<TProxyCodeObject::WatchRow> TProxyCodeObject::WatchRowAt(int row) const {
  if (row < 0 || row >= kRows) return std::nullopt;
  return InterpretWatchRow(VarText(row), TypeItemIndex(row), ValValue(row), EventText(row));
}

std::optional<TProxyCodeObject::WatchRow> InterpretWatchRow(std::string_view variable,
                                                            int32_t unit_index, double value,
                                                            std::string_view event) {
  variable = TrimControls(variable);
  if (variable.empty()) return std::nullopt;
  // Clamped rather than wrapped: a wrapped product could turn a long
  // timeout into a tiny or negative one.
  const int64_t ms = RowTimeoutMs(unit_index, value);
  if (ms <= 0) return std::nullopt;
  const auto timeout =
      static_cast<int32_t>(std::min<int64_t>(ms, std::numeric_limits<int32_t>::max()));
  TProxyCodeObject::WatchRow w;
  w.variable.assign(variable);
  w.key = platform::AnsiLowerCase(variable);
  w.timeout_ms = timeout;
  w.event.assign(event);
  return w;
}

}  // namespace tarvel
