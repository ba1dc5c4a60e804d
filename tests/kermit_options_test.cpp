// The Kermit component's settings as one value: the presets, the properties over it, the
// ranges SetOptions keeps, and our programs' settings as the extended preset.
#include <gtest/gtest.h>

#include "lineoptions.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxkermit.h"

namespace {

TEST(KermitOptions, ANewComponentHasTheBasicProtocol) {
  TvxKermit kermit;
  EXPECT_EQ(kermit.Options(), TvxKermitOptions::Basic());
  EXPECT_EQ(kermit.Crc(), crc6bit);
  EXPECT_FALSE(kermit.LongPackets());
  EXPECT_EQ(kermit.WindowSize(), 1);
  EXPECT_EQ(kermit.ControlPrefixing(), cpfAll);
}

TEST(KermitOptions, ThePropertiesReadWhatSetOptionsGave) {
  TvxKermit kermit;
  kermit.SetOptions(TvxKermitOptions::Extended());
  EXPECT_EQ(kermit.Crc(), crc16bit);
  EXPECT_TRUE(kermit.AdaptiveTimeout());
  EXPECT_TRUE(kermit.LongPackets());
  EXPECT_EQ(kermit.MaxLongPacketLength(), 9024);
  EXPECT_TRUE(kermit.RepeatCounts());
  EXPECT_TRUE(kermit.ExactLength());
  EXPECT_TRUE(kermit.FileDates());
  EXPECT_EQ(kermit.ControlPrefixing(), cpfPeerAware);
  EXPECT_FALSE(kermit.Streaming());
  EXPECT_TRUE(kermit.Recovery());
  EXPECT_EQ(kermit.WindowSize(), 31);
  EXPECT_TRUE(kermit.DescribeSystem());
  EXPECT_TRUE(kermit.TextConversion());
  EXPECT_TRUE(kermit.NameConversion());
  EXPECT_TRUE(kermit.RefuseServerCommands());
  EXPECT_TRUE(kermit.CheckLengths());
  EXPECT_TRUE(kermit.SkipUnreadableFiles());
  // And a property's setter changes its field alone.
  kermit.SetStreaming(true);
  TvxKermitOptions expected = TvxKermitOptions::Extended();
  expected.streaming = true;
  EXPECT_EQ(kermit.Options(), expected);
  kermit.SetOptions(TvxKermitOptions::Basic());
  EXPECT_EQ(kermit.Options(), TvxKermitOptions::Basic());
}

TEST(KermitOptions, SetOptionsKeepsTheRangesTheSettersKeep) {
  TvxKermit kermit;
  TvxKermitOptions o;
  o.window_size = 99;
  o.max_long_packet_length = 10;
  kermit.SetOptions(o);
  EXPECT_EQ(kermit.WindowSize(), 31);
  EXPECT_EQ(kermit.MaxLongPacketLength(), 95);
  o.window_size = -3;
  o.max_long_packet_length = 100000;
  kermit.SetOptions(o);
  EXPECT_EQ(kermit.WindowSize(), 1);
  EXPECT_EQ(kermit.MaxLongPacketLength(), 9024);
  kermit.SetWindowSize(0);
  kermit.SetMaxLongPacketLength(20000);
  EXPECT_EQ(kermit.Options().window_size, 1);
  EXPECT_EQ(kermit.Options().max_long_packet_length, 9024);
}

TEST(KermitOptions, OurProgramsRunTheExtendedPresetAndClassicTheBasicOne) {
  TvxKermit kermit;
  ApplyKermitSettings(kermit, TKermitSettings{}, 8);
  EXPECT_EQ(kermit.Options(), TvxKermitOptions::Extended());

  TKermitSettings classic;
  classic.classic = true;
  ApplyKermitSettings(kermit, classic, 7);
  TvxKermitOptions expected = TvxKermitOptions::Basic();
  expected.crc = crc16bit;
  expected.adaptive_timeout = true;
  expected.eighth_bit_prefix = '&';  // a 7-bit line
  expected.text_conversion = expected.name_conversion = true;
  expected.refuse_server_commands = expected.check_lengths = true;
  expected.skip_unreadable_files = true;
  EXPECT_EQ(kermit.Options(), expected);
  // Back on an 8-bit line the prefix is only agreed to again.
  ApplyKermitSettings(kermit, TKermitSettings{}, 8);
  EXPECT_EQ(kermit.EighthBitPrefix(), 'Y');
}

}  // namespace
