// Line lists and collections of the control model (components/Controls.h):
// TWideStrings with its update brackets and change notices, TCollection and
// its items. Called on the thread that owns the form.
#include <algorithm>

#include "components/Controls.h"

namespace tarvel {

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

}  // namespace tarvel
