#include "settings/Controls.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/text.h"

namespace tarvel {

namespace {

// ---- Property table helpers: getters and setters over member functions ----

template <class C>
const C& As(const TObject& o) {
  return static_cast<const C&>(o);
}
template <class C>
C& As(TObject& o) {
  return static_cast<C&>(o);
}

template <class C, class G, class S>
TPropInfo WideProp(std::string name, G get, S set) {
  TPropInfo p;
  p.name = std::move(name);
  p.kind = tkWString;
  p.get = [get](const TObject& o) {
    const std::u16string text = (As<C>(o).*get)();
    return OleVariant(std::u16string_view(text));
  };
  p.set = [set](TObject& o, const OleVariant& v) { (As<C>(o).*set)(v.ToWide()); };
  return p;
}

template <class C>
TPropInfo WideField(std::string name, std::u16string C::*member) {
  TPropInfo p;
  p.name = std::move(name);
  p.kind = tkWString;
  p.get = [member](const TObject& o) { return OleVariant(std::u16string_view(As<C>(o).*member)); };
  p.set = [member](TObject& o, const OleVariant& v) { As<C>(o).*member = v.ToWide(); };
  return p;
}

template <class C, class G, class S>
TPropInfo AnsiProp(std::string name, G get, S set) {
  TPropInfo p;
  p.name = std::move(name);
  p.kind = tkString;
  p.get = [get](const TObject& o) { return OleVariant::AnsiString((As<C>(o).*get)()); };
  p.set = [set](TObject& o, const OleVariant& v) { (As<C>(o).*set)(v.ToAnsi()); };
  return p;
}

template <class C, class G, class S>
TPropInfo IntProp(std::string name, G get, S set, int64_t min = std::numeric_limits<int32_t>::min(),
                  int64_t max = std::numeric_limits<int32_t>::max()) {
  TPropInfo p;
  p.name = std::move(name);
  p.kind = tkInteger;
  p.min_value = min;
  p.max_value = max;
  p.get = [get](const TObject& o) { return OleVariant(static_cast<int32_t>((As<C>(o).*get)())); };
  p.set = [set](TObject& o, const OleVariant& v) {
    using Arg = decltype((As<C>(o).*get)());
    (As<C>(o).*set)(static_cast<std::decay_t<Arg>>(v.AsInt64().value_or(0)));
  };
  return p;
}

template <class C, class G, class S>
TPropInfo DoubleProp(std::string name, G get, S set) {
  TPropInfo p;
  p.name = std::move(name);
  p.kind = tkFloat;
  p.get = [get](const TObject& o) { return OleVariant((As<C>(o).*get)()); };
  p.set = [set](TObject& o, const OleVariant& v) { (As<C>(o).*set)(v.AsDouble().value_or(0)); };
  return p;
}

template <class C, class G, class S>
TPropInfo EnumProp(std::string name, std::vector<std::string> names, G get, S set) {
  TPropInfo p;
  p.name = std::move(name);
  p.kind = tkEnumeration;
  p.enum_names = std::move(names);
  p.get = [get](const TObject& o) { return OleVariant(static_cast<int32_t>((As<C>(o).*get)())); };
  p.set = [set](TObject& o, const OleVariant& v) {
    using Arg = std::decay_t<decltype((As<C>(o).*get)())>;
    (As<C>(o).*set)(static_cast<Arg>(v.AsInt64().value_or(0)));
  };
  return p;
}

template <class C, class G, class S>
TPropInfo BoolProp(std::string name, G get, S set) {
  TPropInfo p;
  p.name = std::move(name);
  p.kind = tkEnumeration;
  p.enum_names = BooleanNames();
  p.get = [get](const TObject& o) { return OleVariant(static_cast<int32_t>((As<C>(o).*get)())); };
  p.set = [set](TObject& o, const OleVariant& v) { (As<C>(o).*set)(v.AsInt64().value_or(0) != 0); };
  return p;
}

// ObjectProp: a read-only property holding an object the control owns.
template <class C, class T>
TPropInfo ObjectProp(std::string name, const TClassInfo& held, T& (C::*get)()) {
  TPropInfo p;
  p.name = std::move(name);
  p.kind = tkClass;
  p.held_class = &held;
  p.get_object = [get](const TObject& o) -> TObject* { return &(const_cast<C&>(As<C>(o)).*get)(); };
  return p;
}

const std::vector<std::string>& BiDiNames() {
  static const std::vector<std::string> names{"bdLeftToRight", "bdRightToLeft",
                                              "bdRightToLeftNoAlign", "bdRightToLeftReadingOnly"};
  return names;
}

}  // namespace

// ---- Fonts ----

const TClassInfo& TFont::StaticClass() {
  static const TClassInfo info{
      "TFont",
      &TObject::StaticClass(),
      {AnsiProp<TFont>("Name", &TFont::Name, &TFont::SetName),
       IntProp<TFont>("Height", &TFont::Height, &TFont::SetHeight),
       IntProp<TFont>("Size", &TFont::Size, &TFont::SetSize),
       IntProp<TFont>("Charset", &TFont::Charset, &TFont::SetCharset, 0, 255)}};
  return info;
}

void TFont::SetName(std::string_view name) {
  if (name == name_) return;
  name_.assign(name);
  Changed();
}

void TFont::SetHeight(int32_t height) {
  if (height == height_) return;
  height_ = height;
  Changed();
}

int32_t TFont::Size() const {
  // Points at 96 dots per inch: pixels * 72 / 96, rounded.
  return static_cast<int32_t>(std::lround(-height_ * 72.0 / 96.0));
}

void TFont::SetSize(int32_t points) {
  SetHeight(-static_cast<int32_t>(std::lround(points * 96.0 / 72.0)));
}

void TFont::SetCharset(uint8_t charset) {
  if (charset == charset_) return;
  charset_ = charset;
  Changed();
}

void TFont::HandleNeeded() {
  realised_ = true;
}

void TFont::Assign(const TFont& other) {
  if (&other == this) return;
  const bool changed =
      name_ != other.name_ || height_ != other.height_ || charset_ != other.charset_;
  name_ = other.name_;
  height_ = other.height_;
  charset_ = other.charset_;
  if (changed) Changed();
}

void TFont::Changed() {
  if (OnChange) OnChange(*this);
}

const TClassInfo& TSizeConstraints::StaticClass() {
  static const TClassInfo info{"TSizeConstraints",
                               &TObject::StaticClass(),
                               {FieldProperty("MinWidth", &TSizeConstraints::MinWidth),
                                FieldProperty("MaxWidth", &TSizeConstraints::MaxWidth),
                                FieldProperty("MinHeight", &TSizeConstraints::MinHeight),
                                FieldProperty("MaxHeight", &TSizeConstraints::MaxHeight)}};
  return info;
}

void TSizeConstraints::Apply(int32_t& width, int32_t& height) const {
  if (MaxWidth > 0) width = std::min(width, MaxWidth);
  if (MinWidth > 0) width = std::max(width, MinWidth);
  if (MaxHeight > 0) height = std::min(height, MaxHeight);
  if (MinHeight > 0) height = std::max(height, MinHeight);
}

// ---- Line lists and collections ----

const TClassInfo& TWideStrings::StaticClass() {
  static const TClassInfo info{"TWideStrings", &TObject::StaticClass(), {}};
  return info;
}

void TWideStrings::SetStrings(int index, std::u16string_view line) {
  std::u16string& slot = lines_.at(static_cast<size_t>(index));
  if (slot == line) return;
  slot.assign(line);
  Changed();
}

void TWideStrings::Add(std::u16string_view line) {
  lines_.emplace_back(line);
  Changed();
}

void TWideStrings::Clear() {
  if (lines_.empty()) return;
  lines_.clear();
  Changed();
}

void TWideStrings::Assign(const std::vector<std::u16string>& lines) {
  if (lines == lines_) return;
  lines_ = lines;
  Changed();
}

int TWideStrings::IndexOf(std::u16string_view text) const {
  for (size_t i = 0; i < lines_.size(); ++i)
    if (lines_[i] == text) return static_cast<int>(i);
  return -1;
}

void TWideStrings::Sort() {
  if (std::is_sorted(lines_.begin(), lines_.end())) return;
  std::sort(lines_.begin(), lines_.end());
  Changed();
}

void TWideStrings::EndUpdate() {
  if (update_count_ > 0 && --update_count_ == 0 && changed_while_updating_) {
    changed_while_updating_ = false;
    Changed();
  }
}

void TWideStrings::Changed() {
  if (update_count_ > 0) {
    changed_while_updating_ = true;
    return;
  }
  if (owner_notify_) owner_notify_();
  if (OnChange) OnChange(*this);
}

const TClassInfo& TCollectionItem::StaticClass() {
  static const TClassInfo info{"TCollectionItem", &TObject::StaticClass(), {}};
  return info;
}

int TCollectionItem::Index() const {
  if (!collection_) return -1;
  for (int i = 0; i < collection_->Count(); ++i)
    if (collection_->Items(i) == this) return i;
  return -1;
}

const TClassInfo& TCollection::StaticClass() {
  static const TClassInfo info{"TCollection", &TObject::StaticClass(), {}};
  return info;
}

void TCollection::Append(std::unique_ptr<TCollectionItem> item) {
  item->collection_ = this;
  items_.push_back(std::move(item));
}

void TCollection::Delete(int index) {
  items_.erase(items_.begin() + index);
}

void TCollection::Clear() {
  items_.clear();
}

// ---- Controls ----

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

// ---- Form ----

const TClassInfo& TForm::StaticClass() {
  static const TClassInfo info = [] {
    TClassInfo c{"TForm",
                 &TWinControl::StaticClass(),
                 {WideProp<TForm>("Caption", &TForm::Caption, &TForm::SetCaption),
                  AnsiProp<TForm>("HelpFile", &TForm::HelpFile, &TForm::SetHelpFile),
                  IntProp<TForm>("ModalResult", &TForm::ModalResult, &TForm::SetModalResult),
                  ObjectProp<TForm, TSizeConstraints>(
                      "Constraints", TSizeConstraints::StaticClass(), &TForm::Constraints)}};
    TPropInfo active;
    active.name = "ActiveControl";
    active.kind = tkClass;
    active.held_class = &TWinControl::StaticClass();
    active.get_object = [](const TObject& o) -> TObject* { return As<TForm>(o).ActiveControl(); };
    active.set_object = [](TObject& o, TObject* p) {
      As<TForm>(o).SetActiveControl(static_cast<TWinControl*>(p));
    };
    c.properties.push_back(active);
    return c;
  }();
  return info;
}

TForm::TForm(TComponent* owner) : TWinControl(owner) {}

void TForm::SetCaption(std::u16string_view caption) {
  if (caption == caption_) return;
  caption_.assign(caption);
  Notify("Caption");
}

void TForm::SetHelpFile(std::string_view file) {
  if (file == help_file_) return;
  help_file_.assign(file);
  Notify("HelpFile");
}

void TForm::SetModalResult(int32_t result) {
  if (result == modal_result_) return;
  modal_result_ = result;
  Notify("ModalResult");
}

void TForm::SetActiveControl(TWinControl* control) {
  if (control == active_control_) return;
  active_control_ = control;
  Notify("ActiveControl");
}

void TForm::SetFrameSize(int32_t horizontal, int32_t vertical) {
  if (horizontal == frame_width_ && vertical == frame_height_) return;
  const int32_t old_cw = ClientWidth(), old_ch = ClientHeight();
  frame_width_ = horizontal;
  frame_height_ = vertical;
  if (ClientWidth() != old_cw || ClientHeight() != old_ch) LayOut(old_cw, old_ch);
}

void TForm::SetClientSize(int32_t width, int32_t height) {
  SetBounds(Left(), Top(), width + frame_width_, height + frame_height_);
}

void TForm::SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) {
  constraints_.Apply(width, height);
  TWinControl::SetBounds(left, top, width, height);
}

// ---- Simple controls ----

const TClassInfo& TLabel::StaticClass() {
  static const TClassInfo info{
      "TLabel",
      &TControl::StaticClass(),
      {WideProp<TLabel>("Caption", &TLabel::Caption, &TLabel::SetCaption),
       BoolProp<TLabel>("WordWrap", &TLabel::WordWrap, &TLabel::SetWordWrap),
       BoolProp<TLabel>("VerticalCentre", &TLabel::VerticalCentre, &TLabel::SetVerticalCentre)}};
  return info;
}

void TLabel::SetCaption(std::u16string_view caption) {
  if (caption == caption_) return;
  caption_.assign(caption);
  Notify("Caption");
}

void TLabel::SetWordWrap(bool wrap) {
  if (wrap == word_wrap_) return;
  word_wrap_ = wrap;
  Notify("WordWrap");
}

void TLabel::SetVerticalCentre(bool centre) {
  if (centre == vertical_centre_) return;
  vertical_centre_ = centre;
  Notify("VerticalCentre");
}

const TClassInfo& TBevel::StaticClass() {
  static const TClassInfo info{
      "TBevel",
      &TControl::StaticClass(),
      {EnumProp<TBevel>(
          "Shape", {"bsBox", "bsFrame", "bsTopLine", "bsBottomLine", "bsLeftLine", "bsRightLine"},
          &TBevel::Shape, &TBevel::SetShape)}};
  return info;
}

void TBevel::SetShape(TBevelShape shape) {
  if (shape == shape_) return;
  shape_ = shape;
  Notify("Shape");
}

const TClassInfo& TCaptionedWinControl::StaticClass() {
  static const TClassInfo info{
      "TCaptionedWinControl",
      &TWinControl::StaticClass(),
      {WideProp<TCaptionedWinControl>("Caption", &TCaptionedWinControl::Caption,
                                      &TCaptionedWinControl::SetCaption)}};
  return info;
}

void TCaptionedWinControl::SetCaption(std::u16string_view caption) {
  if (caption == caption_) return;
  caption_.assign(caption);
  Notify("Caption");
}

const TClassInfo& TGroupBox::StaticClass() {
  static const TClassInfo info{"TGroupBox", &TCaptionedWinControl::StaticClass(), {}};
  return info;
}

const TClassInfo& TPanel::StaticClass() {
  static const TClassInfo info{
      "TPanel",
      &TCaptionedWinControl::StaticClass(),
      {BoolProp<TPanel>("Bordered", &TPanel::Bordered, &TPanel::SetBordered)}};
  return info;
}

void TPanel::SetBordered(bool bordered) {
  if (bordered == bordered_) return;
  bordered_ = bordered;
  Notify("Bordered");
}

const TClassInfo& TButton::StaticClass() {
  static const TClassInfo info{
      "TButton",
      &TCaptionedWinControl::StaticClass(),
      {IntProp<TButton>("ModalResult", &TButton::ModalResult, &TButton::SetModalResult),
       BoolProp<TButton>("Default", &TButton::Default, &TButton::SetDefault),
       BoolProp<TButton>("Cancel", &TButton::Cancel, &TButton::SetCancel)}};
  return info;
}

void TButton::SetModalResult(int32_t result) {
  if (result == modal_result_) return;
  modal_result_ = result;
  Notify("ModalResult");
}

void TButton::SetDefault(bool value) {
  if (value == default_) return;
  default_ = value;
  Notify("Default");
}

void TButton::SetCancel(bool value) {
  if (value == cancel_) return;
  cancel_ = value;
  Notify("Cancel");
}

void TButton::Click() {
  if (modal_result_ != kMrNone)
    if (TForm* form = Form()) form->SetModalResult(modal_result_);
  if (OnClick) OnClick(*this);
}

const TClassInfo& TCheckBox::StaticClass() {
  static const TClassInfo info{
      "TCheckBox",
      &TCaptionedWinControl::StaticClass(),
      {BoolProp<TCheckBox>("Checked", &TCheckBox::Checked, &TCheckBox::SetChecked)}};
  return info;
}

void TCheckBox::SetChecked(bool checked) {
  if (checked == checked_) return;
  checked_ = checked;
  Notify("Checked");
  if (OnClick) OnClick(*this);
}

// ---- Edit controls ----

const TClassInfo& TCustomEdit::StaticClass() {
  static const TClassInfo info{
      "TCustomEdit",
      &TWinControl::StaticClass(),
      {WideProp<TCustomEdit>("Text", &TCustomEdit::Text, &TCustomEdit::SetText)}};
  return info;
}

bool TCustomEdit::StoreText(std::u16string_view text) {
  if (text == text_) return false;
  text_.assign(text);
  return true;
}

void TCustomEdit::SetText(std::u16string_view text) {
  if (!StoreText(text)) return;
  Notify("Text");
  if (OnChange) OnChange(*this);
}

const TClassInfo& TEdit::StaticClass() {
  static const TClassInfo info{"TEdit", &TCustomEdit::StaticClass(), {}};
  return info;
}

const TClassInfo& TSpinEdit::StaticClass() {
  static const TClassInfo info{
      "TSpinEdit",
      &TCustomEdit::StaticClass(),
      {DoubleProp<TSpinEdit>("Value", &TSpinEdit::Value, &TSpinEdit::SetValue),
       IntProp<TSpinEdit>("Decimals", &TSpinEdit::Decimals, &TSpinEdit::SetDecimals, 0, 15),
       DoubleProp<TSpinEdit>("Increment", &TSpinEdit::Increment, &TSpinEdit::SetIncrement)}};
  return info;
}

TSpinEdit::TSpinEdit(TComponent* owner) : TCustomEdit(owner) {
  StoreText(FormatValue(value_));
}

std::u16string TSpinEdit::FormatValue(double value) const {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", static_cast<int>(decimals_), value);
  std::string text(buffer);
  const char separator = platform::DecimalSeparator();
  if (separator != '.') std::replace(text.begin(), text.end(), '.', separator);
  return std::u16string(text.begin(), text.end());
}

void TSpinEdit::SetValue(double value) {
  if (!std::isfinite(value) || value == value_) return;
  value_ = value;
  StoreText(FormatValue(value_));
  Notify("Value");
  if (OnChange) OnChange(*this);
}

void TSpinEdit::SetDecimals(int32_t decimals) {
  decimals = std::clamp(decimals, 0, 15);
  if (decimals == decimals_) return;
  decimals_ = decimals;
  if (StoreText(FormatValue(value_))) Notify("Text");
}

void TSpinEdit::SetIncrement(double step) {
  if (step == increment_) return;
  increment_ = step;
  Notify("Increment");
}

void TSpinEdit::SetText(std::u16string_view text) {
  bool changed = StoreText(text);
  std::string narrow;
  for (char16_t c : text) narrow += c < 128 ? static_cast<char>(c) : '?';
  if (auto v = ParseNumber(narrow); v && std::isfinite(*v) && *v != value_) {
    value_ = *v;
    changed = true;
  }
  if (!changed) return;
  Notify("Text");
  if (OnChange) OnChange(*this);
}

// ---- Combo boxes ----

const TClassInfo& TCustomComboBox::StaticClass() {
  static const TClassInfo info{"TCustomComboBox",
                               &TWinControl::StaticClass(),
                               {IntProp<TCustomComboBox>("ItemIndex", &TCustomComboBox::ItemIndex,
                                                         &TCustomComboBox::SetItemIndex)}};
  return info;
}

const TClassInfo& TComboBox::StaticClass() {
  static const TClassInfo info{
      "TComboBox",
      &TCustomComboBox::StaticClass(),
      {EnumProp<TComboBox>("Style", {"csDropDown", "csDropDownList"}, &TComboBox::Style,
                           &TComboBox::SetStyle),
       ObjectProp<TComboBox, TWideStrings>("Items", TWideStrings::StaticClass(), &TComboBox::Items),
       WideProp<TComboBox>("Text", &TComboBox::Text, &TComboBox::SetText)}};
  return info;
}

TComboBox::TComboBox(TComponent* owner) : TCustomComboBox(owner) {
  items_.owner_notify_ = [this] { ItemsChanged(); };
}

void TComboBox::SetStyle(TComboBoxStyle style) {
  if (style == style_) return;
  style_ = style;
  if (style_ == csDropDownList && item_index_ < 0) text_.clear();
  Notify("Style");
}

void TComboBox::SetItemIndex(int32_t index) {
  if (index < 0 || index >= items_.Count()) index = -1;
  if (index == item_index_) return;
  item_index_ = index;
  text_ = index >= 0 ? items_.Strings(index) : std::u16string();
  Notify("ItemIndex");
  if (OnChange) OnChange(*this);
}

void TComboBox::SetText(std::u16string_view text) {
  if (style_ == csDropDownList) {
    if (int index = items_.IndexOf(text); index >= 0) SetItemIndex(index);
    return;
  }
  if (text == text_) return;
  text_.assign(text);
  if (item_index_ >= 0 && items_.Strings(item_index_) != text_) item_index_ = -1;
  Notify("Text");
  if (OnChange) OnChange(*this);
}

void TComboBox::ItemsChanged() {
  if (item_index_ >= items_.Count()) item_index_ = -1;
  if (item_index_ >= 0) text_ = items_.Strings(item_index_);
  Notify("Items");
}

const TClassInfo& TComboExItem::StaticClass() {
  static const TClassInfo info{"TComboExItem",
                               &TCollectionItem::StaticClass(),
                               {WideField("Caption", &TComboExItem::Caption),
                                FieldProperty("ImageIndex", &TComboExItem::ImageIndex)}};
  return info;
}

const TClassInfo& TComboBoxEx::StaticClass() {
  static const TClassInfo info{"TComboBoxEx",
                               &TCustomComboBox::StaticClass(),
                               {ObjectProp<TComboBoxEx, TCollection>(
                                   "ItemsEx", TCollection::StaticClass(), &TComboBoxEx::ItemsEx)}};
  return info;
}

TComboExItem& TComboBoxEx::AddItem(std::u16string_view caption, int32_t image_index) {
  TComboExItem& item = items_ex_.Add<TComboExItem>();
  item.Caption.assign(caption);
  item.ImageIndex = image_index;
  Notify("ItemsEx");
  return item;
}

void TComboBoxEx::SetItemIndex(int32_t index) {
  if (index < 0 || index >= items_ex_.Count()) index = -1;
  if (index == item_index_) return;
  item_index_ = index;
  Notify("ItemIndex");
  if (OnChange) OnChange(*this);
}

}  // namespace tarvel
