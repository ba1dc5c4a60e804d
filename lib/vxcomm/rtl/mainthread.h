/// @file
/// Hands work to the main thread's event loop without waiting for it.
///
/// The queue is guarded by a std::mutex rather than by Qt's event queue alone, so that the
/// hand-over is visible to ThreadSanitizer (Qt itself is not built with it) and every
/// cross-thread call of the library is checked.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <functional>

namespace vxcomm {

/// Runs Fn on the main thread, in order with other posted functions; from the main thread
/// itself it is queued too. Without an application object Fn runs at once.
VXCOMM_EXPORT void vxPostToMainThread(std::function<void()> fn);

}  // namespace vxcomm
