#include "devicelost.h"

#include <cstring>

std::string DeviceLostText(const std::string& device, unsigned code) {
  return device + " went away: " + std::strerror(static_cast<int>(code));
}
