// THtmlHelp: the help component of a form. While it lives it answers the
// application's help requests (Application().OnHelp) by opening topics of
// its compiled help file in the help viewer (platform/help.h): F1 on a form
// whose HelpContext is 80 asks the application for topic 80, and the
// component opens ChmFile at context 80.
//
// The viewer is loaded on the first request and unloaded when the
// component is destroyed; a later component loads it again.
//
// Several components may live at once (dialogs of several instances, on
// several threads). The application's help then goes to the latest one
// created on the asking thread, else the latest one; each takes itself out
// when it is destroyed, in whatever order, and when the last one goes the
// handler that was there before the first is put back.
//
// Example (what the options form does):
//   auto* help = new THtmlHelp(&form);           // takes over the application's help
//   help->SetChmFile(module_dir + "tarvel.chm");
//   Application().HelpContext(80);               // opens topic 80
//   delete help;                                 // the previous handler is back
//
// Threads: the thread that shows the form; the application's handler and
// the viewer's state are locked (platform/help.h, components/Components.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "components/Components.h"
#include "platform/window.h"

namespace tarvel {

class THtmlHelp : public TComponent {
 public:
  // Takes over the application's help requests.
  explicit THtmlHelp(TComponent* owner = nullptr);
  // Gives them back (to the one before it, or to the application's own
  // handler) and unloads the viewer.
  ~THtmlHelp() override;

  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }

  // ChmFile: the compiled help file. WinDef: a window definition of the
  // file, appended to the path. DefaultFile: take the application's help
  // file in Loaded; setting it true also clears ChmFile.
  const std::string& ChmFile() const { return chm_file_; }
  void SetChmFile(std::string_view file) { chm_file_.assign(file); }
  const std::string& WinDef() const { return win_def_; }
  void SetWinDef(std::string_view name) { win_def_.assign(name); }
  bool DefaultFile() const { return default_file_; }
  void SetDefaultFile(bool value);

  // Loaded runs once the stored properties are read: with DefaultFile,
  // ChmFile becomes the application's help file, put in the program's
  // directory when it names none.
  void Loaded();

  // HelpPath: ChmFile, "::topic" for a topic, ">WinDef" for a window.
  std::string HelpPath(std::string_view topic) const;
  // HelpOwnerWindow: the window of the active form, of the owning form or
  // of the main form, whichever comes first; else the desktop.
  platform::WindowHandle HelpOwnerWindow() const;
  // ShowContext opens a topic by its context number; the viewer's answer
  // (its window), 0 when it shows nothing or is not there.
  uintptr_t ShowContext(int32_t context);
  // ApplicationHelp is the application's help handler while the component
  // lives: commands 1 and 8 open the topic data and answer true, 11 opens
  // the contents (true when the viewer is there), anything else answers
  // true and shows nothing. call_help is always set false.
  bool ApplicationHelp(uint16_t command, intptr_t data, bool& call_help);
  // CreatedOn: the thread that created the component.
  uint32_t CreatedOn() const { return thread_id_; }

 private:
  std::string chm_file_;
  std::string win_def_;
  bool default_file_ = true;
  uint32_t thread_id_;  // the thread that created it
};

}  // namespace tarvel
