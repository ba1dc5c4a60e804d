#include "vxcomm/vxkermit/packetsizer.h"

#include <algorithm>
#include <cmath>

namespace vxcomm {

namespace vxkermit {

namespace {

// Until the line has a record it is taken to damage one byte in a thousand (a first packet
// of about 200 bytes); each packet that crosses whole lets the next grow by about a fifth.
constexpr double kPriorBytes = 1000;
constexpr double kPriorFailures = 1;
constexpr double kMemoryBytes = 256.0 * 1024;
// A packet of L bytes at fault rate p arrives whole with probability exp(-p L): L = 0.2 / p
// gets through about 82 times in 100, and ten repeats fail together less than once in 10^7.
constexpr double kLossBudget = 0.2;

}  // namespace

void TPacketSizer::Delivered(std::size_t chars, int repeats) {
  const double copies = 1.0 + std::max(repeats, 0);
  bytes_ += static_cast<double>(chars) * copies;
  failures_ += copies - 1;
  if (bytes_ > kMemoryBytes) {
    bytes_ /= 2;
    failures_ /= 2;
  }
}

void TPacketSizer::Reset() {
  bytes_ = 0;
  failures_ = 0;
}

std::size_t TPacketSizer::Next(std::size_t floor, std::size_t ceiling) const {
  const double rate = (failures_ + kPriorFailures) / (bytes_ + kPriorBytes);
  const double wanted = std::floor(kLossBudget / rate);
  if (wanted >= static_cast<double>(ceiling)) return std::max(floor, ceiling);
  return std::clamp(static_cast<std::size_t>(wanted), floor, std::max(floor, ceiling));
}

}  // namespace vxkermit

}  // namespace vxcomm
