// Combo boxes of the control model (components/Controls.h): TComboBox over a
// line list, TComboBoxEx over a collection of captioned items with images.
// Called on the thread that owns the form.
#include "components/Controls.h"
#include "components/PropertyTable.h"

namespace tarvel {

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
