// TForm1: the demo's one window. It places the serial port, the Kermit component, the log
// file and the device box, wires them together as a stored form does, and forwards the
// buttons to the components; the labels and the log pane show the Kermit component's events.
// Thread: GUI thread only; every component of the window runs on it (UseMainThread).
#pragma once

#include <QWidget>
#include <memory>

#include "vxcomm/unqualified.h"
#include "vxcomm/vxcomm.h"
#include "vxcomm/vxkermit.h"
#include "vxcomm/vxlogfile.h"
#include "vxcomm/widgets/vxcommbox.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class TDemoProgressBar;
namespace Ui {
class TForm1;
}

class TForm1 : public QWidget {
  Q_OBJECT

 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // The window's fields, in their declared order; the components and controls are owned
  // by the window.
  TvxKermit* vxKermit1;
  TvxDeviceBox* vxDeviceBox1;
  TvxComm* vxComm1;
  QPlainTextEdit* Memo1;
  QCheckBox* CheckBox1;
  QLineEdit* eFiles;
  QPushButton* Button1;
  QPushButton* Button2;
  TvxLogFile* vxLogFile1;
  QPlainTextEdit* Memo2;
  QPushButton* Button3;
  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QLabel* Label4;
  QLabel* Label5;
  TDemoProgressBar* ProgressBar1;
  QLabel* Label6;
  QPushButton* Button6;
  QPushButton* Button7;
  // XPManifest1 only asks Windows for themed controls; Qt styles every control already.

  void CheckBox1Click(QObject* sender);
  void Button2Click(QObject* sender);
  void Button1Click(QObject* sender);
  void Button3Click(QObject* sender);
  void Button6Click(QObject* sender);
  void Button7Click(QObject* sender);
  // The Kermit protocol dialog (a right-click on "..."): what the component offers its peer.
  void KermitSettingsClick();
  void vxKermit1ChangeState(TObject* sender);
  void vxKermit1FileStart(TObject* sender);
  void vxKermit1FileEnd(TObject* sender);
  void vxKermit1Error(TObject* sender);
  void vxKermit1Progress(TObject* sender);
  void vxKermit1FatalError(TObject* sender, Cardinal errorCode, Cardinal detail,
                           const std::string& errorMsg, bool& raiseException);
  // vxLogFile1's: a log file that cannot be written is said once in the log pane, and
  // whoever logged goes on.
  void vxLogFile1FatalError(const std::string& errorMsg, bool& raiseException);
  // vxComm1's: a device that went away while open is said in the log (the port closes on
  // its own then); any other fatal error of the port goes on as without a handler.
  void vxComm1FatalError(Cardinal detail, bool& raiseException);
  // vxComm1's notify handler: on an open or a close the check box shows whether the port
  // is open, and the state label the Kermit component's state.
  void vxComm1Notify(TvxBaseIO* sender, int code);

 private:
  void CreateComponents();
  void ConnectControls();
  // Sets a label's text and sizes the label to it.
  static void SetCaption(QLabel* label, const std::string& text);
  void ShowState(TvxTransferState state);
  // A file's start or end: in the file label, and as an entry of the log (pane and file).
  void ShowFileStep(const std::string& text);
  // The Kermit component ends a transfer on an abort, a fatal error or a closing port
  // without OnChangeState: the state label follows it there, once it shows a state at all.
  void FollowState();

  std::unique_ptr<Ui::TForm1> ui_;
  bool state_shown_ = false;
};
