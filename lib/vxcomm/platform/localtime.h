// The wall clock and its text in the user's own formats (the LC_TIME category of the
// environment, whatever locale the program itself has set).
#pragma once

#include <cstdint>
#include <string>

namespace vxcomm {

struct TvxInstant {
  std::int64_t seconds = 0;  // since the epoch
  int msec = 0;              // 0 to 999
};

// The wall clock; without Precise from the kernel's coarse clock (its tick, a few
// milliseconds), which is cheaper to read and exact enough for whole seconds.
TvxInstant vxNow(bool precise = true);
// The local date of Seconds in the user's short date format (strftime %x).
std::string vxShortDateText(std::int64_t seconds);
// The local time of Seconds with hours, minutes and seconds in the user's format (%X).
std::string vxLongTimeText(std::int64_t seconds);

}  // namespace vxcomm
