#include "vxcomm/platform/serialfaults.h"

namespace vxcomm {

TvxSerialFaults& vxSerialFaults() {
  static TvxSerialFaults faults;
  return faults;
}

}  // namespace vxcomm
