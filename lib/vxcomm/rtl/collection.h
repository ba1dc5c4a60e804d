/// @file
/// An owned list of items, each knowing its collection and its index, with a display name.
///
/// Thread: none; the owner's thread.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <memory>
#include <string>
#include <vector>

#include "vxcomm/rtl/sysutils.h"

class QObject;

namespace vxcomm {

class TCollection;

/// An item of a collection, which owns it.
class VXCOMM_EXPORT TCollectionItem : public TPersistent {
 public:
  /// An item of Collection (null for none); the collection takes ownership when the item is added
  /// to it.
  explicit TCollectionItem(TCollection* collection) : collection_(collection) {}
  TCollectionItem(const TCollectionItem&) = delete;
  TCollectionItem& operator=(const TCollectionItem&) = delete;

  /// The collection the item belongs to, or null.
  TCollection* Collection() const { return collection_; }
  /// Position in the collection; -1 when the item belongs to none.
  int Index() const;
  /// The item's class name, for DisplayName.
  virtual std::string ClassName() const { return "TCollectionItem"; }
  /// The name shown for the item; the class name unless a descendant has a better one.
  virtual std::string DisplayName() const { return ClassName(); }
  /// Copies Source's published state; the base knows no source and throws EConvertError.
  virtual void Assign(const TPersistent& source);

 private:
  TCollection* collection_;
};

/// An owned list of items.
class VXCOMM_EXPORT TCollection : public TPersistent {
 public:
  /// An empty collection.
  TCollection() = default;
  TCollection(const TCollection&) = delete;
  TCollection& operator=(const TCollection&) = delete;

  /// The number of items.
  int Count() const { return static_cast<int>(items_.size()); }
  /// The item at Index, owned by the collection. Throws Exception for an index outside 0..Count-1.
  TCollectionItem* Item(int index) const;
  /// Deletes the item at Index; throws Exception for an index outside 0..Count-1.
  void Delete(int index);
  /// Deletes every item.
  void Clear() { items_.clear(); }
  /// The index of Item, or -1 when the collection does not hold it.
  int IndexOf(const TCollectionItem* item) const;
  /// The component that owns the collection; nil when none.
  virtual QObject* Owner() const { return nullptr; }

 protected:
  /// Appends Item and takes ownership of it; the item as added.
  TCollectionItem* AddItem(std::unique_ptr<TCollectionItem> item);
  /// Unchecked access for loops that stay within Count.
  TCollectionItem* ItemAt(std::size_t index) const { return items_[index].get(); }

 private:
  std::vector<std::unique_ptr<TCollectionItem>> items_;
};

}  // namespace vxcomm
