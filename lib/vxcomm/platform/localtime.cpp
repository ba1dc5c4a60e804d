#include "vxcomm/platform/localtime.h"

#include <locale.h>
#include <time.h>

namespace vxcomm {

namespace {

// Made once and never changed, so that any thread may format with it.
locale_t UserTimeLocale() {
  static const locale_t locale = [] {
    locale_t user = newlocale(LC_TIME_MASK, "", locale_t(0));
    return user ? user : newlocale(LC_TIME_MASK, "C", locale_t(0));
  }();
  return locale;
}

std::string LocalText(std::int64_t seconds, const char* format) {
  time_t t = static_cast<time_t>(seconds);
  tm local{};
  if (!localtime_r(&t, &local)) return {};
  char buf[128];
  std::size_t n = strftime_l(buf, sizeof buf, format, &local, UserTimeLocale());
  return std::string(buf, n);
}

}  // namespace

TvxInstant vxNow(bool precise) {
  timespec ts{};
  clock_gettime(precise ? CLOCK_REALTIME : CLOCK_REALTIME_COARSE, &ts);
  return {static_cast<std::int64_t>(ts.tv_sec), static_cast<int>(ts.tv_nsec / 1000000)};
}

std::string vxShortDateText(std::int64_t seconds) {
  return LocalText(seconds, "%x");
}

std::string vxLongTimeText(std::int64_t seconds) {
  return LocalText(seconds, "%X");
}

}  // namespace vxcomm
