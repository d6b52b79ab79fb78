// Toolkit-free controls on the component model (components/Components.h): the
// classes an options form is made of, the properties a form designer
// publishes on them, and the few notifications a form model needs. A view
// (native windows, or a headless one for tests) mirrors these objects; the
// settings engine and the translator reach them only through their
// property tables.
//
//  - TFont: name, height/size, character set, and whether a view has
//    realised it as a system font.
//  - TControl: placement parent (distinct from the owner), bounds,
//    Anchors/Align, Enabled, Visible, Hint, Font, BiDiMode, HelpContext. Placement
//    children are laid out by their anchors when a windowed parent's
//    client size changes.
//  - TWinControl: a windowed control: TabOrder, placement children.
//  - TForm: Caption, HelpFile, HelpContext, ModalResult, size
//    Constraints, ActiveControl; its client area is its size less a frame
//    the view states.
//  - TLabel, TBevel (not windowed); TGroupBox, TPanel, TButton, TCheckBox;
//    edit controls TEdit and TSpinEdit (TCustomEdit: their Text is what the
//    user typed and never translated); TComboBox (the standard kind:
//    editable or drop-down list, Items as a TWideStrings) and TComboBoxEx
//    (the extended, image-carrying kind: ItemsEx, a collection).
//  - TWideStrings: the wide-text line list of the Unicode controls' items.
//  - TCollection / TCollectionItem: owned lists of property-carrying items.
//
// Texts a user sees (Caption, Hint, Text, item lines) are wide (UTF-16,
// tkWString), so a label can show Cyrillic on a machine whose ANSI code page
// is 1252. The settings engine reads and writes them as ANSI text.
//
// Notifications are plain bound callbacks, called after the change, never
// for a value set to what it already was:
//   OnClick   TButton::Click, TCheckBox when Checked changes
//   OnChange  TCustomEdit/TSpinEdit text or value, TComboBox index or text,
//             TFont and TWideStrings (once per update)
//   OnResize  any control whose Width or Height changed
//   OnModelChange  every control: (control, property name) after a
//             published property changed, for a view to mirror it
//
// Example:
//   TForm form;                       // no owner: the caller frees it
//   auto* ok = new TButton(&form);    // owned (freed) by the form
//   ok->SetName("btnOK");
//   ok->SetParent(&form);             // placed on the form
//   ok->SetCaption(u"OK");
//   ok->SetModalResult(kMrOk);
//   ok->Click();                      // form.ModalResult() == kMrOk
//
// Threads: none of these objects is thread-safe; a form and its controls
// belong to the thread that shows them (translation passes run there too).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "components/Components.h"

namespace tarvel {

class TControl;
class TWinControl;
class TForm;

using TNotifyEvent = std::function<void(TObject& sender)>;
// TModelChangeEvent: a published property of a control has changed.
using TModelChangeEvent = std::function<void(TControl& control, std::string_view property)>;

// Modal results.
constexpr int32_t kMrNone = 0;
constexpr int32_t kMrOk = 1;
constexpr int32_t kMrCancel = 2;

// Character sets of fonts (Windows numbers).
constexpr uint8_t kAnsiCharset = 0;
constexpr uint8_t kDefaultCharset = 1;
constexpr uint8_t kSymbolCharset = 2;

enum TBiDiMode : uint8_t {
  bdLeftToRight = 0,
  bdRightToLeft = 1,
  bdRightToLeftNoAlign = 2,
  bdRightToLeftReadingOnly = 3,
};

enum TAlign : uint8_t { alNone = 0, alTop, alBottom, alLeft, alRight, alClient };

// TAnchors: a set of TAnchorKind bits.
enum TAnchorKind : uint8_t { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };
using TAnchors = uint8_t;
constexpr TAnchors kDefaultAnchors = akLeft | akTop;

// ---- Fonts ----

class TFont : public TObject {
 public:
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }

  const std::string& Name() const { return name_; }
  void SetName(std::string_view name);
  // Height in pixels (negative: character height, as a form designer
  // stores it); Size in points at 96 dots per inch.
  int32_t Height() const { return height_; }
  void SetHeight(int32_t height);
  int32_t Size() const;
  void SetSize(int32_t points);
  uint8_t Charset() const { return charset_; }
  void SetCharset(uint8_t charset);

  // HandleAllocated: a view has realised the font as a system font.
  // HandleNeeded realises it (the model only records that it happened).
  bool HandleAllocated() const { return realised_; }
  void HandleNeeded();

  void Assign(const TFont& other);

  TNotifyEvent OnChange;

 private:
  void Changed();
  std::string name_ = "MS Sans Serif";
  int32_t height_ = -11;
  uint8_t charset_ = kDefaultCharset;
  bool realised_ = false;
};

// TSizeConstraints: limits of a form's outer size; 0 means no limit.
class TSizeConstraints : public TObject {
 public:
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }
  int32_t MinWidth = 0, MaxWidth = 0, MinHeight = 0, MaxHeight = 0;
  // Apply clamps a size to the limits.
  void Apply(int32_t& width, int32_t& height) const;
};

// ---- Line lists and collections ----

// TWideStrings: lines of wide text. Changes between BeginUpdate and the
// matching EndUpdate notify once, at the end.
class TWideStrings : public TObject {
 public:
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }

  int Count() const { return static_cast<int>(lines_.size()); }
  const std::u16string& Strings(int index) const { return lines_.at(static_cast<size_t>(index)); }
  void SetStrings(int index, std::u16string_view line);
  const std::vector<std::u16string>& Lines() const { return lines_; }
  void Add(std::u16string_view line);
  void Clear();
  void Assign(const std::vector<std::u16string>& lines);
  // IndexOf: the first line equal to text, or -1.
  int IndexOf(std::u16string_view text) const;
  // Sort orders the lines by their UTF-16 code units.
  void Sort();

  void BeginUpdate() { ++update_count_; }
  void EndUpdate();
  int UpdateCount() const { return update_count_; }

  TNotifyEvent OnChange;

 private:
  friend class TComboBox;
  void Changed();
  std::function<void()> owner_notify_;  // the control that shows the lines
  std::vector<std::u16string> lines_;
  int update_count_ = 0;
  bool changed_while_updating_ = false;
};

class TCollection;

// TCollectionItem: one item of a collection; its class declares the
// item's properties.
class TCollectionItem : public TObject {
 public:
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }
  TCollection* Collection() const { return collection_; }
  int Index() const;

 private:
  friend class TCollection;
  TCollection* collection_ = nullptr;
};

// TCollection owns its items, in order.
class TCollection : public TObject {
 public:
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }

  int Count() const { return static_cast<int>(items_.size()); }
  TCollectionItem* Items(int index) const { return items_.at(static_cast<size_t>(index)).get(); }
  // Add appends an item and returns it.
  template <class T>
  T& Add() {
    auto item = std::make_unique<T>();
    T& ref = *item;
    Append(std::move(item));
    return ref;
  }
  void Append(std::unique_ptr<TCollectionItem> item);
  void Delete(int index);
  void Clear();

 private:
  std::vector<std::unique_ptr<TCollectionItem>> items_;
};

// ---- Controls ----

class TControl : public TComponent {
 public:
  explicit TControl(TComponent* owner = nullptr);
  // Leaves the placement parent; owned components are freed by TComponent.
  ~TControl() override;

  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }

  // Parent is where the control is placed; Owner is who frees it.
  TWinControl* Parent() const { return parent_; }
  void SetParent(TWinControl* parent);

  int32_t Left() const { return left_; }
  int32_t Top() const { return top_; }
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  void SetLeft(int32_t v) { SetBounds(v, top_, width_, height_); }
  void SetTop(int32_t v) { SetBounds(left_, v, width_, height_); }
  void SetWidth(int32_t v) { SetBounds(left_, top_, v, height_); }
  void SetHeight(int32_t v) { SetBounds(left_, top_, width_, v); }
  // SetBounds moves and sizes; OnResize follows a change of size. Virtual
  // so that a form can keep its constraints.
  virtual void SetBounds(int32_t left, int32_t top, int32_t width, int32_t height);

  TAnchors Anchors() const { return anchors_; }
  void SetAnchors(TAnchors anchors);
  TAlign Align() const { return align_; }
  void SetAlign(TAlign align);

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  bool Visible() const { return visible_; }
  void SetVisible(bool visible);

  const std::u16string& Hint() const { return hint_; }
  void SetHint(std::u16string_view hint);

  TFont& Font() { return font_; }
  const TFont& Font() const { return font_; }
  TBiDiMode BiDiMode() const { return bidi_mode_; }
  void SetBiDiMode(TBiDiMode mode);
  // HelpContext: the help topic. On a windowed control -1 and 9999 also
  // mark a control the translator leaves alone with what it owns.
  int32_t HelpContext() const { return help_context_; }
  void SetHelpContext(int32_t topic);

  // IsWindowed: the control is a window of its own (TWinControl).
  virtual bool IsWindowed() const { return false; }
  // Form: the form the control is placed on (itself for a form), or null.
  TForm* Form();

  TNotifyEvent OnResize;
  TModelChangeEvent OnModelChange;

 protected:
  void Notify(std::string_view property);
  void Resized();

 private:
  friend class TWinControl;
  TWinControl* parent_ = nullptr;
  int32_t left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  TAnchors anchors_ = kDefaultAnchors;
  TAlign align_ = alNone;
  bool enabled_ = true;
  bool visible_ = true;
  std::u16string hint_;
  TFont font_;
  TBiDiMode bidi_mode_ = bdLeftToRight;
  int32_t help_context_ = 0;
};

// TWinControl: a windowed control. Its placement children keep their
// anchored distances when its client size changes: a child anchored left
// and right stretches, one anchored right only moves, likewise top and
// bottom; aligned children fill the top, bottom, left, right or the rest.
class TWinControl : public TControl {
 public:
  using TControl::TControl;
  ~TWinControl() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }

  bool IsWindowed() const override { return true; }
  int32_t TabOrder() const { return tab_order_; }
  void SetTabOrder(int32_t order);

  int ControlCount() const { return static_cast<int>(controls_.size()); }
  TControl* Controls(int index) const { return controls_.at(static_cast<size_t>(index)); }

  virtual int32_t ClientWidth() const { return Width(); }
  virtual int32_t ClientHeight() const { return Height(); }

  void SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) override;
  // Realign places the aligned children and records every child's
  // anchored distances as they now are.
  void Realign();

 protected:
  // LayOut follows a change of the client size from the old one.
  void LayOut(int32_t old_client_width, int32_t old_client_height);

 private:
  friend class TControl;
  struct Margins {
    int32_t right = 0, bottom = 0;
  };
  void ChildInserted(TControl* child);
  void ChildRemoved(TControl* child);
  void RecordMargins(TControl* child);

  std::vector<TControl*> controls_;
  std::vector<Margins> margins_;  // per child, parallel to controls_
  int32_t tab_order_ = 0;
  bool laying_out_ = false;
};

class TForm : public TWinControl {
 public:
  explicit TForm(TComponent* owner = nullptr);
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }

  const std::u16string& Caption() const { return caption_; }
  void SetCaption(std::u16string_view caption);
  const std::string& HelpFile() const { return help_file_; }
  void SetHelpFile(std::string_view file);
  int32_t ModalResult() const { return modal_result_; }
  void SetModalResult(int32_t result);
  TSizeConstraints& Constraints() { return constraints_; }
  const TSizeConstraints& Constraints() const { return constraints_; }
  TWinControl* ActiveControl() const { return active_control_; }
  void SetActiveControl(TWinControl* control);
  // Handle: the window a view shows the form in; 0 while it is not shown.
  uintptr_t Handle() const { return handle_; }
  void SetHandle(uintptr_t handle) { handle_ = handle; }

  // The frame a view draws around the client area (borders and title);
  // the client size is the outer size less it. Changing it keeps the
  // outer size and lays the children out for the new client size.
  void SetFrameSize(int32_t horizontal, int32_t vertical);
  int32_t ClientWidth() const override { return Width() - frame_width_; }
  int32_t ClientHeight() const override { return Height() - frame_height_; }
  void SetClientSize(int32_t width, int32_t height);

  // Keeps Constraints.
  void SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) override;

 private:
  std::u16string caption_;
  std::string help_file_;
  int32_t modal_result_ = kMrNone;
  TSizeConstraints constraints_;
  TWinControl* active_control_ = nullptr;  // not owned
  uintptr_t handle_ = 0;
  int32_t frame_width_ = 0, frame_height_ = 0;
};

// TLabel: a caption drawn on its parent (not windowed).
class TLabel : public TControl {
 public:
  using TControl::TControl;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }
  const std::u16string& Caption() const { return caption_; }
  void SetCaption(std::u16string_view caption);
  bool WordWrap() const { return word_wrap_; }
  void SetWordWrap(bool wrap);
  // VerticalCentre: the text is centred vertically (Layout tlCenter).
  bool VerticalCentre() const { return vertical_centre_; }
  void SetVerticalCentre(bool centre);

 private:
  std::u16string caption_;
  bool word_wrap_ = false;
  bool vertical_centre_ = false;
};

// TBevel: a separator line (not windowed).
enum TBevelShape : uint8_t { bsBox = 0, bsFrame, bsTopLine, bsBottomLine, bsLeftLine, bsRightLine };
class TBevel : public TControl {
 public:
  using TControl::TControl;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }
  TBevelShape Shape() const { return shape_; }
  void SetShape(TBevelShape shape);

 private:
  TBevelShape shape_ = bsBox;
};

// TCaptionedWinControl: a windowed control with a Caption.
class TCaptionedWinControl : public TWinControl {
 public:
  using TWinControl::TWinControl;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }
  const std::u16string& Caption() const { return caption_; }
  void SetCaption(std::u16string_view caption);

 private:
  std::u16string caption_;
};

class TGroupBox : public TCaptionedWinControl {
 public:
  using TCaptionedWinControl::TCaptionedWinControl;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }
};

class TPanel : public TCaptionedWinControl {
 public:
  using TCaptionedWinControl::TCaptionedWinControl;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }
  // Bordered: the panel draws a raised border (BevelOuter).
  bool Bordered() const { return bordered_; }
  void SetBordered(bool bordered);

 private:
  bool bordered_ = true;
};

class TButton : public TCaptionedWinControl {
 public:
  using TCaptionedWinControl::TCaptionedWinControl;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }
  int32_t ModalResult() const { return modal_result_; }
  void SetModalResult(int32_t result);
  // Default: Enter presses it; Cancel: Esc presses it.
  bool Default() const { return default_; }
  void SetDefault(bool value);
  bool Cancel() const { return cancel_; }
  void SetCancel(bool value);
  // Click: OnClick, then a modal result other than none goes to the form.
  void Click();

  TNotifyEvent OnClick;

 private:
  int32_t modal_result_ = kMrNone;
  bool default_ = false;
  bool cancel_ = false;
};

class TCheckBox : public TCaptionedWinControl {
 public:
  using TCaptionedWinControl::TCaptionedWinControl;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }
  bool Checked() const { return checked_; }
  // SetChecked: a change calls OnClick.
  void SetChecked(bool checked);
  // Click toggles Checked, as a user's click does.
  void Click() { SetChecked(!checked_); }

  TNotifyEvent OnClick;

 private:
  bool checked_ = false;
};

// TCustomEdit: an edit control. Its Text is the user's input: the
// translator never translates it.
class TCustomEdit : public TWinControl {
 public:
  using TWinControl::TWinControl;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }
  const std::u16string& Text() const { return text_; }
  // SetText: a change calls OnChange.
  virtual void SetText(std::u16string_view text);

  TNotifyEvent OnChange;

 protected:
  // StoreText replaces the text without notifying; true when it changed.
  bool StoreText(std::u16string_view text);

 private:
  std::u16string text_;
};

class TEdit : public TCustomEdit {
 public:
  using TCustomEdit::TCustomEdit;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }
};

// TSpinEdit: a numeric edit with spin buttons. Value is the number; Text
// shows it with Decimals digits after the point; text typed into it
// changes Value when it reads as a number.
class TSpinEdit : public TCustomEdit {
 public:
  explicit TSpinEdit(TComponent* owner = nullptr);
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }
  double Value() const { return value_; }
  // SetValue: a change calls OnChange.
  void SetValue(double value);
  int32_t Decimals() const { return decimals_; }
  void SetDecimals(int32_t decimals);
  double Increment() const { return increment_; }
  void SetIncrement(double step);
  void SetText(std::u16string_view text) override;

 private:
  std::u16string FormatValue(double value) const;
  double value_ = 0;
  int32_t decimals_ = 0;
  double increment_ = 1;
};

// TCustomComboBox: what every combo box has; the settings engine reaches
// combo boxes through ItemIndex (-1 for no choice).
class TCustomComboBox : public TWinControl {
 public:
  using TWinControl::TWinControl;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }
  virtual int32_t ItemIndex() const = 0;
  virtual void SetItemIndex(int32_t index) = 0;
};

enum TComboBoxStyle : uint8_t { csDropDown = 0, csDropDownList = 1 };

// TComboBox: the standard combo box: editable (csDropDown) or a choice
// from the list only (csDropDownList). ItemIndex -1 is no choice; choosing
// an item sets Text to it.
class TComboBox : public TCustomComboBox {
 public:
  explicit TComboBox(TComponent* owner = nullptr);
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }

  TComboBoxStyle Style() const { return style_; }
  void SetStyle(TComboBoxStyle style);
  TWideStrings& Items() { return items_; }
  const TWideStrings& Items() const { return items_; }
  int32_t ItemIndex() const override { return item_index_; }
  // SetItemIndex: outside 0..Count-1 gives -1; a change calls OnChange.
  void SetItemIndex(int32_t index) override;
  const std::u16string& Text() const { return text_; }
  // SetText: typed text. In a drop-down list only an item's text is taken
  // (it selects that item); editable, the index follows the text.
  void SetText(std::u16string_view text);

  TNotifyEvent OnChange;

 private:
  void ItemsChanged();
  TComboBoxStyle style_ = csDropDown;
  TWideStrings items_;
  int32_t item_index_ = -1;
  std::u16string text_;
};

// TComboExItem: one item of an extended combo box.
class TComboExItem : public TCollectionItem {
 public:
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }
  std::u16string Caption;
  int32_t ImageIndex = -1;
};

// TComboBoxEx: the extended (image-carrying) combo box; its items are a
// collection of TComboExItem.
class TComboBoxEx : public TCustomComboBox {
 public:
  using TCustomComboBox::TCustomComboBox;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }
  TCollection& ItemsEx() { return items_ex_; }
  TComboExItem& AddItem(std::u16string_view caption, int32_t image_index = -1);
  int32_t ItemIndex() const override { return item_index_; }
  // SetItemIndex: outside 0..Count-1 gives -1; a change calls OnChange.
  void SetItemIndex(int32_t index) override;

  TNotifyEvent OnChange;

 private:
  TCollection items_ex_;
  int32_t item_index_ = -1;
};

}  // namespace tarvel
