// TProxyCodeObject: the monitor's settings, headless. It carries what the
// options dialog edits (four watch rows, three flags, the client-ID variable,
// the resume suffix, the dialog's place) as properties named after the
// dialog's controls with "_" for ".", so one property map serves both.
//
// Every field is declared once in kFields (name, member, default); that
// table gives the defaults, Assign and the property table.
//
// InterpretWatchRow turns one row's settings into what the monitor watches.
//
// Not thread-safe: readers share an object only while no one changes it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "components/Components.h"

namespace tarvel {

class TProxyCodeObject : public TProxyCodeCustomObject {
 public:
  static constexpr int kRows = 4;

  // Sets every field to its default.
  explicit TProxyCodeObject(TComponent* owner = nullptr);

  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }

  // Assign copies every field of source, nothing else.
  void Assign(const TProxyCodeObject& source);

  int32_t Left, Top, Height, Width;
  std::string var1_Text, var2_Text, var3_Text, var4_Text;
  int32_t type1_ItemIndex, type2_ItemIndex, type3_ItemIndex, type4_ItemIndex;
  double val1_Value, val2_Value, val3_Value, val4_Value;
  std::string event1_Text, event2_Text, event3_Text, event4_Text;
  bool chkWaitData_Checked;
  bool chkEvOnce_Checked;
  bool chkCheckClient_Checked;
  std::string edtClientVar_Text;
  std::string edtEventResume_Text;
  bool chkEventResume_Checked;

  // Row accessors (row 0..3 is the dialog's row 1..4).
  const std::string& VarText(int row) const;
  int32_t TypeItemIndex(int row) const;
  double ValValue(int row) const;
  const std::string& EventText(int row) const;

  struct WatchRow;
  // WatchRowAt interprets row n (0-based, 0..3); nullopt when it is off.
  std::optional<WatchRow> WatchRowAt(int row) const;
};

// What the monitor watches for one settings row.
struct TProxyCodeObject::WatchRow {
  std::string variable;  // trimmed of bytes below 33
  std::string key;       // the variable, ANSI lower-cased (how data is matched)
  int32_t timeout_ms;    // > 0
  std::string event;     // as set; empty: timeouts are only logged
};

// InterpretWatchRow: the row is off when the trimmed variable is empty or
// RowTimeoutMs (MonitorSettings.h) finds no timeout. A timeout that exceeds
// the 32-bit millisecond range is clamped to 2147483647 ms (about 24.8
// days).
std::optional<TProxyCodeObject::WatchRow> InterpretWatchRow(std::string_view variable,
                                                            int32_t unit_index, double value,
                                                            std::string_view event);

}  // namespace tarvel
