// The Kermit settings dialog, driven with QTest as a user would: the controls show the
// options, the presets fill them, and what the user set comes back with every other field.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include "vxcomm/unqualified.h"
#include "vxcomm/widgets/kermitoptionsdialog.h"

namespace {

TEST(KermitOptionsDialog, ShowsTheOptionsAndGivesBackWhatTheUserSet) {
  TvxKermitOptions in = TvxKermitOptions::Basic();
  in.file_dates = true;  // not shown: passes through
  TvxKermitOptionsDialog dialog(in);
  EXPECT_EQ(dialog.Options(), in);
  EXPECT_EQ(dialog.CheckBox()->currentIndex(), 0);
  EXPECT_FALSE(dialog.LongPacketsBox()->isChecked());
  EXPECT_FALSE(dialog.LongLengthBox()->isEnabled());
  EXPECT_EQ(dialog.WindowBox()->value(), 1);

  QTest::mouseClick(dialog.LongPacketsBox(), Qt::LeftButton);
  EXPECT_TRUE(dialog.LongLengthBox()->isEnabled());
  dialog.LongLengthBox()->setValue(4000);
  dialog.WindowBox()->setValue(8);
  dialog.CheckBox()->setCurrentIndex(2);
  QTest::mouseClick(dialog.RepeatCountsBox(), Qt::LeftButton);
  TvxKermitOptions expected = in;
  expected.crc = crc16bit;
  expected.long_packets = true;
  expected.max_long_packet_length = 4000;
  expected.window_size = 8;
  expected.repeat_counts = true;
  EXPECT_EQ(dialog.Options(), expected);
}

TEST(KermitOptionsDialog, ThePresetsAreTheComponentsOwn) {
  TvxKermitOptionsDialog dialog(TvxKermitOptions::Basic());
  QTest::mouseClick(dialog.ExtendedButton(), Qt::LeftButton);
  EXPECT_EQ(dialog.Options(),
            TvxKermitOptions::Basic().WithProtocolOf(TvxKermitOptions::Extended()));
  EXPECT_TRUE(dialog.Options().recovery);  // not shown, but part of the preset
  EXPECT_TRUE(dialog.LongPacketsBox()->isChecked());
  EXPECT_EQ(dialog.WindowBox()->value(), 31);
  QTest::mouseClick(dialog.BasicButton(), Qt::LeftButton);
  EXPECT_EQ(dialog.Options(), TvxKermitOptions::Basic());
}

TEST(KermitOptionsDialog, APresetKeepsHowFilesAreSentAndStored) {
  TvxKermitOptions in = TvxKermitOptions::Extended();
  in.file_type = ftText;
  in.streaming = true;
  TvxKermitOptionsDialog dialog(in);
  QTest::mouseClick(dialog.BasicButton(), Qt::LeftButton);
  const TvxKermitOptions out = dialog.Options();
  EXPECT_FALSE(out.long_packets);
  EXPECT_EQ(out.window_size, 1);
  EXPECT_FALSE(out.recovery);
  EXPECT_EQ(out.file_type, ftText);
  EXPECT_TRUE(out.streaming);
  EXPECT_TRUE(out.skip_unreadable_files);
  EXPECT_TRUE(out.text_conversion);
}

TEST(KermitOptionsDialog, ForceThreeStaysUnlessAnotherCheckIsPicked) {
  TvxKermitOptions in;
  in.crc = crc16bitForced;
  TvxKermitOptionsDialog dialog(in);
  EXPECT_EQ(dialog.CheckBox()->currentIndex(), 2);
  EXPECT_EQ(dialog.Options().crc, crc16bitForced);
  dialog.CheckBox()->setCurrentIndex(0);
  EXPECT_EQ(dialog.Options().crc, crc6bit);
}

TEST(KermitOptionsDialog, OutOfRangeOptionsShowInRange) {
  TvxKermitOptions in;
  in.window_size = 77;
  in.max_long_packet_length = 3;
  TvxKermitOptionsDialog dialog(in);
  EXPECT_EQ(dialog.WindowBox()->value(), 31);
  EXPECT_EQ(dialog.LongLengthBox()->value(), 95);
  EXPECT_EQ(dialog.Options(), in.Clamped());
}

}  // namespace
