// The line-settings dialog, driven with QTest as a user would: through the UI services'
// modal call and on its own.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "vxcomm/unqualified.h"
#include "vxcomm/widgets/linesettingsdialog.h"
#include "vxcomm/widgets/widgetuiservices.h"

namespace {

// Runs Answer on the modal dialog as soon as it is shown.
void WhenModal(std::function<void(TvxLineSettingsDialog*)> answer) {
  QTimer::singleShot(0, [answer] {
    auto* dialog = qobject_cast<TvxLineSettingsDialog*>(QApplication::activeModalWidget());
    if (!dialog) {
      WhenModal(answer);  // not shown yet: look again on the next turn
      return;
    }
    answer(dialog);
  });
}

void Pick(QComboBox* box, const QString& text) {
  int index = box->findText(text);
  ASSERT_GE(index, 0) << text.toStdString();
  box->setFocus();
  // Walk there with the arrow keys, as a user without a mouse would.
  while (box->currentIndex() < index) QTest::keyClick(box, Qt::Key_Down);
  while (box->currentIndex() > index) QTest::keyClick(box, Qt::Key_Up);
}

}  // namespace

TEST(LineSettingsDialog, ShowsTheSettingsAndReturnsTheEditedOnes) {
  TvxLineSettings in{19200, 7, 2, 2, 1};
  TvxLineSettingsDialog dialog("COM3", in);
  EXPECT_EQ(dialog.windowTitle(), "COM3 Properties");
  EXPECT_EQ(dialog.SpeedBox()->currentText(), "19200");
  EXPECT_EQ(dialog.DataBitsBox()->currentText(), "7");
  EXPECT_EQ(dialog.ParityBox()->currentText(), "Even");
  EXPECT_EQ(dialog.StopBitsBox()->currentText(), "2");
  EXPECT_EQ(dialog.FlowBox()->currentText(), "Hardware (RTS/CTS)");
  dialog.show();

  QLineEdit* speed = dialog.SpeedBox()->lineEdit();
  speed->selectAll();
  QTest::keyClicks(speed, "x250000y");  // the validator keeps only the digits
  EXPECT_EQ(speed->text(), "250000");
  Pick(dialog.DataBitsBox(), "8");
  Pick(dialog.ParityBox(), "None");
  Pick(dialog.StopBitsBox(), "1.5");
  Pick(dialog.FlowBox(), "Software (Xon/Xoff)");
  TvxLineSettings out = dialog.Settings();
  EXPECT_EQ(out.BaudRate, 250000u);
  EXPECT_EQ(out.DataBits, 8u);
  EXPECT_EQ(out.Parity, 0);
  EXPECT_EQ(out.StopBits, 1);
  EXPECT_EQ(out.Flow, 2);

  speed->clear();  // no speed at all keeps the one the port had
  EXPECT_EQ(dialog.Settings().BaudRate, 19200u);
}

TEST(LineSettingsDialog, OutOfRangeValuesShowTheFirstChoice) {
  TvxLineSettings in{9600, 42, 9, -1, 7};
  TvxLineSettingsDialog dialog("COM1", in);
  TvxLineSettings out = dialog.Settings();
  EXPECT_EQ(out.DataBits, 5u);
  EXPECT_EQ(out.Parity, 0);
  EXPECT_EQ(out.StopBits, 0);
  EXPECT_EQ(out.Flow, 0);
}

TEST(LineSettingsDialog, UIServicesOkAndCancel) {
  TvxWidgetUIServices ui;
  TvxLineSettings settings{115200, 8, 0, 0, 1};

  WhenModal([](TvxLineSettingsDialog* dialog) {
    Pick(dialog->ParityBox(), "Odd");
    QTest::mouseClick(dialog->Buttons()->button(QDialogButtonBox::Cancel), Qt::LeftButton);
  });
  EXPECT_FALSE(ui.EditLineSettings("COM1", settings));
  EXPECT_EQ(settings.Parity, 0);

  std::string title;
  WhenModal([&title](TvxLineSettingsDialog* dialog) {
    title = dialog->windowTitle().toStdString();
    Pick(dialog->ParityBox(), "Odd");
    QTest::mouseClick(dialog->Buttons()->button(QDialogButtonBox::Ok), Qt::LeftButton);
  });
  EXPECT_TRUE(ui.EditLineSettings("COM2", settings));
  EXPECT_EQ(title, "COM2 Properties");
  EXPECT_EQ(settings.Parity, 1);
  EXPECT_EQ(settings.BaudRate, 115200u);
  EXPECT_EQ(settings.Flow, 1);

  WhenModal([](TvxLineSettingsDialog* dialog) { QTest::keyClick(dialog, Qt::Key_Escape); });
  EXPECT_FALSE(ui.EditLineSettings("COM2", settings));
}

namespace {

// Runs Answer on the modal message box as soon as it is shown.
void WhenMessageBox(std::function<void(QMessageBox*)> answer) {
  QTimer::singleShot(0, [answer] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return WhenMessageBox(answer);  // not shown yet: look again on the next turn
    answer(box);
  });
}

}  // namespace

TEST(UIServicesMessages, AFileNameInAMessageShowsInTheLocalEncoding) {
  TvxWidgetUIServices ui;
  QString shown;
  WhenMessageBox([&shown](QMessageBox* box) {
    shown = box->text();
    box->accept();
  });
  ui.ShowError("Cannot open file \"caf\xc3\xa9.dat\".", "Kermit Demo");
  EXPECT_EQ(shown, QString::fromUtf8("Cannot open file \"café.dat\"."));
}
