// An owned list of items, each knowing its collection and its index, with a display name.
//
// Thread: none; the owner's thread.
#pragma once

#include "vxcomm_export.h"

#include <memory>
#include <string>
#include <vector>

#include "rtl/sysutils.h"

class QObject;
class TCollection;

class VXCOMM_EXPORT TCollectionItem : public TPersistent {
 public:
  explicit TCollectionItem(TCollection* collection) : collection_(collection) {}
  TCollectionItem(const TCollectionItem&) = delete;
  TCollectionItem& operator=(const TCollectionItem&) = delete;

  TCollection* Collection() const { return collection_; }
  // Position in the collection; -1 when the item belongs to none.
  int Index() const;
  virtual std::string ClassName() const { return "TCollectionItem"; }
  // The name shown for the item; the class name unless a descendant has a better one.
  virtual std::string DisplayName() const { return ClassName(); }
  // Copies Source's published state; the base knows no source and throws EConvertError.
  virtual void Assign(const TPersistent& source);

 private:
  TCollection* collection_;
};

class VXCOMM_EXPORT TCollection : public TPersistent {
 public:
  TCollection() = default;
  TCollection(const TCollection&) = delete;
  TCollection& operator=(const TCollection&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  // Throws Exception for an index outside 0..Count-1.
  TCollectionItem* Item(int index) const;
  void Delete(int index);
  void Clear() { items_.clear(); }
  int IndexOf(const TCollectionItem* item) const;
  // The component that owns the collection; nil when none.
  virtual QObject* Owner() const { return nullptr; }

 protected:
  TCollectionItem* AddItem(std::unique_ptr<TCollectionItem> item);
  // Unchecked access for loops that stay within Count.
  TCollectionItem* ItemAt(std::size_t index) const { return items_[index].get(); }

 private:
  std::vector<std::unique_ptr<TCollectionItem>> items_;
};
