// The demo window under a monkey: the real TForm1 under the offscreen platform, driven by
// random clicks, keys, device picks, mask edits and Kermit transfers in both directions
// against ckermit, while the virtual port pair comes and goes and its COM number changes.
//
// What must hold throughout: nothing crashes or leaves an event with an exception, no
// message box appears that the monkey's own actions do not explain, the "Active" check box
// always shows whether the port is open, and every file the window reports done is
// byte-identical to the file it came from.
//
// VXCOMM_MONKEY_SECONDS sets the duration (120 by default), VXCOMM_MONKEY_SEED the seed
// (random by default; the seed is printed so that a run can be repeated).
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <map>
#include <random>
#include <set>

#include "Unit1.h"
#include "progressbar.h"
#include "support/kermitfiles.h"
#include "support/kermitpeer.h"
#include "support/ptypair.h"
#include "support/socatpair.h"
#include "support/testdirs.h"
#include "support/testui.h"
#include "vxcomm/platform/portmap.h"
#include "vxcomm/unqualified.h"

namespace fs = std::filesystem;
using kermitfiles::ReadAll;

namespace {

// The window's configuration store belongs to this test; set before Qt reads its location.
const std::string kConfigHome = UsePrivateConfigHome("demo_monkey_test");

long EnvNumber(const char* name, long fallback) {
  const char* text = std::getenv(name);
  if (!text || !*text) return fallback;
  char* end = nullptr;
  long value = std::strtol(text, &end, 10);
  return *end == '\0' && value >= 0 ? value : fallback;
}

std::string Text(const QLabel* label) {
  return label->text().toStdString();
}

std::string Base(const std::string& path) {
  return fs::path(path).filename().string();
}

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// A file's bytes, or "(missing: PATH)" when it cannot be read: the checks run inside the
// window's events, where nothing may throw.
std::string Contents(const std::string& path) {
  try {
    return ReadAll(path);
  } catch (const std::exception&) {
    return "(missing: " + path + ")";
  }
}

bool StartsWith(const std::string& s, const std::string& head) {
  return s.compare(0, head.size(), head) == 0;
}

// The monkey's counts, printed at the end.
struct Figures {
  std::map<std::string, int> actions;
  int sendSessions = 0, receiveSessions = 0;
  int sentVerified = 0, receivedVerified = 0;
  int skipped = 0, aborted = 0;
  int pairsMade = 0, pairsCut = 0, remaps = 0;
  int portClosedByItself = 0;
  int stateLabelBehind = 0;
  std::map<std::string, int> shown;  // message boxes and exception displays, by kind
};

class Monkey {
 public:
  Monkey(unsigned seed, TvxTestUIServices& ui) : rng_(seed), ui_(ui) {
    base_ = MakeTempDir("monkey");
    src_ = base_ + "/send";
    peerFiles_ = base_ + "/peer";
    in_ = base_ + "/in";
    for (const auto& dir : {src_, peerFiles_, in_}) fs::create_directories(dir);
    Write(src_ + "/f0.dat", kermitfiles::EveryByte(1));
    Write(src_ + "/f1.dat", kermitfiles::RandomBytes(30000, seed + 1));
    Write(src_ + "/f2.dat", kermitfiles::RandomBytes(1, seed + 2));
    Write(src_ + "/f3.bin", kermitfiles::RandomBytes(300000, seed + 3));
    Write(src_ + "/f4.bin", "");
    Write(src_ + "/f5.txt", kermitfiles::Text());
    Write(peerFiles_ + "/p0.bin", kermitfiles::RandomBytes(20000, seed + 4));
    Write(peerFiles_ + "/p1.dat", kermitfiles::EveryByte(4));
    Write(peerFiles_ + "/p2.txt", kermitfiles::Text());
    Write(peerFiles_ + "/p3.bin", kermitfiles::RandomBytes(200000, seed + 5));
    Write(peerFiles_ + "/p4.bin", "");
    masks_ = {src_ + "/*.dat",  src_ + "/*.bin",  src_ + "/f1.dat;" + src_ + "/f5.txt",
              src_ + "/f?.bin", src_ + "/*.*",    src_ + "/none*.xyz",
              "C:\\*.dat",      "/proc/self/mem", src_ + "/f3.bin," + src_ + "/f0.dat"};
    QDir::setCurrent(QString::fromStdString(in_));  // received files land here

    form_ = std::make_unique<TForm1>();
    form_->show();
    QApplication::setActiveWindow(form_.get());
    TvxKermit* kermit = form_->vxKermit1;
    // The monkey watches the same events the window shows, after the window has shown them.
    auto start = kermit->OnFileStart;
    kermit->OnFileStart = [this, start](TObject* s) {
      start(s);
      FileStarted();
    };
    auto end = kermit->OnFileEnd;
    kermit->OnFileEnd = [this, end](TObject* s) {
      end(s);
      FileEnded();
    };
    auto state = kermit->OnChangeState;
    kermit->OnChangeState = [this, state](TObject* s) {
      state(s);
      StateChanged();
    };
  }

  ~Monkey() {
    peer_.reset();
    form_.reset();
    CutPair();
    QDir::setCurrent(QString::fromStdString(TestTmp()));
  }

  void Run(long seconds) {
    QElapsedTimer clock;
    clock.start();
    int calmEvery = 12;
    for (long turn = 0; clock.elapsed() < seconds * 1000; ++turn) {
      if (turn % calmEvery == calmEvery - 1)
        CalmTransfer(Pick(2) == 0);
      else
        RandomAction();
      QTest::qWait(Pick(40));
      CheckWindow();
      ReapPeer();
      if (HasFatalFailure() || failures_.size() > 20) break;
    }
    // The last transfers settle; then every file reported done has been looked at.
    if (peer_) peer_->Wait(90000);
    ReapPeer();
    CheckWindow();
  }

  void SaveScreenshot(const std::string& name) {
    std::string path = TestTmp() + "/../" + name;
    if (form_->grab().save(QString::fromStdString(path)))
      std::printf("  screenshot: %s\n", fs::weakly_canonical(path).c_str());
  }

  const std::vector<std::string>& Failures() const { return failures_; }
  const Figures& Counts() const { return figures_; }

 private:
  static bool HasFatalFailure() { return testing::Test::HasFatalFailure(); }

  static void Write(const std::string& path, const std::string& bytes) {
    kermitfiles::WriteAll(path, bytes);
  }

  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

  void Fail(const std::string& what) {
    failures_.push_back(what);
    ADD_FAILURE() << what;
  }

  // ---- the window's events, as the monkey checks them ----

  void FileStarted() {
    // The next file's header goes out only after the peer acknowledged the previous end.
    ConfirmSent();
  }

  void StateChanged() {
    TvxKermit* kermit = form_->vxKermit1;
    if (kermit->State() == fsSend) ++figures_.sendSessions;
    if (kermit->State() == fsReceive) ++figures_.receiveSessions;
    // A normal end of a send: the break follows the peer's acknowledgement of the last end.
    if (kermit->State() == fsListen && kermit->RecvBuf()[vxkermit::kTypePos] == 'Y') ConfirmSent();
  }

  void FileEnded() {
    TvxKermit* kermit = form_->vxKermit1;
    const std::string label = Text(form_->Label4);
    const std::string name = kermit->FileName();
    if (EndsWith(label, " aborted.")) {
      // A skip asked for during this file ends with it, however the file ends.
      skipped_.erase(name);
      ++figures_.aborted;
      return;
    }
    // A file skipped ends so only when a skip was asked for during it.
    if (EndsWith(label, " skipped.") || EndsWith(label, " discarded.")) {
      if (skipped_.erase(name))
        ++figures_.skipped;
      else
        Fail("the file label shows \"" + label + "\" but no skip was asked for");
      return;
    }
    if (!EndsWith(label, " done.")) {
      Fail("the file label shows \"" + label + "\" at a file's end");
      return;
    }
    // A skip asked for during this file ends with it; the same name in a later session
    // is checked again.
    if (skipped_.erase(name)) {
      ++figures_.skipped;
      return;
    }
    if (kermit->State() == fsReceive) {
      const std::string source = peerFiles_ + "/" + Base(name);
      if (Contents(name) != Contents(source))
        Fail("received " + name + " reported done, but it differs from " + source);
      else
        ++figures_.receivedVerified;
    } else if (kermit->State() == fsSend) {
      if (peerDir_.empty())
        Fail("sent " + name + " reported done with no ckermit receiving");
      else
        unconfirmed_.push_back({name, peerDir_ + "/" + Base(name)});
    }
  }

  struct Sent {
    std::string source, copy;
  };

  void ConfirmSent() {
    for (const Sent& sent : unconfirmed_) VerifySent(sent);
    unconfirmed_.clear();
  }

  void VerifySent(const Sent& sent) {
    if (Contents(sent.copy) != Contents(sent.source))
      Fail("sent " + sent.source + " reported done, but ckermit's copy " + sent.copy + " differs");
    else
      ++figures_.sentVerified;
  }

  // A file reported sent whose end the peer has not yet acknowledged is still on its way:
  // the monkey does not cut the line under it (the window reports a sent file done when
  // its end goes out).
  bool SafeToCut() const { return unconfirmed_.empty(); }

  // ---- what the window must show at every turn ----

  void CheckWindow() {
    TvxComm* comm = form_->vxComm1;
    if (form_->CheckBox1->isChecked() != comm->Active())
      Fail(std::string("\"Active\" shows ") +
           (form_->CheckBox1->isChecked() ? "ticked" : "unticked") + " for a port that is " +
           (comm->Active() ? "open" : "closed"));
    if (QWidget* modal = QApplication::activeModalWidget())
      Fail(std::string("a modal ") + modal->metaObject()->className() + " is left open");
    const std::string label = Text(form_->Label3);
    if (label != "<>" && label != StateText(form_->vxKermit1->State())) ++figures_.stateLabelBehind;
    Shown(ui_.messages, "message", [](const std::string& m) {
      return m == "There are no files for transmission." || m == "Too many errors." ||
             m == "Too many retries." || StartsWith(m, "Cannot open file ") ||
             StartsWith(m, "Stream read error");
    });
    Shown(ui_.exceptions, "exception",
          [](const std::string& m) { return m.find("Open Error !!!") != std::string::npos; });
    // "Send" with the port closed.
    Shown(ui_.errors, "error", [](const std::string& m) {
      return m == "Kermit Demo - vxComm Lib: The port is not open.";
    });
    figures_.shown["line-settings dialog"] += static_cast<int>(ui_.dialogDevices.size());
    ui_.dialogDevices.clear();
  }

  template <typename Expected>
  void Shown(std::vector<std::string>& texts, const std::string& kind, Expected expected) {
    for (const std::string& text : texts) {
      if (expected(text))
        ++figures_.shown[kind + ": " + text.substr(0, text.find('\r'))];
      else
        Fail("unexpected " + kind + " shown: " + text);
    }
    texts.clear();
  }

  static std::string StateText(TvxTransferState state) {
    return state == fsSend ? "Send" : state == fsReceive ? "Receive" : "Listen";
  }

  // ---- the line and the peer ----

  void MakePair() {
    pair_ = std::make_unique<SocatPair>();
    number_ = Pick(2) == 0 ? 5 : 7;
    vxWritePortMapping(number_, pair_->A());
    ++figures_.pairsMade;
    form_->vxComm1->RefreshDevices();  // what a hot-plug notice does
  }

  void CutPair() {
    if (!pair_) return;
    // Only COM1 is no mapped port, so an open port on another number is on the pair.
    const bool onPair = form_ && form_->vxComm1->Active() && form_->vxComm1->ComPortNo() != 1;
    peer_.reset();
    pair_.reset();  // socat ends: both ends hang up
    vxWritePortMapping(number_, "");
    ++figures_.pairsCut;
    if (!form_) return;
    if (onPair) {
      // The open port's device is gone: the port closes by itself, and "Active" follows.
      if (!WaitUntil([&] { return !form_->vxComm1->Active(); }, 10000))
        Fail("the port stays open after its device vanished");
      else if (form_->CheckBox1->isChecked())
        Fail("\"Active\" stays ticked after the port closed by itself");
      else
        ++figures_.portClosedByItself;
    }
    form_->vxComm1->RefreshDevices();
  }

  void Remap() {
    vxWritePortMapping(number_, "");
    number_ = number_ == 5 ? 7 : 5;
    vxWritePortMapping(number_, pair_->A());
    ++figures_.remaps;
    form_->vxComm1->RefreshDevices();
  }

  void StartPeer(bool weSend) {
    if (!pair_) return;
    if (peer_ && !peer_->Finished()) {
      if (!SafeToCut()) return;
      peer_.reset();
      ReapPeer();
    }
    peerDir_.clear();
    if (weSend) {
      peerDir_ = MakeTempDir("monkey-peer");
      peer_ = KermitPeer::Receive(KermitPeer::CKermit, pair_->B(), peerDir_, 90);
    } else {
      std::vector<std::string> files;
      for (const char* name : {"p0.bin", "p1.dat", "p2.txt", "p3.bin", "p4.bin"})
        if (Pick(2) == 0) files.push_back(peerFiles_ + "/" + name);
      if (files.empty()) files.push_back(peerFiles_ + "/p2.txt");
      peer_ = KermitPeer::Send(KermitPeer::CKermit, pair_->B(), files, base_, 90);
    }
  }

  // A peer that has ended has written all it will: files reported sent to it are final.
  void ReapPeer() {
    if (peer_ && !peer_->Finished()) return;
    for (const Sent& sent : unconfirmed_) VerifySent(sent);
    unconfirmed_.clear();
  }

  // ---- the user's actions ----

  void Click(QWidget* widget) { QTest::mouseClick(widget, Qt::LeftButton); }

  // The entry of the pair's COM number in the device box, or -1.
  int PairEntry() const {
    const QString prefix = QString("COM%1 (mapped to ").arg(number_);
    TvxDeviceBox* box = form_->vxDeviceBox1;
    for (int i = 0; i < box->count(); ++i)
      if (pair_ && box->itemText(i).startsWith(prefix)) return i;
    return -1;
  }

  void PickWithKeys(int target) {
    TvxDeviceBox* box = form_->vxDeviceBox1;
    box->setFocus();
    for (int guard = 0; box->currentIndex() != target && guard < 20; ++guard)
      QTest::keyClick(box, box->currentIndex() < target ? Qt::Key_Down : Qt::Key_Up);
  }

  void PickWithMouse(int target) {
    TvxDeviceBox* box = form_->vxDeviceBox1;
    box->showPopup();
    QAbstractItemView* list = box->view();
    if (!WaitUntil([&] { return list->isVisible(); }, 2000)) return;
    QRect item = list->visualRect(list->model()->index(target, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, item.center());
    if (list->isVisible()) box->hidePopup();
  }

  void TypeMask(const std::string& mask) {
    QLineEdit* edit = form_->eFiles;
    Click(edit);
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(edit, QString::fromStdString(mask));
  }

  void Count(const char* action) { ++figures_.actions[action]; }

  // Whether an action may close the port now.
  bool MayClose() {
    if (SafeToCut()) return true;
    Count("held back: a sent file's end is on its way");
    return false;
  }

  void RandomAction() {
    TvxDeviceBox* box = form_->vxDeviceBox1;
    switch (Pick(22)) {
      case 0:
      case 1:
      case 2:
        if (form_->CheckBox1->isChecked() && !MayClose()) return;
        Count("click Active");
        Click(form_->CheckBox1);
        return;
      case 3:
      case 4: {
        if (box->count() == 0 || !MayClose()) return;
        const int target = Pick(3) == 0 && PairEntry() >= 0 ? PairEntry() : Pick(box->count());
        if (Pick(2) == 0) {
          Count("pick a device with the arrow keys");
          PickWithKeys(target);
        } else {
          Count("pick a device with the mouse");
          PickWithMouse(target);
        }
        return;
      }
      case 5:
      case 6: {
        Count("type in the terminal");
        form_->Memo1->setFocus();
        static const char keys[] = "abcXYZ019 .:~";
        for (int n = 1 + Pick(6); n > 0; --n) {
          switch (Pick(8)) {
            case 0:
              QTest::keyClick(form_->Memo1, Qt::Key_Return);
              break;
            case 1:
              QTest::keyClick(form_->Memo1, Qt::Key_Backspace);
              break;
            default:
              QTest::keyClick(form_->Memo1, keys[Pick(sizeof keys - 1)]);
          }
        }
        return;
      }
      case 7:
        Count("press Tab");
        if (QWidget* focus = QApplication::focusWidget()) {
          Qt::KeyboardModifiers modifiers = Pick(3) == 0 ? Qt::ShiftModifier : Qt::NoModifier;
          // The terminal sends Tab to the port; Ctrl+Tab leaves it.
          if (focus == form_->Memo1 && Pick(2) == 0) modifiers |= Qt::ControlModifier;
          QTest::keyClick(focus, Qt::Key_Tab, modifiers);
        }
        return;
      case 8:
      case 9:
        Count("edit the mask");
        TypeMask(masks_[static_cast<std::size_t>(Pick(static_cast<int>(masks_.size())))]);
        return;
      case 10:
        Count("click Send");
        Click(form_->Button1);
        return;
      case 11:
        Count("start a transfer to ckermit");
        StartPeer(true);
        Click(form_->Button1);
        return;
      case 12:
        Count("start a transfer from ckermit");
        StartPeer(false);
        return;
      case 13:
        Count("click Abort");
        Click(form_->Button3);
        return;
      case 14: {
        const bool all = Pick(3) == 0;
        Count(all ? "click Skip All" : "click Skip File");
        TvxKermit* kermit = form_->vxKermit1;
        if ((kermit->State() == fsSend && kermit->FileStream()) ||
            (kermit->State() == fsReceive && !kermit->FileName().empty()))
          skipped_.insert(kermit->FileName());
        Click(all ? form_->Button7 : form_->Button6);
        return;
      }
      case 15:
        Count("click \"...\"");
        Click(form_->Button2);
        return;
      case 16: {
        QPoint at(Pick(form_->width()), Pick(form_->height()));
        QWidget* target = form_->childAt(at);
        if (!target) return;
        if (!MayClose()) return;  // the click may land on "Active" or the box
        Count("click anywhere");
        QTest::mouseClick(target, Qt::LeftButton, {}, target->mapFrom(form_.get(), at));
        if (box->view()->isVisible()) {
          if (Pick(2) == 0 && box->count() > 0)
            PickWithMouse(Pick(box->count()));
          else
            box->hidePopup();
        }
        return;
      }
      case 17:
        if (pair_ && !MayClose()) return;
        if (pair_) {
          Count("remove the port pair");
          CutPair();
        } else {
          Count("make the port pair");
          MakePair();
        }
        return;
      case 18:
        if (!pair_) {
          Count("make the port pair");
          MakePair();
        } else if (MayClose()) {
          Count("give the pair another COM number");
          Remap();
        }
        return;
      case 19:
      case 20:
        InterruptTransfer();
        return;
      default:
        Count("wait");
        QTest::qWait(Pick(300));
    }
  }

  // Skip File, Skip All, Abort, a device pick, unticking "Active" or removing the pair in
  // the middle of a file, in either direction.
  void InterruptTransfer() {
    if (!pair_ || !form_->vxComm1->Active()) return;
    const bool weSend = Pick(2) == 0;
    if (form_->vxKermit1->State() != fsListen) Click(form_->Button3);
    StartPeer(weSend);
    if (weSend) {
      TypeMask(src_ + (Pick(2) == 0 ? "/*.bin" : "/*.*"));
      Click(form_->Button1);
    }
    TvxKermit* kermit = form_->vxKermit1;
    if (!WaitUntil([&] { return kermit->FileStream() && kermit->GetFilePosition() > 0; }, 10000))
      return;
    QTest::qWait(Pick(100));
    switch (Pick(6)) {
      case 0:
      case 1: {
        const bool all = Pick(2) == 0;
        Count(all ? "Skip All in a file" : "Skip File in a file");
        if ((kermit->State() == fsSend && kermit->FileStream()) ||
            (kermit->State() == fsReceive && !kermit->FileName().empty()))
          skipped_.insert(kermit->FileName());
        Click(all ? form_->Button7 : form_->Button6);
        return;
      }
      case 2:
        Count("Abort in a file");
        Click(form_->Button3);
        return;
      case 3:
        if (!MayClose()) return;
        Count("untick Active in a file");
        if (form_->CheckBox1->isChecked()) Click(form_->CheckBox1);
        return;
      case 4:
        if (!MayClose()) return;
        Count("pick a device in a file");
        PickWithKeys(Pick(form_->vxDeviceBox1->count()));
        return;
      default:
        if (!MayClose()) return;
        Count("remove the port pair in a file");
        CutPair();
    }
  }

  // A whole transfer without interference: the line up, the pair's port picked and open,
  // then the session runs to its end. Every run of the monkey moves files both ways.
  void CalmTransfer(bool weSend) {
    if (peer_ && !peer_->Finished() && !SafeToCut() && !peer_->Wait(90000)) return;
    ReapPeer();
    Count(weSend ? "calm transfer to ckermit" : "calm transfer from ckermit");
    if (!pair_) MakePair();
    if (PairEntry() < 0) form_->vxComm1->RefreshDevices();
    const int entry = PairEntry();
    if (entry < 0) {
      Fail("the pair's COM" + std::to_string(number_) + " is not listed");
      return;
    }
    if (form_->vxDeviceBox1->currentIndex() != entry) {
      PickWithKeys(entry);
    }
    if (!form_->CheckBox1->isChecked()) Click(form_->CheckBox1);
    if (!form_->vxComm1->Active()) {
      Fail("the pair's port does not open");
      return;
    }
    if (form_->vxKermit1->State() != fsListen) Click(form_->Button3);
    const int before = weSend ? figures_.sentVerified : figures_.receivedVerified;
    if (weSend) {
      StartPeer(true);
      TypeMask(src_ + "/*.*");
      Click(form_->Button1);
    } else {
      StartPeer(false);
    }
    if (!peer_) return;
    if (!peer_->Wait(90000)) {
      Fail("ckermit did not finish a calm transfer: " + Situation());
      return;
    }
    WaitUntil([&] { return form_->vxKermit1->State() == fsListen; }, 10000);
    ReapPeer();
    const int after = weSend ? figures_.sentVerified : figures_.receivedVerified;
    if (after == before) Fail("a calm transfer moved no file: " + Situation());
  }

  // What a failed transfer leaves to look at: ckermit's words, the window, the far end's
  // lock file.
  std::string Situation() {
    std::string s = "ckermit said \"" + (peer_ ? peer_->Output() : std::string()) + "\"";
    s += "; port " + std::string(form_->vxComm1->Active() ? "open" : "closed") + " as COM" +
         std::to_string(form_->vxComm1->ComPortNo()) + ", pair on COM" + std::to_string(number_);
    s += "; state " + StateText(form_->vxKermit1->State());
    if (pair_) {
      std::error_code error;
      const std::string device = fs::read_symlink(pair_->B(), error).string();
      const std::string lock = "/run/lock/LCK.." + Base(device);
      std::string owner = fs::exists(lock) ? Contents(lock) : "";
      owner.erase(0, owner.find_first_not_of(' '));
      if (!owner.empty()) owner.pop_back();
      const std::string comm = owner.empty() ? "" : Contents("/proc/" + owner + "/comm");
      s += "; far end " + device + ", lock " + (owner.empty() ? "none" : owner + " " + comm);
    }
    const QStringList log = form_->Memo2->toPlainText().split('\n');
    s += "; log ends: " + log.mid(std::max<qsizetype>(0, log.size() - 4)).join(" | ").toStdString();
    return s;
  }

  std::mt19937 rng_;
  TvxTestUIServices& ui_;
  std::string base_, src_, peerFiles_, in_, peerDir_;
  std::vector<std::string> masks_;
  std::unique_ptr<TForm1> form_;
  std::unique_ptr<SocatPair> pair_;
  int number_ = 5;
  std::unique_ptr<KermitPeer> peer_;
  std::set<std::string> skipped_;
  std::vector<Sent> unconfirmed_;
  Figures figures_;
  std::vector<std::string> failures_;
};

}  // namespace

TEST(DemoMonkey, RandomUseAgainstCKermitWhileThePortComesAndGoes) {
  const long seconds = EnvNumber("VXCOMM_MONKEY_SECONDS", 120);
  const unsigned seed = static_cast<unsigned>(
      EnvNumber("VXCOMM_MONKEY_SEED", static_cast<long>(std::random_device{}() & 0x7fffffff)));
  std::printf("monkey seed: %u (VXCOMM_MONKEY_SEED=%u repeats it), %ld s\n", seed, seed, seconds);
  std::fflush(stdout);

  TvxTestUIServices ui;
  Figures counts;
  {
    Monkey monkey(seed, ui);
    monkey.Run(seconds);
    monkey.SaveScreenshot("demo-monkey.png");
    counts = monkey.Counts();
  }
  for (const auto& [action, n] : counts.actions) std::printf("  %5d  %s\n", n, action.c_str());
  for (const auto& [kind, n] : counts.shown) std::printf("  %5d  shown: %s\n", n, kind.c_str());
  std::printf(
      "  sessions: %d sending, %d receiving; files verified: %d sent, %d received; %d skipped, "
      "%d aborted\n  pair made %d, removed %d, renumbered %d; port closed by itself %d times; "
      "state label behind the engine at %d turns\n",
      counts.sendSessions, counts.receiveSessions, counts.sentVerified, counts.receivedVerified,
      counts.skipped, counts.aborted, counts.pairsMade, counts.pairsCut, counts.remaps,
      counts.portClosedByItself, counts.stateLabelBehind);
  EXPECT_GT(counts.sentVerified, 0) << "no file was sent whole";
  EXPECT_GT(counts.receivedVerified, 0) << "no file was received whole";
}
