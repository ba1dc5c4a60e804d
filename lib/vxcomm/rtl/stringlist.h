/// @file
/// A list of 8-bit strings, each with an object that the list does not own.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <string>
#include <vector>

#include "vxcomm/rtl/sysutils.h"

namespace vxcomm {

/// A list of strings, each with an object it does not own.
class VXCOMM_EXPORT TStringList {
 public:
  /// The number of strings.
  int Count() const { return static_cast<int>(items_.size()); }
  /// The string at Index; throws std::out_of_range outside 0..Count-1.
  const std::string& Strings(int index) const {
    return items_.at(static_cast<std::size_t>(index)).text;
  }
  /// The object of the string at Index (not owned), or null; throws std::out_of_range outside
  /// 0..Count-1.
  TObject* Objects(int index) const { return items_.at(static_cast<std::size_t>(index)).object; }
  /// Sets the object of the string at Index (not owned); throws std::out_of_range outside
  /// 0..Count-1.
  void SetObject(int index, TObject* object) {
    items_.at(static_cast<std::size_t>(index)).object = object;
  }

  /// Appends Text without an object; its index.
  int Add(const std::string& text) { return AddObject(text, nullptr); }
  /// Appends Text with Object (not owned); its index.
  int AddObject(const std::string& text, TObject* object) {
    items_.push_back({text, object});
    return Count() - 1;
  }
  /// Inserts Text with Object (not owned) before Index; Index equal to Count appends. Throws
  /// Exception for an index outside 0..Count.
  void InsertObject(int index, const std::string& text, TObject* object) {
    if (index < 0 || index > Count())
      throw Exception("List index out of bounds (" + std::to_string(index) + ")");
    items_.insert(items_.begin() + index, {text, object});
  }
  /// Removes the string at Index (its object is not deleted); throws Exception outside 0..Count-1.
  void Delete(int index) { items_.erase(items_.begin() + CheckedIndex(index)); }
  /// Removes every string; the objects are not deleted.
  void Clear() { items_.clear(); }
  /// The index of the first string equal to Text, or -1.
  int IndexOf(const std::string& text) const {
    for (int i = 0; i < Count(); ++i)
      if (items_[static_cast<std::size_t>(i)].text == text) return i;
    return -1;
  }
  /// The index of the first string with Object, or -1.
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

}  // namespace vxcomm
