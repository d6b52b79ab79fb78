#include "translation/HtmlHelp.h"

#include <filesystem>
#include <vector>

#include "Common/ThreadSafety.h"
#include "components/Controls.h"
#include "platform/help.h"
#include "platform/module.h"
#include "platform/thread.h"

namespace tarvel {

const TClassInfo& THtmlHelp::StaticClass() {
  static const TClassInfo info = [] {
    TClassInfo c{"THtmlHelp",
                 &TComponent::StaticClass(),
                 {FieldProperty("ChmFile", &THtmlHelp::chm_file_),
                  FieldProperty("WinDef", &THtmlHelp::win_def_)}};
    TPropInfo default_file = FieldProperty("DefaultFile", &THtmlHelp::default_file_);
    default_file.set = [](TObject& o, const OleVariant& v) {
      static_cast<THtmlHelp&>(o).SetDefaultFile(v.AsInt64().value_or(0) != 0);
    };
    c.properties.push_back(default_file);
    return c;
  }();
  return info;
}

namespace {

// The live components, oldest first, and the handler the application had
// before the first of them. Help requests are answered under the lock, so
// a component is not destroyed while it answers one.
RecursiveMutex g_live_mu;
std::vector<THtmlHelp*> g_live TARVEL_GUARDED_BY(g_live_mu);
TApplication::THelpEvent g_outer_handler TARVEL_GUARDED_BY(g_live_mu);

bool Dispatch(uint16_t command, intptr_t data, bool& call_help) {
  RecursiveMutexLock lock(g_live_mu);
  if (g_live.empty()) return false;
  THtmlHelp* answering = g_live.back();
  const uint32_t me = platform::CurrentThreadId();
  for (auto it = g_live.rbegin(); it != g_live.rend(); ++it)
    if ((*it)->CreatedOn() == me) {
      answering = *it;
      break;
    }
  return answering->ApplicationHelp(command, data, call_help);
}

}  // namespace

THtmlHelp::THtmlHelp(TComponent* owner)
    : TComponent(owner), thread_id_(platform::CurrentThreadId()) {
  RecursiveMutexLock lock(g_live_mu);
  if (g_live.empty()) g_outer_handler = Application().SetOnHelp(Dispatch);
  g_live.push_back(this);
}

THtmlHelp::~THtmlHelp() {
  {
    RecursiveMutexLock lock(g_live_mu);
    std::erase(g_live, this);
    if (g_live.empty()) Application().SetOnHelp(std::move(g_outer_handler));
  }
  platform::UnloadHtmlHelp();
}

void THtmlHelp::SetDefaultFile(bool value) {
  default_file_ = value;
  if (value) chm_file_.clear();
}

void THtmlHelp::Loaded() {
  if (!default_file_) return;
  chm_file_ = Application().HelpFile();
  namespace fs = std::filesystem;
  if (!chm_file_.empty() && !fs::path(chm_file_).has_parent_path()) {
    fs::path program(platform::MainProgramPath());
    chm_file_ = (program.parent_path() / chm_file_).string();
  }
}

std::string THtmlHelp::HelpPath(std::string_view topic) const {
  std::string path = chm_file_;
  if (!topic.empty()) path.append("::").append(topic);
  if (!win_def_.empty()) path.append(">").append(win_def_);
  return path;
}

platform::WindowHandle THtmlHelp::HelpOwnerWindow() const {
  try {
    auto window_of = [](TComponent* c) -> platform::WindowHandle {
      if (!c || !c->InheritsFrom(TForm::StaticClass())) return 0;
      return static_cast<TForm*>(c)->Handle();
    };
    for (TComponent* form : {Application().ActiveForm(), Owner(), Application().MainForm()})
      if (platform::WindowHandle w = window_of(form)) return w;
  } catch (...) {
  }
  return platform::DesktopWindow();
}

uintptr_t THtmlHelp::ShowContext(int32_t context) {
  if (!platform::IsHtmlHelpLoaded()) return 0;
  return platform::HtmlHelpCall(HelpOwnerWindow(), HelpPath({}), platform::kHhHelpContext,
                                static_cast<uintptr_t>(context));
}

bool THtmlHelp::ApplicationHelp(uint16_t command, intptr_t data, bool& call_help) {
  call_help = false;  // the application must not start a help engine of its own
  switch (command) {
    case TApplication::kHelpContext:
    case TApplication::kHelpContextPopup:
      ShowContext(static_cast<int32_t>(data));
      return true;
    case TApplication::kHelpContents:
      if (!platform::IsHtmlHelpLoaded()) return false;
      platform::HtmlHelpCall(HelpOwnerWindow(), HelpPath({}), platform::kHhDisplayToc, 0);
      return true;
    default:
      return true;
  }
}

}  // namespace tarvel
