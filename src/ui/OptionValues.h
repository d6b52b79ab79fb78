// Settings handed over as values instead of typed into the dialog: each
// "NAME=VALUE" line is entered into the options form through the headless
// view, as a user would enter it, and OK is pressed. The form's own rules
// therefore apply (a negative timeout becomes 0, a unit must be one of the
// list, the client variable can only be typed while its check box is on)
// and OK saves everything as the dialog does.
//
// NAME is a control of the form (var1, val2, type3, event4, chkWaitData,
// chkEvOnce, chkEventResume, edtEventResume, chkCheckClient, edtClientVar)
// or the name its value is stored under in the property map (Var1, Val2,
// Type3, Event4, "Wait data", "Event once", "Resume event", "Resume event
// suffix", "Check client", "Client variable"), letter case aside; Left,
// Top, Width and Height place the dialog. VALUE is text for the variable,
// event and suffix fields, a number for a timeout, a unit's name (as the
// list shows it) or its index 0 to 3 for a unit, and true/false (also 1/0,
// yes/no, on/off) for a check box. Lines are applied in their order.
//
// Example:
//   THeadlessView view([&](THeadlessView& v) {
//     EnterOptionValues(v, "Var1=TEMP\nType1=Second\nVal1=10", kTaPluginProperties);
//   });
//
// Threads: the thread that shows the form.
#pragma once

#include <string_view>

#include "ui/HeadlessView.h"

namespace tarvel {

// EnterOptionValues enters every line and presses OK. A line that cannot
// be entered throws std::invalid_argument naming it; the form is then
// still open and nothing has been saved.
void EnterOptionValues(THeadlessView& view, std::string_view lines, std::string_view property_map);

}  // namespace tarvel
