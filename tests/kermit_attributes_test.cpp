// The attribute packet's entries beyond the length in K: the exact length and the file's
// date, as built for a peer and read from one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "vxcomm/unqualified.h"
#include "vxcomm/vxkermit/attributes.h"

using namespace vxkermit;

namespace {

// Local time is the attribute's; the tests pin it so that their figures hold anywhere.
class KermitAttributes : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
  }
};

const std::uint8_t* Bytes(const std::string& s) {
  return reinterpret_cast<const std::uint8_t*>(s.data());
}

}  // namespace

TEST_F(KermitAttributes, ExactLengthAndDateAreAddedOnlyWhenAsked) {
  // Letter, tochar(length), value: "!" "!" "5" is one character, 5 K.
  EXPECT_EQ(BuildAttributes(5000), "!!5");
  EXPECT_EQ(BuildAttributes(5000, true), "!!51$5000");
  EXPECT_EQ(BuildAttributes(5000, true, 981173106), "!!51$5000#120010203 04:05:06");
  EXPECT_EQ(BuildAttributes(0, false, 0), "!!1#119700101 00:00:00");
  const std::string field = BuildAttributes(123456789, true, 981173106);
  EXPECT_EQ(AnnouncedSize(Bytes(field), field.size()), 123456789);
  // Beyond 32 bits, exact or in K, as a 4.5 GiB file is announced.
  const std::string large = "1*4831838208";
  EXPECT_EQ(AnnouncedSize(Bytes(large), large.size()), 4831838208LL);
  const std::string largeK = "!'4718593";
  EXPECT_EQ(AnnouncedSize(Bytes(largeK), largeK.size()), 4718593LL * 1024 + 1);
  EXPECT_EQ(ParseAttributeDate(GetAttribute(Bytes(field), field.size(), '#')), 981173106);
}

TEST_F(KermitAttributes, DatesInEveryFormKermitAllowsAndNothingElse) {
  struct Case {
    const char* text;
    std::int64_t seconds;
  };
  const Case cases[] = {
      {"20010203 04:05:06", 981173106},
      {"20010203 04:05", 981173100},
      {"20010203", 981158400},
      {"010203", -2174601600LL},  // a two-digit year is 19yy
      {"20240229 23:59:59", 1709251199},
      {"", -1},
      {"2001020", -1},
      {"200102030", -1},
      {"20011303", -1},
      {"20010230", -1},
      {"20010431", -1},
      {"2001O203", -1},
      {"20010203 24:00", -1},
      {"20010203 04-05", -1},
      {"20010203 04:60", -1},
      {"20010203 4:05:06", -1},
      {"20010203 04:05:06 ", -1},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseAttributeDate(c.text), c.seconds) << c.text;
}
