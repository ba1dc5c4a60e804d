// A list of 8-bit strings, each with an object that the list does not own.
#pragma once

#include "vxcomm_export.h"

#include <string>
#include <vector>

#include "rtl/sysutils.h"

class VXCOMM_EXPORT TStringList {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  const std::string& Strings(int index) const {
    return items_.at(static_cast<std::size_t>(index)).text;
  }
  TObject* Objects(int index) const { return items_.at(static_cast<std::size_t>(index)).object; }
  void SetObject(int index, TObject* object) {
    items_.at(static_cast<std::size_t>(index)).object = object;
  }

  int Add(const std::string& text) { return AddObject(text, nullptr); }
  int AddObject(const std::string& text, TObject* object) {
    items_.push_back({text, object});
    return Count() - 1;
  }
  // Inserts before Index; Index equal to Count appends.
  void InsertObject(int index, const std::string& text, TObject* object) {
    if (index < 0 || index > Count())
      throw Exception("List index out of bounds (" + std::to_string(index) + ")");
    items_.insert(items_.begin() + index, {text, object});
  }
  void Delete(int index) { items_.erase(items_.begin() + CheckedIndex(index)); }
  void Clear() { items_.clear(); }
  int IndexOf(const std::string& text) const {
    for (int i = 0; i < Count(); ++i)
      if (items_[static_cast<std::size_t>(i)].text == text) return i;
    return -1;
  }
  int IndexOfObject(const TObject* object) const {
    for (int i = 0; i < Count(); ++i)
      if (items_[static_cast<std::size_t>(i)].object == object) return i;
    return -1;
  }

 private:
  struct Item {
    std::string text;
    TObject* object;
  };
  std::ptrdiff_t CheckedIndex(int index) const {
    if (index < 0 || index >= Count())
      throw Exception("List index out of bounds (" + std::to_string(index) + ")");
    return index;
  }
  std::vector<Item> items_;
};
