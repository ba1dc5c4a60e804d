/// @file
/// The list of notify handlers of an I/O component.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <vector>

#include "vxcomm/rtl/delegate.h"

namespace vxcomm {

class TvxBaseIO;

/// A notify handler: (Sender, Code). Codes: 1 closed, 2 opened, 3 device list changed.
using TvxIONotifyEvent = TMethod<void(TvxBaseIO*, int)>;

/// The notify handlers of an I/O component. Handlers are identified by their (code, object) pair.
/// Thread: owned by the I/O component's thread; not locked.
class VXCOMM_EXPORT TvxNotifyList {
 public:
  /// The number of handlers.
  int Count() const { return static_cast<int>(items_.size()); }
  /// Appends Handler (even when listed already); its index.
  int Add(const TvxIONotifyEvent& handler) {
    items_.push_back(handler);
    return Count() - 1;
  }
  /// Removes the handler at Index; an index outside the list is ignored.
  void Delete(int index) {
    if (index >= 0 && index < Count()) items_.erase(items_.begin() + index);
  }
  /// Removes every handler.
  void Clear() { items_.clear(); }
  /// The handler at Index, or an empty one outside the list.
  TvxIONotifyEvent GetHandler(int index) const {
    return index >= 0 && index < Count() ? items_[static_cast<std::size_t>(index)]
                                         : TvxIONotifyEvent{};
  }
  /// The index of Handler, or -1.
  int IndexOfHandler(const TvxIONotifyEvent& handler) const {
    for (int i = 0; i < Count(); ++i)
      if (items_[static_cast<std::size_t>(i)] == handler) return i;
    return -1;
  }
  /// Calls the handlers in registration order. The count is taken at the start; a handler
  /// removed meanwhile is skipped rather than called through a stale slot.
  void NotifyAll(TvxBaseIO* sender, int code) {
    const std::vector<TvxIONotifyEvent> snapshot = items_;
    for (const TvxIONotifyEvent& handler : snapshot)
      if (IndexOfHandler(handler) >= 0) handler(sender, code);
  }

 private:
  std::vector<TvxIONotifyEvent> items_;
};

}  // namespace vxcomm
