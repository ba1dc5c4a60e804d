#include "Unit1.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "devicelost.h"
#include "progressbar.h"
#include "ui_Unit1.h"
#include "vxcomm/rtl/formloader.h"
#include "vxcomm/rtl/uiservices.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/widgets/kermitoptionsdialog.h"

namespace {

// File names and masks cross to the components as the file system spells them: in the
// local 8-bit encoding.
std::string FileSystemBytes(const QString& s) {
  return QFile::encodeName(s).toStdString();
}

// A control's signal runs like a framework event: an exception of any type that leaves
// the handler is shown by the application's standard display, and the window goes on.
template <typename Handler>
void Guarded(Handler&& handler) {
  try {
    handler();
  } catch (...) {
    ShowCurrentException();
  }
}

}  // namespace

TForm1::TForm1(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::TForm1>()) {
  ui_->setupUi(this);
  vxDeviceBox1 = ui_->vxDeviceBox1;
  Memo1 = ui_->Memo1;
  CheckBox1 = ui_->CheckBox1;
  eFiles = ui_->eFiles;
  Button1 = ui_->Button1;
  Button2 = ui_->Button2;
  Memo2 = ui_->Memo2;
  Button3 = ui_->Button3;
  Label1 = ui_->Label1;
  Label2 = ui_->Label2;
  Label3 = ui_->Label3;
  Label4 = ui_->Label4;
  Label5 = ui_->Label5;
  ProgressBar1 = ui_->ProgressBar1;
  Label6 = ui_->Label6;
  Button6 = ui_->Button6;
  Button7 = ui_->Button7;

  // A dialog border around a fixed client area, in the button-face colour.
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(460, 357);
  QPalette face = palette();
  face.setColor(QPalette::Window, face.color(QPalette::Button));
  setPalette(face);
  setAutoFillBackground(true);
  QFont font("Sans Serif", 8);
  font.setStyleHint(QFont::SansSerif);
  setFont(font);
  for (QLabel* label : {Label1, Label2, Label3, Label4, Label5, Label6}) label->adjustSize();
  ProgressBar1->setRange(0, 0);
  // A top-level window's stored place; a window manager may still put it elsewhere.
  move(235, 150);

  CreateComponents();
  ConnectControls();
}

TForm1::~TForm1() {
  vxComm1->RemoveNotifyHandler(TvxIONotifyEvent::Of<&TForm1::vxComm1Notify>(this));
  // The components go while the controls their events write to are still there; the
  // port's close ends a running transfer, which the Kermit component logs.
  delete vxComm1;
  delete vxKermit1;
  delete vxLogFile1;
}

void TForm1::CreateComponents() {
  TFormLoader form;
  vxKermit1 = form.Create<TvxKermit>(this);
  vxKermit1->SetName("vxKermit1");
  form.Add(vxDeviceBox1->Component());
  vxDeviceBox1->Component()->SetName("vxDeviceBox1");
  vxComm1 = form.Create<TvxComm>(this);
  vxComm1->SetName("vxComm1");
  vxLogFile1 = form.Create<TvxLogFile>(this);
  vxLogFile1->SetName("vxLogFile1");

  // The stored properties, component by component in the order they were written.
  vxKermit1->SetCrc(crc16bit);
  vxKermit1->SetActive(true);
  vxKermit1->SetTimeout(5000);
  vxKermit1->SetErrorLimit(3);
  vxKermit1->OnFileStart = [this](TObject* s) { vxKermit1FileStart(s); };
  vxKermit1->OnFileEnd = [this](TObject* s) { vxKermit1FileEnd(s); };
  vxKermit1->OnProgress = [this](TObject* s) { vxKermit1Progress(s); };
  vxKermit1->OnError = [this](TObject* s) { vxKermit1Error(s); };
  vxKermit1->OnChangeState = [this](TObject* s) { vxKermit1ChangeState(s); };
  vxKermit1->OnFatalError = [this](TObject* s, Cardinal code, Cardinal detail,
                                   const std::string& msg, bool& raise) {
    vxKermit1FatalError(s, code, detail, msg, raise);
  };

  vxDeviceBox1->SetResetOnChanged(false);
  vxDeviceBox1->setCurrentText("COM1 (Communications Port)");

  vxComm1->SetActive(false);
  vxComm1->SetBaudRate(115200);
  vxComm1->SetParity(pNone);
  vxComm1->SetStopBits(sbOne);
  vxComm1->SetByteSize(8);
  vxComm1->SetComPortNo(1);
  vxComm1->SetComPort(cpCOM1);
  vxComm1->SetTraceStates({tsRxChar, tsTxEmpty});
  vxComm1->SetEventChar('\0');
  vxComm1->SetStreamProtocol(spHardware);
  vxComm1->SetBufferInSize(8192);
  vxComm1->SetBufferOutSize(8192);
  vxComm1->SetTimeoutRead(0);
  vxComm1->SetTimeoutWrite(100);
  vxComm1->SetRS485Mode(false);
  vxComm1->SetEnumPorts(epFullPresent);
  vxComm1->SetUseMainThread(true);
  vxComm1->SetTerminalUsage(tuBoth);
  vxComm1->SetTerminalEcho(false);
  // Beyond the stored form: the terminal pane is a terminal's screen in UTF-8 (received
  // bytes at its end, control characters and escape sequences acting, Tab sent, Ctrl+Tab
  // moving on).
  vxComm1->SetTerminalEncoding(teUtf8);
  vxComm1->SetTerminalEmulation(true);
  // Beyond the stored form: a device that goes away while open is reported with its reason.
  vxComm1->SetReportDeviceLoss(true);
  vxComm1->OnFatalError = [this](TObject*, Cardinal, Cardinal detail, const std::string&,
                                 bool& raise) { vxComm1FatalError(detail, raise); };

  vxLogFile1->SetSizeLimit(204800);
  vxLogFile1->SetFileName("duvevoder.log");
  vxLogFile1->SetDetailLevel(dlDetail);
  vxLogFile1->SetOptions({loSafeMode, loAutoFileName, loDate, loTime, loDebugOut});
  vxLogFile1->SetAnsiOnly(true);
  // Beyond the stored form: a program folder that cannot take the log (an installed
  // /usr/bin) puts it in the user's state directory, and a log that cannot be written at
  // all is said once in the log pane instead of stopping whoever logged.
  vxLogFile1->SetStateDirFallback(true);
  vxLogFile1->SetReportSaveErrorOnce(true);
  // The entries name files: the pane shows those names as the file system has them.
  vxLogFile1->SetLocalTextPane(true);
  vxLogFile1->OnFatalError = [this](TObject*, Cardinal, Cardinal, const std::string& msg,
                                    bool& raise) { vxLogFile1FatalError(msg, raise); };
  // Beyond the stored form too: a file of the batch that cannot be opened is logged and
  // skipped, and the others go.
  vxKermit1->SetSkipUnreadableFiles(true);

  // References, once every component has been read.
  vxKermit1->SetLog(vxLogFile1);
  vxKermit1->SetProgressBar(ProgressBar1);
  vxDeviceBox1->SetvxComm(vxComm1);
  vxComm1->SetDataProcessor(vxKermit1);
  vxComm1->SetTerminal(Memo1);
  vxLogFile1->SetVisualOut(Memo2);

  form.Finish();
  // After the processors, so that the Kermit component has reset itself when the form
  // reads its state on an open or a close.
  vxComm1->AddNotifyHandler(TvxIONotifyEvent::Of<&TForm1::vxComm1Notify>(this));
}

void TForm1::ConnectControls() {
  // clicked fires for the user's clicks only, not for the state set back below.
  connect(CheckBox1, &QCheckBox::clicked, this,
          [this] { Guarded([this] { CheckBox1Click(CheckBox1); }); });
  connect(Button1, &QPushButton::clicked, this,
          [this] { Guarded([this] { Button1Click(Button1); }); });
  connect(Button2, &QPushButton::clicked, this,
          [this] { Guarded([this] { Button2Click(Button2); }); });
  // "..." sets the line; its right-click the Kermit protocol (basic, as the window starts).
  Button2->setContextMenuPolicy(Qt::CustomContextMenu);
  Button2->setToolTip(tr("Line settings (right-click: Kermit protocol)"));
  connect(Button2, &QWidget::customContextMenuRequested, this,
          [this] { Guarded([this] { KermitSettingsClick(); }); });
  connect(Button3, &QPushButton::clicked, this,
          [this] { Guarded([this] { Button3Click(Button3); }); });
  connect(Button6, &QPushButton::clicked, this,
          [this] { Guarded([this] { Button6Click(Button6); }); });
  connect(Button7, &QPushButton::clicked, this,
          [this] { Guarded([this] { Button7Click(Button7); }); });
}

void TForm1::SetCaption(QLabel* label, const std::string& text) {
  // The labels show file names.
  label->setText(QFile::decodeName(QByteArray::fromStdString(text)));
  label->adjustSize();
}

void TForm1::CheckBox1Click(QObject*) {
  try {
    vxComm1->SetActive(CheckBox1->isChecked());
  } catch (...) {
    CheckBox1->setChecked(vxComm1->Active());
    throw;
  }
}

void TForm1::vxComm1Notify(TvxBaseIO*, int code) {
  if (code != 1 && code != 2) return;
  // The port also opens and closes without the check box: a device that vanished, a
  // device picked in the box.
  CheckBox1->setChecked(vxComm1->Active());
  FollowState();
}

void TForm1::vxComm1FatalError(Cardinal detail, bool& raiseException) {
  if (!vxComm1->DeviceLost()) return;
  vxLogFile1->AddEntryAt(dlSimple, DeviceLostText(vxComm1->GetDeviceName(), detail));
  raiseException = false;
}

void TForm1::Button2Click(QObject*) {
  vxComm1->ShowConfigDialog();
}

void TForm1::KermitSettingsClick() {
  TvxKermitOptionsDialog dialog(vxKermit1->Options(), this);
  if (dialog.exec() == QDialog::Accepted) vxKermit1->SetOptions(dialog.Options());
}

void TForm1::Button1Click(QObject*) {
  vxKermit1->SendFiles(FileSystemBytes(eFiles->text()));
}

void TForm1::Button3Click(QObject*) {
  vxKermit1->Abort();
  FollowState();
}

void TForm1::Button6Click(QObject*) {
  vxKermit1->SkipFile(false, false);
}

void TForm1::Button7Click(QObject*) {
  vxKermit1->SkipFile(true, false);
}

void TForm1::vxKermit1ChangeState(TObject* sender) {
  state_shown_ = true;
  ShowState(static_cast<TvxKermit*>(sender)->State());
}

void TForm1::FollowState() {
  if (state_shown_) ShowState(vxKermit1->State());
}

void TForm1::ShowState(TvxTransferState state) {
  switch (state) {
    case fsSend:
      SetCaption(Label3, "Send");
      break;
    case fsReceive:
      SetCaption(Label3, "Receive");
      break;
    default:
      SetCaption(Label3, "Listen");
  }
}

void TForm1::ShowFileStep(const std::string& text) {
  SetCaption(Label4, text);
  // Through the log, so that its file keeps what the pane shows.
  vxLogFile1->AddEntryAt(dlSimple, text);
}

void TForm1::vxKermit1FileStart(TObject* sender) {
  ShowFileStep(static_cast<TvxKermit*>(sender)->FileName() + "...");
}

void TForm1::vxKermit1FileEnd(TObject* sender) {
  auto* kermit = static_cast<TvxKermit*>(sender);
  // Only a file that crossed whole is done; the log says why any other ended.
  const char* end = " done.";
  switch (kermit->FileResult().outcome) {
    case foComplete:
      break;
    case foSkippedByUs:
    case foSkippedByPeer:
      end = " skipped.";
      break;
    case foDiscarded:
      end = " discarded.";
      break;
    case foAborted:
    case foFailed:
      end = " aborted.";
      break;
  }
  ShowFileStep(kermit->FileName() + end);
  // A file cut off by the end of its session: the state label follows.
  if (kermit->State() == fsListen) FollowState();
}

void TForm1::vxKermit1Error(TObject* sender) {
  auto* kermit = static_cast<TvxKermit*>(sender);
  SetCaption(Label5, " Errors " + std::to_string(kermit->ErrorCount()) + " from " +
                         std::to_string(kermit->ErrorLimit()));
}

void TForm1::vxKermit1Progress(TObject*) {
  SetCaption(Label6, std::to_string(vxKermit1->GetFilePosition()) + " / " +
                         std::to_string(vxKermit1->TotalSize()));
}

void TForm1::vxLogFile1FatalError(const std::string& errorMsg, bool& raiseException) {
  raiseException = false;
  // Called inside the log's entry, under its lock: the line follows that entry in the pane.
  QString line = QString::fromLocal8Bit(errorMsg) + " (the log goes on in this pane only)";
  QMetaObject::invokeMethod(
      Memo2, [memo = Memo2, line] { memo->appendPlainText(line); }, Qt::QueuedConnection);
}

void TForm1::vxKermit1FatalError(TObject*, Cardinal, Cardinal detail, const std::string& errorMsg,
                                 bool& raiseException) {
  // The component has ended a running transfer without a state change event.
  FollowState();
  // Sending on a closed port is the user's mistake to put right, not news of a transfer.
  if (detail == TvxKermit::kPortClosed)
    UIServices().ShowError(errorMsg, windowTitle().toStdString());
  else
    UIServices().ShowMessage(errorMsg);
  raiseException = false;
}
