// The serial layer's fault seam for tests: not installed and not exported, so only code
// linked with the library's objects (our tests) reaches it.
//
// Thread: any; each fault is one atomic, taken by the first call that sees it.
#pragma once

#include <atomic>

namespace vxcomm {

/// Errors a test wants the next calls to give: 0 for none. Each is taken by one call: an
/// open of a port, a Write, a Look (which then fails as for a vanished device).
struct TvxSerialFaults {
  std::atomic<int> openError{0};   ///< for the next open of a port
  std::atomic<int> writeError{0};  ///< for the next Write
  std::atomic<int> lookError{0};   ///< for the next Look
};
/// The faults the serial layer gives next; for tests.
TvxSerialFaults& vxSerialFaults();

}  // namespace vxcomm
