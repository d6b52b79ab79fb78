// TfrmOption: the options dialog as a toolkit-free model. Four rows of
// watched parser variable, timeout, unit and event name, the three
// behaviour flags, the resume-event suffix and the client-ID variable.
// The control names are the names the module's property map uses, so they
// are fixed. The model is the single source of truth: a view (the Win32
// dialog, or THeadlessView for code and tests) shows it and feeds the
// user's actions back into it; every rule (clamping, enabling, centring the
// buttons, what is saved) lives here.
//
// The form does not write into the module's settings object: on OK it
// saves its controls through the property map at the instance's settings
// place; the module then reads them back (monitor/TaPlugin.cpp).
//
// Life, as the module runs it for each showing:
//   TfrmOption form(module, kTaPluginProperties, TProxyCodeObject());  // FormCreate runs here
//   int32_t result = form.ShowModal(view, owner);   // FormClose runs as it closes
//   // result == kMrOk: everything was saved; else only the dialog's place
//
// Threads: the thread that shows it. Construction (with FormCreate) and
// FormClose hold the module's command lock, as they read and write what
// commands change (the settings place, the language, the parser items);
// the modal loop itself does not, so the user holds up no other thread.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "components/Controls.h"
#include "platform/window.h"
#include "translation/HtmlHelp.h"
#include "ui/FormView.h"

namespace tarvel {

class TvopPlugin;

class TfrmOption : public TForm {
 public:
  // Design values.
  static constexpr int32_t kDesignLeft = 314, kDesignTop = 184;
  static constexpr int32_t kDesignWidth = 541, kDesignHeight = 402;
  // The inner margin between the window's frame and the controls.
  static constexpr int32_t kBorderWidth = 3;
  static constexpr int32_t kHelpTopic = 80;
  // Tag of what the translator leaves alone.
  static constexpr int32_t kKeepUntranslated = 9999;
  static constexpr int kRows = 4;

  // Builds the controls, owned by the form, and runs FormCreate; the form
  // itself is owned by the module. properties: the module's property map.
  // defaults: the module's settings with their default values, whose
  // properties are named by the map's control paths with "_" for "."
  // ("edtClientVar_Text" for "edtClientVar.Text"); the controls show them
  // until the stored settings are read.
  TfrmOption(TvopPlugin& module, std::string properties, const TObject& defaults);
  ~TfrmOption() override;

  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }

  // ShowModal shows the form with the view, owned by the owner window,
  // runs FormClose with the result and returns it (kMrOk or kMrCancel).
  int32_t ShowModal(TFormView& view, platform::WindowHandle owner);

  // The controls, top to bottom; all owned by the form.
  TGroupBox* gbDB = nullptr;
  TLabel *Label1 = nullptr, *Label2 = nullptr, *Label3 = nullptr;
  TComboBox* var[kRows] = {};   // var1..var4: editable, the host's parser item names
  TSpinEdit* val[kRows] = {};   // val1..val4: timeouts, 6 decimals
  TComboBox* type[kRows] = {};  // type1..type4: units, a choice from the list
  TEdit* event[kRows] = {};     // event1..event4
  TCheckBox *chkWaitData = nullptr, *chkEvOnce = nullptr, *chkEventResume = nullptr,
            *chkCheckClient = nullptr;
  TLabel* lblEventResume = nullptr;
  TEdit* edtEventResume = nullptr;
  TLabel* lblClientVar = nullptr;
  TEdit* edtClientVar = nullptr;
  TPanel* pBot = nullptr;
  TBevel* Bevel6 = nullptr;
  TButton *btnOK = nullptr, *btnCancel = nullptr;
  THtmlHelp* HtmlHelp = nullptr;

  // The handlers.
  // FormCreate: the defaults, caption, help file, translation, the variable
  // and unit lists, the stored settings and the placement, the enabling;
  // an exception in any step ends it silently.
  void FormCreate(const TObject& defaults);
  // FormClose: OK saves every setting, anything else only the dialog's
  // position and size. The position and size are saved only when the user
  // moved or sized the dialog while it was shown: until then it opens
  // centred over the host's window. After a failed load OK saves only the
  // settings the user changed.
  void FormClose(int32_t modal_result);
  // val1Change: a spin box whose value is not 0 or more is set to 0.
  void val1Change(TObject& sender);
  // LoadFailure: why FormCreate could not read the stored settings; empty
  // when it read them or there were none yet. The form then shows the
  // defaults for what it could not read, and OK overwrites nothing the
  // user did not change.
  const std::string& LoadFailure() const { return load_failure_; }
  void chkCheckClientClick();
  void chkEventResumeClick();
  // pBotResize centres the two buttons, 4 pixels apart.
  void pBotResize();

 private:
  void BuildControls();
  // ShowDefaults puts each mapped control's default in place.
  void ShowDefaults(const TObject& defaults);
  void TranslateForm();
  // KeepOnAMonitor brings a form that lies off every monitor onto the work
  // area of the nearest one, keeping its size.
  void KeepOnAMonitor();
  platform::ScreenRect Bounds() const;
  // MappedValue: the value of a property map path ("var1.Text", "Left")
  // as text.
  std::string MappedValue(std::string_view path) const;
  // ChangedLines keeps the map lines whose value differs from the one the
  // form showed when FormCreate ended.
  std::string ChangedLines(std::string_view map) const;

  TvopPlugin& module_;
  const std::string properties_;
  std::string load_failure_;
  std::map<std::string, std::string> shown_values_;  // after a failed load
  platform::ScreenRect shown_at_;                    // where the form was when it was shown
};

}  // namespace tarvel
