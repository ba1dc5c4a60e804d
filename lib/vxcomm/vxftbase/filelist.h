/// @file
/// The files to send: one full file name per line, each with its size in bytes.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <cstdint>
#include <string>
#include <vector>

#include "vxcomm/rtl/sysutils.h"

namespace vxcomm {

/// The list of files to send, each a full name with its size.
class VXCOMM_EXPORT TvxFileList {
 public:
  /// The number of files.
  int Count() const { return static_cast<int>(items_.size()); }
  /// True when no file is listed.
  bool Empty() const { return items_.empty(); }
  /// The full name of the file at Index; throws Exception for an index outside 0..Count-1.
  const std::string& Strings(int index) const { return items_.at(Checked(index)).name; }
  /// The size of the file at Index; throws Exception for an index outside 0..Count-1.
  std::int64_t Sizes(int index) const { return items_.at(Checked(index)).size; }
  /// Appends a file; its index.
  int Add(const std::string& name, std::int64_t size) {
    items_.push_back({name, size});
    return Count() - 1;
  }
  /// Removes the file at Index; throws Exception for an index outside 0..Count-1.
  void Delete(int index) {
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(Checked(index)));
  }
  /// Empties the list.
  void Clear() { items_.clear(); }

 private:
  struct Item {
    std::string name;
    std::int64_t size;
  };
  std::size_t Checked(int index) const {
    if (index < 0 || index >= Count())
      throw Exception("List index out of bounds (" + std::to_string(index) + ")");
    return static_cast<std::size_t>(index);
  }
  std::vector<Item> items_;
};

}  // namespace vxcomm
