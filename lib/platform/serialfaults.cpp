#include "platform/serialfaults.h"

TvxSerialFaults& vxSerialFaults() {
  static TvxSerialFaults faults;
  return faults;
}
