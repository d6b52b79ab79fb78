// Controls of the control model (components/Controls.h): TControl's
// placement, properties and notices, and TWinControl's placement children
// with their alignment and anchor layout. Called on the thread that owns
// the form.
#include "components/Controls.h"

#include <algorithm>
#include <string>
#include <vector>

#include "components/PropertyTable.h"

namespace tarvel {

namespace {

const std::vector<std::string>& BiDiNames() {
  static const std::vector<std::string> names{"bdLeftToRight", "bdRightToLeft",
                                              "bdRightToLeftNoAlign", "bdRightToLeftReadingOnly"};
  return names;
}

}  // namespace

const TClassInfo& TControl::StaticClass() {
  static const TClassInfo info = [] {
    TClassInfo c{
        "TControl",
        &TComponent::StaticClass(),
        {IntProp<TControl>("Left", &TControl::Left, &TControl::SetLeft),
         IntProp<TControl>("Top", &TControl::Top, &TControl::SetTop),
         IntProp<TControl>("Width", &TControl::Width, &TControl::SetWidth),
         IntProp<TControl>("Height", &TControl::Height, &TControl::SetHeight),
         EnumProp<TControl>("Align",
                            {"alNone", "alTop", "alBottom", "alLeft", "alRight", "alClient"},
                            &TControl::Align, &TControl::SetAlign),
         BoolProp<TControl>("Enabled", &TControl::Enabled, &TControl::SetEnabled),
         BoolProp<TControl>("Visible", &TControl::Visible, &TControl::SetVisible),
         WideProp<TControl>("Hint", &TControl::Hint, &TControl::SetHint),
         EnumProp<TControl>("BiDiMode", BiDiNames(), &TControl::BiDiMode, &TControl::SetBiDiMode),
         IntProp<TControl>("HelpContext", &TControl::HelpContext, &TControl::SetHelpContext)}};
    TPropInfo anchors;
    anchors.name = "Anchors";
    anchors.kind = tkSet;
    anchors.get = [](const TObject& o) {
      return OleVariant(static_cast<int32_t>(As<TControl>(o).Anchors()));
    };
    anchors.set = [](TObject& o, const OleVariant& v) {
      As<TControl>(o).SetAnchors(static_cast<TAnchors>(v.AsInt64().value_or(0) & 15));
    };
    c.properties.push_back(anchors);
    c.properties.push_back(
        ObjectProp<TControl, TFont>("Font", TFont::StaticClass(), &TControl::Font));
    TPropInfo parent;
    parent.name = "Parent";
    parent.kind = tkClass;
    // No held class here: TWinControl's descriptor is built on this one.
    parent.get_object = [](const TObject& o) -> TObject* { return As<TControl>(o).Parent(); };
    parent.set_object = [](TObject& o, TObject* p) {
      As<TControl>(o).SetParent(dynamic_cast<TWinControl*>(p));
    };
    c.properties.push_back(parent);
    return c;
  }();
  return info;
}

TControl::TControl(TComponent* owner) : TComponent(owner) {
  font_.OnChange = [this](TObject&) { Notify("Font"); };
}

TControl::~TControl() {
  SetParent(nullptr);
}

void TControl::SetParent(TWinControl* parent) {
  if (parent == parent_ || parent == this) return;
  if (parent_) parent_->ChildRemoved(this);
  parent_ = parent;
  if (parent_) parent_->ChildInserted(this);
  Notify("Parent");
}

void TControl::SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (left == left_ && top == top_ && width == width_ && height == height_) return;
  const bool resized = width != width_ || height != height_;
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  if (parent_ && !parent_->laying_out_) {
    if (align_ != alNone)
      parent_->Realign();
    else
      parent_->RecordMargins(this);
  }
  Notify("Bounds");
  if (resized) Resized();
}

void TControl::SetAnchors(TAnchors anchors) {
  if (anchors == anchors_) return;
  anchors_ = anchors;
  if (parent_) parent_->RecordMargins(this);
  Notify("Anchors");
}

void TControl::SetAlign(TAlign align) {
  if (align == align_) return;
  align_ = align;
  if (parent_) parent_->Realign();
  Notify("Align");
}

void TControl::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  Notify("Enabled");
}

void TControl::SetVisible(bool visible) {
  if (visible == visible_) return;
  visible_ = visible;
  Notify("Visible");
}

void TControl::SetHint(std::u16string_view hint) {
  if (hint == hint_) return;
  hint_.assign(hint);
  Notify("Hint");
}

void TControl::SetBiDiMode(TBiDiMode mode) {
  if (mode > bdRightToLeftReadingOnly) mode = bdLeftToRight;
  if (mode == bidi_mode_) return;
  bidi_mode_ = mode;
  Notify("BiDiMode");
}

TForm* TControl::Form() {
  for (TControl* c = this; c; c = c->parent_)
    if (c->InheritsFrom(TForm::StaticClass())) return static_cast<TForm*>(c);
  return nullptr;
}

void TControl::Notify(std::string_view property) {
  if (OnModelChange) OnModelChange(*this, property);
}

void TControl::Resized() {
  if (OnResize) OnResize(*this);
}

const TClassInfo& TWinControl::StaticClass() {
  static const TClassInfo info{
      "TWinControl",
      &TControl::StaticClass(),
      {IntProp<TWinControl>("TabOrder", &TWinControl::TabOrder, &TWinControl::SetTabOrder)}};
  return info;
}

TWinControl::~TWinControl() {
  for (TControl* child : controls_) child->parent_ = nullptr;
  controls_.clear();
  margins_.clear();
}

void TWinControl::SetTabOrder(int32_t order) {
  if (order == tab_order_) return;
  tab_order_ = order;
  Notify("TabOrder");
}

void TControl::SetHelpContext(int32_t topic) {
  if (topic == help_context_) return;
  help_context_ = topic;
  Notify("HelpContext");
}

void TWinControl::ChildInserted(TControl* child) {
  controls_.push_back(child);
  margins_.emplace_back();
  if (child->Align() != alNone)
    Realign();
  else
    RecordMargins(child);
}

void TWinControl::ChildRemoved(TControl* child) {
  auto it = std::find(controls_.begin(), controls_.end(), child);
  if (it == controls_.end()) return;
  margins_.erase(margins_.begin() + (it - controls_.begin()));
  controls_.erase(it);
  Realign();
}

void TWinControl::RecordMargins(TControl* child) {
  auto it = std::find(controls_.begin(), controls_.end(), child);
  if (it == controls_.end()) return;
  Margins& m = margins_[static_cast<size_t>(it - controls_.begin())];
  m.right = ClientWidth() - (child->Left() + child->Width());
  m.bottom = ClientHeight() - (child->Top() + child->Height());
}

void TWinControl::Realign() {
  if (laying_out_) return;
  LayOut(ClientWidth(), ClientHeight());
}

void TWinControl::LayOut(int32_t old_client_width, int32_t old_client_height) {
  laying_out_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{laying_out_};
  const int32_t cw = ClientWidth(), ch = ClientHeight();
  // Aligned children take their edge in the order top, bottom, left, right,
  // then the rest goes to the client-aligned ones.
  int32_t top = 0, bottom = ch, left = 0, right = cw;
  for (TAlign pass : {alTop, alBottom, alLeft, alRight, alClient}) {
    for (TControl* c : controls_) {
      if (c->Align() != pass || !c->Visible()) continue;
      switch (pass) {
        case alTop:
          c->SetBounds(left, top, right - left, c->Height());
          top += c->Height();
          break;
        case alBottom:
          c->SetBounds(left, bottom - c->Height(), right - left, c->Height());
          bottom -= c->Height();
          break;
        case alLeft:
          c->SetBounds(left, top, c->Width(), bottom - top);
          left += c->Width();
          break;
        case alRight:
          c->SetBounds(right - c->Width(), top, c->Width(), bottom - top);
          right -= c->Width();
          break;
        default:
          c->SetBounds(left, top, right - left, bottom - top);
          break;
      }
    }
  }
  // Anchored children keep the distances recorded when they were placed.
  if (cw != old_client_width || ch != old_client_height) {
    for (size_t i = 0; i < controls_.size(); ++i) {
      TControl* c = controls_[i];
      if (c->Align() != alNone) continue;
      const Margins& m = margins_[i];
      int32_t x = c->Left(), y = c->Top(), w = c->Width(), h = c->Height();
      const TAnchors a = c->Anchors();
      if (a & akRight) {
        if (a & akLeft)
          w = cw - m.right - x;
        else
          x = cw - m.right - w;
      }
      if (a & akBottom) {
        if (a & akTop)
          h = ch - m.bottom - y;
        else
          y = ch - m.bottom - h;
      }
      c->SetBounds(x, y, w, h);
    }
  }
  for (size_t i = 0; i < controls_.size(); ++i) {
    TControl* c = controls_[i];
    margins_[i].right = cw - (c->Left() + c->Width());
    margins_[i].bottom = ch - (c->Top() + c->Height());
  }
}

void TWinControl::SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) {
  const int32_t old_cw = ClientWidth(), old_ch = ClientHeight();
  TControl::SetBounds(left, top, width, height);
  if (ClientWidth() != old_cw || ClientHeight() != old_ch) LayOut(old_cw, old_ch);
}

}  // namespace tarvel
