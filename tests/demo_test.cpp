// The demo window as a user meets it, under the offscreen platform: its start state, the
// buttons, opening a missing port, and whole Kermit sessions with ckermit over a virtual
// port pair made by scripts/virtual-port-pair. Saves a screenshot after a transfer.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QDialogButtonBox>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <cstring>
#include <filesystem>
#include <functional>

#include "Unit1.h"
#include "progressbar.h"
#include "support/kermitfiles.h"
#include "support/ptypair.h"
#include "support/socatpair.h"
#include "support/testdirs.h"
#include "support/testui.h"
#include "vxcomm/platform/portmap.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/widgets/kermitoptionsdialog.h"

namespace fs = std::filesystem;
using kermitfiles::ReadAll;

namespace {

// The window's configuration store belongs to this test; set before Qt reads its location.
const std::string kConfigHome = UsePrivateConfigHome("demo_test");

std::string Text(const QLabel* label) {
  return label->text().toStdString();
}
std::string Text(const QPlainTextEdit* edit) {
  return edit->toPlainText().toStdString();
}

// scripts/virtual-port-pair as a user runs it: COM5 for the window, ckermit on COM6.
class VirtualPortPair {
 public:
  explicit VirtualPortPair(const QStringList& args) {
    script_.setProgram(QString(VXCOMM_SOURCE_DIR) + "/scripts/virtual-port-pair");
    script_.setArguments(QStringList{"-n", "5"} + args);
    script_.setProcessChannelMode(QProcess::MergedChannels);
    script_.setStandardInputFile(QProcess::nullDevice());
    script_.start();
    ready_ = WaitUntil(
        [this] {
          output_ += script_.readAll().toStdString();
          return vxReadPortMap().count(5) && vxReadPortMap().count(6);
        },
        10000);
    // ckermit starts right after the mappings; a packet sent before it listens costs a
    // reply time-out.
    QTest::qWait(500);
  }
  ~VirtualPortPair() {
    script_.terminate();  // the script ends ckermit and socat and removes the mappings
    if (!script_.waitForFinished(5000)) script_.kill();
  }
  bool Ready() const { return ready_; }
  bool Finished() { return script_.state() == QProcess::NotRunning; }
  std::string Output() { return output_ += script_.readAll().toStdString(); }

 private:
  QProcess script_;
  std::string output_;
  bool ready_ = false;
};

// Picks the entry starting with Prefix in the device box with the keyboard.
bool PickDevice(TForm1& form, const QString& prefix) {
  TvxDeviceBox* box = form.vxDeviceBox1;
  int target = -1;
  for (int i = 0; i < box->count(); ++i)
    if (box->itemText(i).startsWith(prefix)) target = i;
  if (target < 0) return false;
  box->setFocus();
  while (box->currentIndex() < target) QTest::keyClick(box, Qt::Key_Down);
  while (box->currentIndex() > target) QTest::keyClick(box, Qt::Key_Up);
  return box->currentIndex() == target;
}

// Picks the entry starting with Prefix in the device box with the mouse, through its list.
bool PickDeviceWithMouse(TForm1& form, const QString& prefix) {
  TvxDeviceBox* box = form.vxDeviceBox1;
  int target = -1;
  for (int i = 0; i < box->count(); ++i)
    if (box->itemText(i).startsWith(prefix)) target = i;
  if (target < 0) return false;
  box->showPopup();
  QAbstractItemView* list = box->view();
  if (!WaitUntil([&] { return list->isVisible(); }, 2000)) return false;
  QRect item = list->visualRect(list->model()->index(target, 0));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, item.center());
  return box->currentIndex() == target;
}

// A COM number mapped to a device for the life of the object.
class PortMapping {
 public:
  PortMapping(int number, const std::string& path) : number_(number) {
    vxWritePortMapping(number, path);
  }
  ~PortMapping() { vxWritePortMapping(number_, ""); }
  PortMapping(const PortMapping&) = delete;
  PortMapping& operator=(const PortMapping&) = delete;

 private:
  int number_;
};

// Another program's hold on a device: an open descriptor with the exclusive lock that
// serial programs take.
class HeldDevice {
 public:
  explicit HeldDevice(const std::string& path)
      : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {}
  ~HeldDevice() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Held() const { return fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) == 0; }

 private:
  int fd_;
};

class DemoWindow : public testing::Test {
 protected:
  void SetUp() override {
    form = std::make_unique<TForm1>();
    form->show();
  }
  void TearDown() override {
    form.reset();
    QDir::setCurrent(QString::fromStdString(TestTmp()));
  }
  void Click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
  // Runs the event loop until Label3 shows State, recording every state it shows.
  bool WaitForState(const std::string& state, int timeoutMs) {
    return WaitUntil(
        [&] {
          if (states.empty() || states.back() != Text(form->Label3))
            states.push_back(Text(form->Label3));
          return Text(form->Label3) == state;
        },
        timeoutMs);
  }
  // Shows the window as the active one and opens COM5 through the device box and Active.
  void ShowActiveOnCom5() {
    form = std::make_unique<TForm1>();
    form->show();
    QApplication::setActiveWindow(form.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    ASSERT_TRUE(PickDevice(*form, "COM5 (mapped to "));
    Click(form->CheckBox1);
    ASSERT_TRUE(form->vxComm1->Active());
  }

  void SaveScreenshot(const std::string& name) {
    std::string path = TestTmp() + "/../" + name;
    ASSERT_TRUE(form->grab().save(QString::fromStdString(path)));
    std::printf("  screenshot: %s\n", fs::weakly_canonical(path).c_str());
  }

  TvxTestUIServices ui;
  std::unique_ptr<TForm1> form;
  std::vector<std::string> states;
};

}  // namespace

TEST_F(DemoWindow, StartState) {
  EXPECT_EQ(form->windowTitle(), "Kermit Demo - vxComm Lib");
  EXPECT_EQ(form->size(), QSize(460, 357));
  EXPECT_EQ(form->minimumSize(), form->maximumSize());
  EXPECT_EQ(form->font().pointSize(), 8);
  struct Placed {
    QWidget* widget;
    QRect rect;
  };
  for (const Placed& p : {Placed{form->Memo1, {16, 88, 185, 257}},
                          {form->CheckBox1, {16, 8, 97, 17}},
                          {form->eFiles, {224, 112, 225, 21}},
                          {form->Button1, {224, 144, 75, 25}},
                          {form->Button2, {216, 32, 49, 25}},
                          {form->Memo2, {224, 248, 225, 97}},
                          {form->Button3, {376, 144, 75, 25}},
                          {form->ProgressBar1, {224, 88, 225, 16}},
                          {form->Button6, {376, 176, 75, 25}},
                          {form->Button7, {376, 208, 75, 25}},
                          {form->vxDeviceBox1, {16, 32, 185, 21}}})
    EXPECT_EQ(p.widget->geometry(), p.rect) << p.widget->objectName().toStdString();
  for (QLabel* label :
       {form->Label1, form->Label2, form->Label3, form->Label4, form->Label5, form->Label6})
    EXPECT_EQ(label->sizeHint().width(), label->width()) << "sized to its text";
  EXPECT_EQ(form->Label1->pos(), QPoint(16, 64));
  EXPECT_EQ(form->Label6->pos(), QPoint(304, 64));

  // Tab order: the focus chain from the device box round the window.
  std::vector<QWidget*> order = {form->vxDeviceBox1, form->Memo1,   form->CheckBox1, form->eFiles,
                                 form->Button1,      form->Button2, form->Memo2,     form->Button3,
                                 form->Button6,      form->Button7};
  std::vector<QWidget*> chain;
  QWidget* w = form->vxDeviceBox1;
  do {
    if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(form.get()) &&
        w->parent() == form.get())
      chain.push_back(w);
    w = w->nextInFocusChain();
  } while (w != form->vxDeviceBox1 && chain.size() < 40);
  EXPECT_EQ(chain, order);

  EXPECT_EQ(form->CheckBox1->text(), "Active");
  EXPECT_FALSE(form->CheckBox1->isChecked());
  EXPECT_EQ(form->eFiles->text(), "C:\\*.dat");
  EXPECT_EQ(form->Button1->text(), "Send");
  EXPECT_EQ(form->Button2->text(), "...");
  EXPECT_EQ(form->Button3->text(), "Abort");
  EXPECT_EQ(form->Button6->text(), "Skip File");
  EXPECT_EQ(form->Button7->text(), "Skip All");
  EXPECT_EQ(Text(form->Label1), "Terminal");
  EXPECT_EQ(Text(form->Label2), "Log");
  for (QLabel* label : {form->Label3, form->Label4, form->Label5, form->Label6})
    EXPECT_EQ(Text(label), "<>");
  EXPECT_EQ(form->ProgressBar1->value(), form->ProgressBar1->minimum());
  EXPECT_LT(form->ProgressBar1->minimum(), form->ProgressBar1->maximum()) << "empty, not busy";
  EXPECT_EQ(Text(form->Memo1), "");
  EXPECT_EQ(form->Memo2->toPlainText().split('\n').first().toStdString(), "Memo2");
  // The log pane breaks long entries instead of hiding all but their date, time and prefix.
  EXPECT_EQ(form->Memo2->lineWrapMode(), QPlainTextEdit::WidgetWidth);
  EXPECT_EQ(form->Memo2->wordWrapMode(), QTextOption::WrapAtWordBoundaryOrAnywhere);

  // The components as the window stored them.
  EXPECT_FALSE(form->vxComm1->Active());
  EXPECT_FALSE(form->vxComm1->IsLoading());
  EXPECT_EQ(form->vxComm1->BaudRate(), 115200u);
  EXPECT_EQ(form->vxComm1->ComPortNo(), 1);
  EXPECT_EQ(form->vxComm1->StreamProtocol(), spHardware);
  EXPECT_EQ(form->vxComm1->EnumPorts(), epFullPresent);
  EXPECT_TRUE(form->vxComm1->UseMainThread());
  EXPECT_EQ(form->vxComm1->DataProcessor(), form->vxKermit1);
  EXPECT_EQ(form->vxComm1->Terminal(), form->Memo1);
  EXPECT_EQ(form->vxComm1->TerminalUsage(), tuBoth);
  EXPECT_TRUE(form->vxComm1->TerminalEmulation()) << "the demo's own choice";
  EXPECT_EQ(form->vxComm1->TerminalEncoding(), teUtf8);
  EXPECT_EQ(form->vxComm1->Log(), nullptr);
  EXPECT_EQ(form->vxKermit1->Log(), form->vxLogFile1);
  EXPECT_EQ(form->vxKermit1->ProgressBar(), form->ProgressBar1);
  EXPECT_EQ(form->vxKermit1->State(), fsListen);
  EXPECT_EQ(form->vxKermit1->ErrorLimit(), 3);
  EXPECT_EQ(form->vxLogFile1->VisualOut(), form->Memo2);
  EXPECT_EQ(form->vxLogFile1->DetailLevel(), dlDetail);
  EXPECT_EQ(form->vxDeviceBox1->vxComm(), form->vxComm1);
  EXPECT_EQ(form->vxDeviceBox1->count(), form->vxComm1->DeviceCount());
  EXPECT_EQ(form->vxDeviceBox1->currentIndex(), form->vxComm1->GetDeviceIndex());
  EXPECT_EQ(form->pos(), QPoint(235, 150)) << "the window's stored place";
}

// Tab walks the tab order through the whole window, the terminal and the log pane
// included. The terminal pane is a terminal: there Tab goes to the port, and Ctrl+Tab (as
// in any text editor) walks on.
TEST_F(DemoWindow, TabWalksTheTabOrder) {
  PtyPair line;
  PortMapping com5(5, line.slavePath());
  ASSERT_NO_FATAL_FAILURE(ShowActiveOnCom5());

  form->vxDeviceBox1->setFocus();
  std::vector<QWidget*> visited;
  for (int i = 0; i < 11; ++i) {
    QWidget* focus = QApplication::focusWidget();
    visited.push_back(focus);
    QTest::keyClick(focus, Qt::Key_Tab,
                    focus == form->Memo1 ? Qt::ControlModifier : Qt::NoModifier);
  }
  std::vector<QWidget*> order = {form->vxDeviceBox1, form->Memo1,       form->CheckBox1,
                                 form->eFiles,       form->Button1,     form->Button2,
                                 form->Memo2,        form->Button3,     form->Button6,
                                 form->Button7,      form->vxDeviceBox1};
  EXPECT_EQ(visited, order);
  form->eFiles->setFocus();
  QTest::keyClick(form->eFiles, Qt::Key_Tab, Qt::ShiftModifier);
  EXPECT_EQ(QApplication::focusWidget(), form->CheckBox1) << "Shift+Tab walks back";
  form->Memo1->setFocus();
  QTest::keyClick(form->Memo1, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(QApplication::focusWidget(), form->vxDeviceBox1) << "Ctrl+Shift+Tab walks back";

  // In the terminal: keys and Tab go to the port.
  form->Memo1->setFocus();
  QTest::keyClick(form->Memo1, Qt::Key_A);
  QTest::keyClick(form->Memo1, Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), form->Memo1);
  QTest::keyClick(form->Memo1, Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(QApplication::focusWidget(), form->CheckBox1);
  QTest::keyClick(form->CheckBox1, Qt::Key_Tab, Qt::ShiftModifier);
  ASSERT_EQ(QApplication::focusWidget(), form->Memo1);
  QTest::keyClick(form->Memo1, Qt::Key_B);
  EXPECT_EQ(line.Read(3, 5000), "a\tb");
  EXPECT_EQ(Text(form->Memo1), "") << "typed keys are sent, not shown";
}

// The terminal pane as a user meets it on a line to a UTF-8 system: typed characters go out
// in UTF-8, and what comes back shows at the end of the pane, decoded, with its escape
// sequences acting instead of showing.
TEST_F(DemoWindow, TheTerminalPaneSpeaksUtf8AtItsEnd) {
  PtyPair line;
  PortMapping com5(5, line.slavePath());
  ASSERT_NO_FATAL_FAILURE(ShowActiveOnCom5());

  form->Memo1->setFocus();
  for (const QString& typed : {QString("\u20ac"), QString("\u00e4"), QString("\u00f6")}) {
    QKeyEvent press(QEvent::KeyPress, typed[0].unicode(), Qt::NoModifier, typed);
    QApplication::sendEvent(form->Memo1, &press);
  }
  EXPECT_EQ(line.Read(7, 5000), "\xe2\x82\xac\xc3\xa4\xc3\xb6");

  line.Write("old output\r\n\x1b[1;32m$\x1b[0m ");
  ASSERT_TRUE(WaitUntil([&] { return Text(form->Memo1) == "old output\n$ "; }, 5000))
      << Text(form->Memo1);
  QTest::mouseClick(form->Memo1->viewport(), Qt::LeftButton, {}, QPoint(10, 5));
  ASSERT_LT(form->Memo1->textCursor().position(), 5) << "the click went into the old output";
  line.Write("\xe2\x82\xac\xc3");
  line.Write("\xa4\xc3\xb6\r\n");
  EXPECT_TRUE(
      WaitUntil([&] { return Text(form->Memo1) == "old output\n$ \u20ac\u00e4\u00f6\n"; }, 5000))
      << Text(form->Memo1);
}

TEST_F(DemoWindow, SendWithTheDefaultMaskFindsNoFiles) {
  Click(form->Button1);
  ASSERT_EQ(ui.messages, std::vector<std::string>{"There are no files for transmission."});
  EXPECT_TRUE(ui.exceptions.empty());
  EXPECT_EQ(form->vxKermit1->State(), fsListen);
  EXPECT_EQ(Text(form->Label3), "<>");
  Click(form->Button3);  // Abort with nothing running: only a log line
  EXPECT_TRUE(WaitUntil(
      [&] { return Text(form->Memo2).find("Transfer aborted. ") != std::string::npos; }, 2000));
  EXPECT_EQ(ui.messages.size(), 1u);
}

// Files to send but the port is closed: an error box says so at once, and no session
// starts.
TEST_F(DemoWindow, SendOnAClosedPortShowsTheErrorAtOnce) {
  std::string dir = MakeTempDir("demo-closed");
  kermitfiles::WriteAll(dir + "/one.dat", "one");
  form->eFiles->setText(QString::fromStdString(dir + "/*.dat"));
  Click(form->Button1);
  EXPECT_EQ(ui.errors, std::vector<std::string>{"Kermit Demo - vxComm Lib: The port is not open."});
  EXPECT_TRUE(ui.messages.empty()) << ui.messages[0];
  EXPECT_TRUE(ui.exceptions.empty());
  EXPECT_EQ(form->vxKermit1->State(), fsListen);
  EXPECT_EQ(Text(form->Label3), "<>") << "no session started";
  EXPECT_EQ(Text(form->Label4), "<>") << "no file opened";
}

TEST_F(DemoWindow, ActiveOnAMissingPortShowsTheOpenError) {
  vxWritePortMapping(1, "/nonexistent/ttyDEMO");
  Click(form->CheckBox1);
  vxWritePortMapping(1, "");
  ASSERT_EQ(ui.exceptions.size(), 1u);
  EXPECT_NE(ui.exceptions[0].find("Open Error !!!"), std::string::npos) << ui.exceptions[0];
  EXPECT_FALSE(form->CheckBox1->isChecked());
  EXPECT_FALSE(form->vxComm1->Active());
}

// The device box's selection goes into the port: a port that cannot be opened is shown by
// the standard exception display, with the keyboard and with the mouse, and the window goes on.
TEST_F(DemoWindow, PickingABusyPortWhileActiveShowsTheOpenError) {
  PtyPair free, busy;
  PortMapping com5(5, free.slavePath()), com6(6, busy.slavePath());
  form = std::make_unique<TForm1>();  // lists both as it starts
  form->show();
  HeldDevice holder(busy.slavePath());
  ASSERT_TRUE(holder.Held());

  for (bool mouse : {false, true}) {
    SCOPED_TRACE(mouse ? "mouse" : "keyboard");
    auto pick = [&](const char* prefix) {
      return mouse ? PickDeviceWithMouse(*form, prefix) : PickDevice(*form, prefix);
    };
    ui.exceptions.clear();
    ASSERT_TRUE(pick("COM5 (mapped to "));
    if (!form->CheckBox1->isChecked()) Click(form->CheckBox1);
    ASSERT_TRUE(form->vxComm1->Active());
    ASSERT_TRUE(ui.exceptions.empty()) << ui.exceptions[0];

    ASSERT_TRUE(pick("COM6 (mapped to "));
    ASSERT_EQ(ui.exceptions.size(), 1u);
    EXPECT_NE(ui.exceptions[0].find("Device \"COM6\" Open Error !!!"), std::string::npos)
        << ui.exceptions[0];
    EXPECT_FALSE(form->vxComm1->Active());
    EXPECT_FALSE(form->CheckBox1->isChecked()) << "the check box follows the port";
    EXPECT_EQ(form->vxComm1->ComPortNo(), 6);
    EXPECT_EQ(form->vxDeviceBox1->currentIndex(), form->vxComm1->GetDeviceIndex());
  }

  // The window is still usable: back to the free port, and it opens.
  ui.exceptions.clear();
  ASSERT_TRUE(PickDevice(*form, "COM5 (mapped to "));
  Click(form->CheckBox1);
  EXPECT_TRUE(form->vxComm1->Active());
  EXPECT_TRUE(form->CheckBox1->isChecked());
  EXPECT_TRUE(ui.exceptions.empty());
}

// A port whose device goes away closes by itself: "Active" unticks, and a transfer that
// was running ends in the state label and is not reported done.
TEST_F(DemoWindow, ThePortClosingByItselfUnticksActive) {
  {
    PtyPair line;
    PortMapping com5(5, line.slavePath());
    form = std::make_unique<TForm1>();
    form->show();
    ASSERT_TRUE(PickDevice(*form, "COM5 (mapped to "));
    Click(form->CheckBox1);
    ASSERT_TRUE(form->CheckBox1->isChecked());
    line.CloseMaster();  // the far end is gone: the line hangs up
    EXPECT_TRUE(WaitUntil([&] { return !form->vxComm1->Active(); }, 10000));
    EXPECT_FALSE(form->CheckBox1->isChecked());
    Click(form->CheckBox1);  // ticking again reports the port as it is now
    EXPECT_EQ(form->CheckBox1->isChecked(), form->vxComm1->Active());
  }

  std::string dir = MakeTempDir("demo-vanish"), received = dir + "/received";
  kermitfiles::WriteAll(dir + "/big.dat", kermitfiles::RandomBytes(4000000, 5));
  auto pair =
      std::make_unique<VirtualPortPair>(QStringList{"--receive", QString::fromStdString(received)});
  ASSERT_TRUE(pair->Ready()) << pair->Output();
  form = std::make_unique<TForm1>();
  form->show();
  ASSERT_TRUE(PickDevice(*form, "COM5 (mapped to "));
  Click(form->CheckBox1);
  ASSERT_TRUE(form->CheckBox1->isChecked());
  ui.exceptions.clear();
  form->eFiles->setText(QString::fromStdString(dir + "/big.dat"));
  Click(form->Button1);
  ASSERT_TRUE(WaitUntil([&] { return form->vxKermit1->GetFilePosition() > 0; }, 20000));
  ASSERT_EQ(Text(form->Label3), "Send");
  pair.reset();  // the pair is removed under the transfer
  EXPECT_TRUE(WaitUntil([&] { return !form->CheckBox1->isChecked(); }, 10000));
  EXPECT_FALSE(form->vxComm1->Active());
  EXPECT_EQ(Text(form->Label3), "Listen");
  EXPECT_EQ(Text(form->Label4), dir + "/big.dat aborted.");
  EXPECT_EQ(Text(form->Memo2).find("big.dat done."), std::string::npos);
  EXPECT_TRUE(ui.messages.empty());
}

// A device that goes away while the port is open and idle (the relay behind it ends): the
// log says which and why, "Active" unticks, and no box is shown.
TEST_F(DemoWindow, ADeviceThatGoesAwayIsToldInTheLog) {
  auto line = std::make_unique<SocatPair>();
  PortMapping com5(5, line->A());
  form = std::make_unique<TForm1>();
  form->show();
  ASSERT_TRUE(PickDevice(*form, "COM5 (mapped to "));
  Click(form->CheckBox1);
  ASSERT_TRUE(form->vxComm1->Active()) << (ui.exceptions.empty() ? "" : ui.exceptions[0]);
  line.reset();  // socat is ended: both pseudo-terminals go
  ASSERT_TRUE(WaitUntil([&] { return !form->vxComm1->Active(); }, 10000));
  EXPECT_FALSE(form->CheckBox1->isChecked());
  const int code = form->vxComm1->FailureCode();
  ASSERT_NE(code, 0);
  const std::string said = std::string("COM5 went away: ") + std::strerror(code);
  EXPECT_TRUE(WaitUntil([&] { return Text(form->Memo2).find(said) != std::string::npos; }, 2000))
      << Text(form->Memo2);
  EXPECT_TRUE(ui.exceptions.empty()) << ui.exceptions[0];
  EXPECT_TRUE(ui.messages.empty()) << ui.messages[0];
}

TEST_F(DemoWindow, LineSettingsButtonOpensTheDialog) {
  ui.acceptDialog = true;
  ui.dialogAnswer = {9600, 7, 2, 2, 0};
  Click(form->Button2);
  ASSERT_EQ(ui.dialogDevices.size(), 1u);
  EXPECT_EQ(form->vxComm1->BaudRate(), 9600u);
  EXPECT_EQ(form->vxComm1->ByteSize(), 7);
  EXPECT_EQ(form->vxComm1->Parity(), pEven);
}

TEST_F(DemoWindow, SendsFilesToCKermit) {
  std::string dir = MakeTempDir("demo-send"), received = dir + "/received";
  kermitfiles::WriteAll(dir + "/one.dat", kermitfiles::EveryByte(8));
  kermitfiles::WriteAll(dir + "/two.dat", kermitfiles::RandomBytes(40000, 7));
  VirtualPortPair pair({"--receive", QString::fromStdString(received)});
  ASSERT_TRUE(pair.Ready()) << pair.Output();
  form = std::make_unique<TForm1>();  // lists the pair as it starts
  form->show();
  ASSERT_TRUE(PickDevice(*form, "COM5 (mapped to ")) << "COM5 is not listed";
  EXPECT_EQ(form->vxComm1->ComPortNo(), 5);
  Click(form->CheckBox1);
  ASSERT_TRUE(form->vxComm1->Active()) << (ui.exceptions.empty() ? "" : ui.exceptions[0]);

  form->eFiles->setText(QString::fromStdString(dir + "/*.dat"));
  Click(form->Button1);
  ASSERT_TRUE(WaitForState("Send", 5000));
  ASSERT_TRUE(WaitForState("Listen", 40000)) << pair.Output();
  EXPECT_EQ(states, (std::vector<std::string>{"Send", "Listen"}));
  EXPECT_TRUE(ui.messages.empty());
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(received + "/two.dat"); }, 5000));
  EXPECT_EQ(ReadAll(received + "/one.dat"), kermitfiles::EveryByte(8));
  EXPECT_EQ(ReadAll(received + "/two.dat"), kermitfiles::RandomBytes(40000, 7));
  std::string log = Text(form->Memo2);
  EXPECT_NE(log.find(dir + "/one.dat...\n"), std::string::npos) << log;
  EXPECT_NE(log.find(dir + "/two.dat done."), std::string::npos) << log;
  EXPECT_EQ(Text(form->Label4), dir + "/two.dat done.");
  // The log file keeps the lines of the files as the pane shows them.
  const std::string path = form->vxLogFile1->FilePath();
  ASSERT_FALSE(path.empty());
  EXPECT_TRUE(WaitUntil(
      [&] {
        const std::string file = fs::exists(path) ? ReadAll(path) : std::string();
        return file.find(dir + "/one.dat...") != std::string::npos &&
               file.find(dir + "/two.dat done.") != std::string::npos;
      },
      5000))
      << path;
  EXPECT_EQ(Text(form->Label6), "40000 / 40000");
  EXPECT_EQ(form->ProgressBar1->value(), form->ProgressBar1->maximum());
  SaveScreenshot("demo-window.png");
}

// Runs Answer on the Kermit dialog once it is shown (modal: exec runs its own loop).
void WhenKermitDialog(std::function<void(TvxKermitOptionsDialog*)> answer) {
  QTimer::singleShot(0, [answer] {
    auto* dialog = qobject_cast<TvxKermitOptionsDialog*>(QApplication::activeModalWidget());
    if (!dialog) return WhenKermitDialog(answer);
    answer(dialog);
  });
}

TEST_F(DemoWindow, TheKermitDialogTurnsOnTheExtendedProtocol) {
  std::string dir = MakeTempDir("demo-extended"), received = dir + "/received";
  const std::string data = kermitfiles::RandomBytes(300000, 23);
  kermitfiles::WriteAll(dir + "/big.dat", data);
  VirtualPortPair pair({"--receive", QString::fromStdString(received)});
  ASSERT_TRUE(pair.Ready()) << pair.Output();
  form = std::make_unique<TForm1>();
  form->show();
  EXPECT_EQ(form->vxKermit1->WindowSize(), 1);  // the window starts with the basic protocol
  ASSERT_TRUE(PickDevice(*form, "COM5 (mapped to ")) << "COM5 is not listed";
  Click(form->CheckBox1);
  ASSERT_TRUE(form->vxComm1->Active());

  bool shown = false;
  WhenKermitDialog([&](TvxKermitOptionsDialog* dialog) {
    shown = true;
    QTest::mouseClick(dialog->ExtendedButton(), Qt::LeftButton);
    QTest::mouseClick(dialog->Buttons()->button(QDialogButtonBox::Ok), Qt::LeftButton);
  });
  const QPoint at = form->Button2->rect().center();
  QContextMenuEvent rightClick(QContextMenuEvent::Mouse, at, form->Button2->mapToGlobal(at));
  QApplication::sendEvent(form->Button2, &rightClick);
  ASSERT_TRUE(shown);
  EXPECT_TRUE(form->vxKermit1->LongPackets());
  EXPECT_EQ(form->vxKermit1->WindowSize(), 31);
  EXPECT_EQ(form->vxKermit1->Crc(), crc16bit);

  form->eFiles->setText(QString::fromStdString(dir + "/big.dat"));
  Click(form->Button1);
  ASSERT_TRUE(WaitForState("Send", 5000));
  ASSERT_TRUE(WaitForState("Listen", 60000)) << pair.Output();
  EXPECT_TRUE(ui.messages.empty());
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(received + "/big.dat"); }, 5000));
  EXPECT_EQ(ReadAll(received + "/big.dat"), data);
  EXPECT_GT(form->vxKermit1->LargestPacketSent(), 200u);  // long packets crossed
  EXPECT_NE(Text(form->Memo2).find(dir + "/big.dat done."), std::string::npos);
}

TEST_F(DemoWindow, ReceivesFilesFromCKermit) {
  std::string dir = MakeTempDir("demo-receive"), into = MakeTempDir("demo-received");
  kermitfiles::WriteAll(dir + "/alpha.bin", kermitfiles::RandomBytes(30000, 11));
  kermitfiles::WriteAll(dir + "/beta.txt", kermitfiles::Text());
  QDir::setCurrent(QString::fromStdString(into));  // received files land here
  form = std::make_unique<TForm1>();
  form->show();
  VirtualPortPair pair({"--send", QString::fromStdString(dir + "/alpha.bin"),
                        QString::fromStdString(dir + "/beta.txt")});
  ASSERT_TRUE(pair.Ready()) << pair.Output();
  form->vxComm1->RefreshDevices();  // as a hot-plug notice would
  ASSERT_TRUE(PickDevice(*form, "COM5 (mapped to ")) << "COM5 is not listed";
  Click(form->CheckBox1);
  ASSERT_TRUE(form->vxComm1->Active());
  ASSERT_TRUE(WaitForState("Receive", 20000)) << pair.Output();
  ASSERT_TRUE(WaitForState("Listen", 40000)) << pair.Output();
  EXPECT_TRUE(WaitUntil([&] { return pair.Finished(); }, 5000));
  EXPECT_EQ(ReadAll(into + "/alpha.bin"), kermitfiles::RandomBytes(30000, 11));
  EXPECT_EQ(ReadAll(into + "/beta.txt"), kermitfiles::Text());
  EXPECT_NE(Text(form->Label4).find("beta.txt done."), std::string::npos) << Text(form->Label4);
  std::string log = Text(form->Memo2);
  EXPECT_NE(log.find("alpha.bin..."), std::string::npos) << log;
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(DemoWindow, SkipFileSkipAllAndAbortWhileSending) {
  std::string dir = MakeTempDir("demo-skip"), received = dir + "/received";
  const std::string big = kermitfiles::RandomBytes(3000000, 3);
  for (const char* name : {"a.dat", "b.dat", "c.dat"}) kermitfiles::WriteAll(dir + "/" + name, big);
  VirtualPortPair pair({"--receive", QString::fromStdString(received)});
  ASSERT_TRUE(pair.Ready()) << pair.Output();
  form = std::make_unique<TForm1>();
  form->show();
  ASSERT_TRUE(PickDevice(*form, "COM5 (mapped to "));
  Click(form->CheckBox1);
  ASSERT_TRUE(form->vxComm1->Active());
  form->eFiles->setText(QString::fromStdString(dir + "/*.dat"));
  auto sending = [&](const std::string& name) {
    return WaitUntil(
        [&] {
          return Text(form->Label4) == dir + "/" + name + "..." &&
                 form->vxKermit1->GetFilePosition() > 0;
        },
        20000);
  };

  Click(form->Button1);
  ASSERT_TRUE(sending("a.dat"));
  Click(form->Button6);  // Skip File: a.dat ends early, b.dat follows
  ASSERT_TRUE(sending("b.dat"));
  Click(form->Button7);  // Skip All: b.dat ends early and nothing else is sent
  ASSERT_TRUE(WaitForState("Listen", 20000));
  EXPECT_FALSE(fs::exists(received + "/c.dat"));
  for (const char* name : {"a.dat", "b.dat"}) {
    if (fs::exists(received + "/" + name)) {
      EXPECT_LT(fs::file_size(received + "/" + name), big.size()) << name;
    }
    // Skipped files are shown as such, never as done.
    EXPECT_NE(Text(form->Memo2).find(dir + "/" + name + " skipped."), std::string::npos)
        << Text(form->Memo2);
    EXPECT_EQ(Text(form->Memo2).find(dir + "/" + name + " done."), std::string::npos);
  }

  QTest::qWait(500);  // the script starts the next ckermit receive
  Click(form->Button1);
  ASSERT_TRUE(sending("a.dat"));
  Click(form->Button3);  // Abort: the session ends at once, without a state-change event
  EXPECT_EQ(form->vxKermit1->State(), fsListen);
  EXPECT_TRUE(WaitUntil(
      [&] { return Text(form->Memo2).find("Transfer aborted. ") != std::string::npos; }, 2000));
  EXPECT_EQ(Text(form->Label4), dir + "/a.dat aborted.");
  EXPECT_TRUE(ui.messages.empty());
}

// Skip File while receiving: the sender discards the file at our request, and the window
// shows it skipped, not done.
TEST_F(DemoWindow, AFileSkippedWhileReceivingIsShownSkipped) {
  std::string dir = MakeTempDir("demo-rskip"), into = MakeTempDir("demo-rskipped");
  kermitfiles::WriteAll(dir + "/big.bin", kermitfiles::RandomBytes(3000000, 13));
  QDir::setCurrent(QString::fromStdString(into));
  form = std::make_unique<TForm1>();
  form->show();
  VirtualPortPair pair({"--send", QString::fromStdString(dir + "/big.bin")});
  ASSERT_TRUE(pair.Ready()) << pair.Output();
  form->vxComm1->RefreshDevices();
  ASSERT_TRUE(PickDevice(*form, "COM5 (mapped to "));
  Click(form->CheckBox1);
  ASSERT_TRUE(form->vxComm1->Active());
  ASSERT_TRUE(WaitUntil([&] { return form->vxKermit1->GetFilePosition() > 0; }, 20000))
      << pair.Output();
  Click(form->Button6);  // Skip File
  ASSERT_TRUE(WaitForState("Listen", 40000)) << pair.Output();
  EXPECT_NE(Text(form->Label4).find("big.bin skipped."), std::string::npos) << Text(form->Label4);
  EXPECT_EQ(Text(form->Memo2).find("big.bin done."), std::string::npos) << Text(form->Memo2);
  EXPECT_FALSE(fs::exists(into + "/big.bin"));
}

namespace {

// One Kermit packet with the 1-character block check, as a peer would frame it; Damage
// flips the check.
std::string Packet(char type, int seq, const std::string& data, bool damage = false) {
  std::string body;
  body += static_cast<char>(32 + 3 + data.size());
  body += static_cast<char>(32 + seq);
  body += type;
  body += data;
  unsigned sum = 0;
  for (unsigned char c : body) sum += c;
  char check = static_cast<char>(32 + ((sum + ((sum & 192) >> 6)) & 63));
  if (damage) check = static_cast<char>(check == '!' ? '"' : '!');
  return "\x01" + body + check + "\r";
}

}  // namespace

TEST_F(DemoWindow, ErrorCountThenTooManyErrors) {
  std::string into = MakeTempDir("demo-errors");
  QDir::setCurrent(QString::fromStdString(into));
  PtyPair peer;  // the test is the sending Kermit
  vxWritePortMapping(5, peer.slavePath());
  form = std::make_unique<TForm1>();
  form->show();
  ASSERT_TRUE(PickDevice(*form, "COM5 (mapped to "));
  Click(form->CheckBox1);
  vxWritePortMapping(5, "");
  ASSERT_TRUE(form->vxComm1->Active());

  // Send-Init: 94-byte packets, 5 s, no padding, CR, '#' prefix, no 8th-bit, 1-char check.
  peer.Write(Packet('S', 0, "~% @-#N1"));
  ASSERT_TRUE(WaitForState("Receive", 3000));
  ASSERT_FALSE(peer.Read(6, 2000).empty()) << "no acknowledgement";
  peer.Write(Packet('F', 1, "ERR.DAT"));
  ASSERT_FALSE(peer.Read(6, 2000).empty());
  std::vector<std::string> labels;
  for (int i = 0; i < 3; ++i) {
    peer.Write(Packet('D', 2, "some data", true));
    ASSERT_TRUE(WaitUntil(
        [&] { return Text(form->Label5) != (labels.empty() ? "<>" : labels.back()); }, 3000))
        << i;
    labels.push_back(Text(form->Label5));
  }
  EXPECT_EQ(labels,
            (std::vector<std::string>{" Errors 1 from 3", " Errors 2 from 3", " Errors 3 from 3"}));
  EXPECT_TRUE(ui.messages.empty());
  peer.Write(Packet('D', 2, "some data", true));
  ASSERT_TRUE(WaitUntil([&] { return !ui.messages.empty(); }, 3000));
  EXPECT_EQ(ui.messages, std::vector<std::string>{"Too many errors."});
  EXPECT_EQ(Text(form->Label5), " Errors 3 from 3");  // the fourth is no OnError
  EXPECT_TRUE(ui.exceptions.empty());
  EXPECT_EQ(form->vxKermit1->State(), fsListen);
  EXPECT_EQ(Text(form->Label3), "Listen") << "the label follows the ended transfer";
}

namespace {

// True when the whole of the log pane's line holding Text is in view: it is there, and
// nothing of any line lies beyond the pane's right edge.
bool LogLineInView(TForm1& form, const std::string& text) {
  return Text(form.Memo2).find(text) != std::string::npos &&
         form.Memo2->horizontalScrollBar()->maximum() == 0;
}

// A send from the window to ckermit over the virtual pair, ready to be started.
class DemoSend : public DemoWindow {
 protected:
  void SetUp() override {
    DemoWindow::SetUp();
    dir = MakeTempDir("demo-unreadable");
    received = dir + "/received";
    pair = std::make_unique<VirtualPortPair>(
        QStringList{"--receive", QString::fromStdString(received)});
    ASSERT_TRUE(pair->Ready()) << pair->Output();
    form = std::make_unique<TForm1>();
    form->show();
    ASSERT_TRUE(PickDevice(*form, "COM5 (mapped to "));
    Click(form->CheckBox1);
    ASSERT_TRUE(form->vxComm1->Active());
  }
  void TearDown() override {
    form.reset();
    pair.reset();
    DemoWindow::TearDown();
  }
  // Sends a.dat, b.dat and c.dat; b.dat is removed while a.dat goes out, so it cannot be
  // opened when its turn comes (for root too, whom no file mode stops).
  void SendWithAVanishingFile() {
    kermitfiles::WriteAll(dir + "/a.dat", kermitfiles::RandomBytes(200000, 9));
    kermitfiles::WriteAll(dir + "/b.dat", kermitfiles::RandomBytes(1000, 10));
    kermitfiles::WriteAll(dir + "/c.dat", kermitfiles::RandomBytes(3000, 11));
    form->eFiles->setText(QString::fromStdString(dir + "/*.dat"));
    Click(form->Button1);
    ASSERT_TRUE(WaitUntil([&] { return form->vxKermit1->GetFilePosition() > 0; }, 20000));
    fs::remove(dir + "/b.dat");
    ASSERT_TRUE(WaitForState("Listen", 40000)) << Text(form->Memo2);
  }
  std::string CannotOpenB() const {
    return "Cannot open file \"" + dir + "/b.dat\". No such file or directory";
  }
  bool WaitForLog(const std::string& text) {
    return WaitUntil([&] { return Text(form->Memo2).find(text) != std::string::npos; }, 30000);
  }

  std::string dir, received;
  std::unique_ptr<VirtualPortPair> pair;
};

}  // namespace

// A file that cannot be opened is skipped: the reason is in the log pane in full, the files
// before and after it arrive whole, and it is neither reported done nor sent.
TEST_F(DemoSend, AFileThatCannotBeOpenedIsSkippedAndTheBatchGoesOn) {
  SendWithAVanishingFile();
  const std::string skipped = CannotOpenB() + "; the file is skipped.";
  EXPECT_TRUE(LogLineInView(*form, skipped)) << Text(form->Memo2);
  EXPECT_EQ(Text(form->Memo2).find("Transfer aborted. "), std::string::npos) << Text(form->Memo2);
  EXPECT_NE(Text(form->Memo2).find(dir + "/a.dat done."), std::string::npos);
  EXPECT_NE(Text(form->Memo2).find(dir + "/c.dat done."), std::string::npos);
  EXPECT_EQ(Text(form->Memo2).find("b.dat done."), std::string::npos);
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(received + "/c.dat"); }, 5000));
  EXPECT_EQ(ReadAll(received + "/a.dat"), kermitfiles::RandomBytes(200000, 9));
  EXPECT_EQ(ReadAll(received + "/c.dat"), kermitfiles::RandomBytes(3000, 11));
  EXPECT_FALSE(fs::exists(received + "/b.dat"));
  EXPECT_TRUE(ui.messages.empty()) << ui.messages[0];
  EXPECT_TRUE(ui.exceptions.empty());
  EXPECT_EQ(form->vxKermit1->SessionResult().unreadable, std::vector<std::string>{dir + "/b.dat"});
}

// File names in the local 8-bit encoding (UTF-8 here, Qt's on every Unix): a mask that
// names one finds it, and the labels and the log pane show it as the file system has it.
TEST_F(DemoSend, AFileNameInTheLocalEncodingIsFoundAndShownAsItIs) {
  const QString name = QString::fromUtf8("caf\u00e9.dat");
  const std::string onDisk = dir + "/caf\xc3\xa9.dat";  // the bytes the file system holds
  kermitfiles::WriteAll(onDisk, kermitfiles::RandomBytes(5000, 41));
  for (const QString& mask : {name, QString::fromUtf8("caf*.dat")}) {
    SCOPED_TRACE(mask.toStdString());
    if (fs::exists(received))
      for (const auto& entry : fs::directory_iterator(received)) fs::remove_all(entry.path());
    states.clear();
    QTest::qWait(500);  // the script starts the next ckermit receive
    const QString where = QString::fromStdString(dir) + "/";
    form->eFiles->setText(where + mask);
    Click(form->Button1);
    ASSERT_TRUE(ui.messages.empty()) << ui.messages[0];
    ASSERT_TRUE(WaitForState("Listen", 40000)) << pair->Output();
    EXPECT_EQ(form->Label4->text().toStdString(), (where + name + " done.").toStdString());
    const QString log = form->Memo2->toPlainText();
    EXPECT_TRUE(log.contains(where + name + "...\n")) << log.toStdString();
    EXPECT_TRUE(log.contains("vxKermit: " + where + mask)) << "the mask, logged by the component";
    EXPECT_FALSE(log.contains(QString::fromUtf8("caf\u00c3"))) << "no byte shown as Latin-1";
    // Whatever name the peer stores it under, the one file is whole.
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(received) && !fs::is_empty(received); }, 5000));
    const fs::path got = fs::directory_iterator(received)->path();
    EXPECT_EQ(ReadAll(got.string()), kermitfiles::RandomBytes(5000, 41));
  }
}

// A file the system lets us open but not read: the session ends at the failed read, the
// state label follows it back and the file shows as aborted, not done.
TEST_F(DemoSend, AFileThatCannotBeReadEndsTheSend) {
  form->eFiles->setText("/proc/self/mem");
  Click(form->Button1);
  ASSERT_TRUE(WaitForLog("Transfer aborted. ")) << Text(form->Memo2);
  EXPECT_EQ(form->vxKermit1->State(), fsListen);
  EXPECT_EQ(Text(form->Label3), "Listen");
  EXPECT_EQ(Text(form->Label4), "/proc/self/mem aborted.");
  EXPECT_EQ(Text(form->Memo2).find("mem done."), std::string::npos);
  EXPECT_TRUE(LogLineInView(*form, "Transfer aborted. ")) << Text(form->Memo2);
  EXPECT_TRUE(ui.exceptions.empty());
}

// A file that cannot be read once open is a fatal error of the transfer: a message box with
// the reason, and the state label back at "Listen".
TEST_F(DemoSend, AFileThatCannotBeReadIsShownInAMessageBox) {
  form->eFiles->setText("/proc/self/mem");
  Click(form->Button1);
  ASSERT_TRUE(WaitUntil([&] { return !ui.messages.empty(); }, 20000)) << Text(form->Memo2);
  EXPECT_NE(ui.messages[0].find("/proc/self/mem"), std::string::npos) << ui.messages[0];
  EXPECT_EQ(Text(form->Label3), "Listen");
}

namespace {

// The window's log file beside the test program made unwritable for the life of the
// object, for root too: a folder stands where the file would be. The log the earlier tests
// wrote there is put back afterwards.
class UnwritableLogPlace {
 public:
  UnwritableLogPlace() : path_(fs::read_symlink("/proc/self/exe").string() + ".log") {
    if (fs::exists(path_)) fs::rename(path_, path_ + ".kept");
    fs::create_directory(path_);
  }
  ~UnwritableLogPlace() {
    fs::remove_all(path_);
    if (fs::exists(path_ + ".kept")) fs::rename(path_ + ".kept", path_);
  }
  UnwritableLogPlace(const UnwritableLogPlace&) = delete;
  UnwritableLogPlace& operator=(const UnwritableLogPlace&) = delete;

 private:
  std::string path_;
};

// Counts the lines of Text that hold Part.
int LinesWith(const std::string& text, const std::string& part) {
  int count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++count;
  return count;
}

}  // namespace

// Installed where its folder is read-only: the log goes to the user's state directory, no
// box is shown, and the transfer is whole.
TEST_F(DemoSend, AnUnwritableProgramFolderPutsTheLogInTheStateDirectory) {
  UnwritableLogPlace readOnly;
  std::string state = MakeTempDir("demo-state");
  ::setenv("XDG_STATE_HOME", state.c_str(), 1);
  kermitfiles::WriteAll(dir + "/one.dat", kermitfiles::RandomBytes(50000, 21));
  form->eFiles->setText(QString::fromStdString(dir + "/*.dat"));
  Click(form->Button1);
  ASSERT_TRUE(WaitForState("Send", 5000));
  ASSERT_TRUE(WaitForState("Listen", 40000)) << pair->Output();
  ::unsetenv("XDG_STATE_HOME");
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(received + "/one.dat"); }, 5000));
  EXPECT_EQ(ReadAll(received + "/one.dat"), kermitfiles::RandomBytes(50000, 21));
  EXPECT_TRUE(ui.messages.empty()) << ui.messages[0];
  EXPECT_TRUE(ui.exceptions.empty()) << ui.exceptions[0];
  const std::string log = ReadAll(state + "/vxcomm/demo_test.log");
  EXPECT_NE(log.find(dir + "/*.dat"), std::string::npos) << log;
  EXPECT_EQ(LinesWith(Text(form->Memo2), "Error when save log file:"), 0);
}

// A log that cannot be written anywhere is said once in the log pane, and the transfer
// is whole.
TEST_F(DemoSend, ALogThatCannotBeWrittenIsReportedOnceAndTheSendGoesOn) {
  UnwritableLogPlace readOnly;
  std::string state = MakeTempDir("demo-nostate");
  kermitfiles::WriteAll(state + "/file", "a file, not a folder");
  ::setenv("XDG_STATE_HOME", (state + "/file/state").c_str(), 1);
  kermitfiles::WriteAll(dir + "/one.dat", kermitfiles::RandomBytes(50000, 22));
  kermitfiles::WriteAll(dir + "/two.dat", kermitfiles::RandomBytes(7000, 23));
  form->eFiles->setText(QString::fromStdString(dir + "/*.dat"));
  Click(form->Button1);
  ASSERT_TRUE(WaitForState("Send", 5000));
  ASSERT_TRUE(WaitForState("Listen", 40000)) << pair->Output();
  ::unsetenv("XDG_STATE_HOME");
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(received + "/two.dat"); }, 5000));
  EXPECT_EQ(ReadAll(received + "/one.dat"), kermitfiles::RandomBytes(50000, 22));
  EXPECT_EQ(ReadAll(received + "/two.dat"), kermitfiles::RandomBytes(7000, 23));
  EXPECT_TRUE(ui.messages.empty()) << ui.messages[0];
  EXPECT_TRUE(ui.exceptions.empty()) << ui.exceptions[0];
  ASSERT_TRUE(WaitUntil(
      [&] { return LinesWith(Text(form->Memo2), "Error when save log file:") > 0; }, 2000));
  EXPECT_EQ(LinesWith(Text(form->Memo2), "Error when save log file:"), 1) << Text(form->Memo2);
  EXPECT_NE(Text(form->Memo2).find(dir + "/two.dat done."), std::string::npos);
}
