#include "vxcomm/rtl/collection.h"

namespace vxcomm {

int TCollectionItem::Index() const {
  return collection_ ? collection_->IndexOf(this) : -1;
}

void TCollectionItem::Assign(const TPersistent&) {
  throw EConvertError("Cannot assign to a " + ClassName());
}

TCollectionItem* TCollection::Item(int index) const {
  if (index < 0 || index >= Count())
    throw Exception("List index out of bounds (" + std::to_string(index) + ")");
  return items_[static_cast<std::size_t>(index)].get();
}

void TCollection::Delete(int index) {
  Item(index);
  items_.erase(items_.begin() + index);
}

int TCollection::IndexOf(const TCollectionItem* item) const {
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (items_[i].get() == item) return static_cast<int>(i);
  return -1;
}

TCollectionItem* TCollection::AddItem(std::unique_ptr<TCollectionItem> item) {
  items_.push_back(std::move(item));
  return items_.back().get();
}

}  // namespace vxcomm
