// The I/O frame over a real pseudo-terminal: activation, the receive path, the terminal,
// notify handlers, the device list, fatal errors and free notification.
#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QTest>
#include <algorithm>
#include <memory>

#include "support/ptymedium.h"
#include "support/ptypair.h"
#include "support/testlog.h"
#include "support/testui.h"
#include "vxcomm/rtl/formloader.h"
#include "vxcomm/unqualified.h"

namespace {

// A processor that records what it sees and, when told, consumes it.
class RecordingProcessor : public TvxCustomDataProcessor {
 public:
  using TvxCustomDataProcessor::TvxCustomDataProcessor;
  ~RecordingProcessor() override { Destroying(); }
  void DoDataReceived(const void* buffer, Cardinal len, bool& handled) override {
    received.append(static_cast<const char*>(buffer), len);
    if (consume) handled = true;
    TvxCustomDataProcessor::DoDataReceived(buffer, len, handled);
  }
  std::string received;
  bool consume = false;
};

std::string Text(QPlainTextEdit& edit) {
  return edit.toPlainText().toLatin1().toStdString();
}

}  // namespace

TEST(BaseIOActivation, StoredActiveOpensOnlyAtLoaded) {
  PtyPair pty;
  TFormLoader form;
  auto medium = std::unique_ptr<TvxPtyMedium>(form.Create<TvxPtyMedium>());
  medium->SetDevicePath(pty.slavePath());
  medium->SetActive(true);
  EXPECT_TRUE(medium->Active());  // reads the stored value while loading
  EXPECT_FALSE(medium->IsOpen());
  EXPECT_EQ(medium->OpenCount(), 0);
  form.Finish();
  EXPECT_TRUE(medium->IsOpen());
  EXPECT_EQ(medium->OpenCount(), 1);
  medium->SetActive(true);  // same value at run time: nothing happens
  EXPECT_EQ(medium->OpenCount(), 1);
  medium->SetActive(false);
  EXPECT_FALSE(medium->IsOpen());
}

TEST(BaseIOActivation, FailureAtLoadedIsShownAndDropped) {
  TvxTestUIServices ui;
  TFormLoader form;
  auto* medium = form.Create<TvxPtyMedium>();
  std::unique_ptr<TvxPtyMedium> owned(medium);
  medium->SetDevicePath("/nonexistent/tty");
  medium->SetActive(true);
  // A medium that raises from Open while loaded: the box is shown, loading goes on.
  medium->OnOpen = [](TObject*) { throw Exception("handler"); };
  form.Finish();
  EXPECT_FALSE(medium->IsOpen());
  EXPECT_TRUE(ui.errors.empty());  // the open simply failed; nothing raised

  class Raising : public TvxPtyMedium {
   public:
    ~Raising() override { Destroying(); }
    THandle OpenHandle() override { throw Exception("cannot"); }
  };
  TFormLoader form2;
  std::unique_ptr<Raising> raising(form2.Create<Raising>());
  raising->SetActive(true);
  form2.Finish();
  ASSERT_EQ(ui.errors.size(), 1u);
  EXPECT_EQ(ui.errors[0], "Error: error");
  EXPECT_FALSE(raising->IsLoading());
}

TEST(BaseIOActivation, DesignTimeTriesTheOpenAndNeverLeavesItOpen) {
  PtyPair pty;
  TvxPtyMedium good, bad;
  good.SetDesigning(true);
  bad.SetDesigning(true);
  good.SetDevicePath(pty.slavePath());
  bad.SetDevicePath("/nonexistent/tty");
  good.SetActive(true);
  bad.SetActive(true);
  EXPECT_TRUE(good.Active());
  EXPECT_FALSE(good.IsOpen());
  EXPECT_EQ(good.OpenCount(), 1);
  EXPECT_FALSE(bad.Active());
}

TEST(BaseIOReceive, ChainTerminalAndAfterReceiveOverAPty) {
  TvxTestUIServices ui;
  for (bool consume : {false, true}) {
    PtyPair pty;
    QPlainTextEdit terminal;
    TvxPtyMedium medium;
    RecordingProcessor first, second;
    medium.SetDataProcessor(&first);
    first.SetDataProcessor(&second);  // linked behind: attached to the same medium
    EXPECT_EQ(second.IOComponent(), &medium);
    medium.SetTerminal(&terminal);
    medium.SetTerminalUsage(tuBoth);
    medium.SetUseMainThread(true);
    second.consume = consume;
    std::string after;
    bool afterOnMain = true;
    medium.OnAfterReceive = [&](TObject* com, const void* buf, Cardinal len) {
      EXPECT_EQ(com, &medium);
      afterOnMain = afterOnMain && TThread::IsMainThread();
      after.append(static_cast<const char*>(buf), len);
    };
    medium.SetDevicePath(pty.slavePath());
    medium.SetActive(true);
    ASSERT_TRUE(medium.IsOpen());
    pty.Write("hello\xE9 world");
    ASSERT_TRUE(WaitUntil([&] { return after.size() == 12; }, 5000));
    EXPECT_TRUE(afterOnMain);
    EXPECT_EQ(first.received, "hello\xE9 world");
    EXPECT_EQ(second.received, first.received);
    EXPECT_EQ(Text(terminal), consume ? "" : "hello\xE9 world");
    medium.SetActive(false);
  }
}

TEST(BaseIOTerminal, SingleBytesActAsKeysAndBlocksSkipNul) {
  TvxTestUIServices ui;
  QPlainTextEdit terminal;
  TvxPtyMedium medium;
  medium.SetTerminal(&terminal);
  medium.SetTerminalUsage(tuReceive);
  medium.TerminalWrite("abc", 3);
  medium.TerminalWrite("\b", 1);
  EXPECT_EQ(Text(terminal), "ab");
  medium.TerminalWrite("\r", 1);
  medium.TerminalWrite("x\0y\0\0z", 6);
  EXPECT_EQ(Text(terminal), "ab\nxyz");
  medium.TerminalWrite("\x80\xFF", 2);
  EXPECT_EQ(terminal.toPlainText().right(2), QString::fromLatin1("\x80\xFF"));
  medium.SetTerminalUsage(tuSend);  // received bytes are no longer shown
  medium.TerminalWrite("more", 4);
  EXPECT_EQ(terminal.toPlainText().size(), 8);
}

TEST(BaseIOTerminal, TypedKeysFollowTheUsage) {
  TvxTestUIServices ui;
  PtyPair pty;
  struct Case {
    TTerminalUsage usage;
    bool echo;
    bool sent;
    bool shown;
  };
  for (Case c : {Case{tuNone, false, false, true}, Case{tuReceive, false, false, true},
                 Case{tuSend, false, true, false}, Case{tuBoth, false, true, false},
                 Case{tuBoth, true, true, true}}) {
    QPlainTextEdit terminal;
    TvxPtyMedium medium;
    medium.SetDevicePath(pty.slavePath());
    medium.SetActive(true);
    medium.SetTerminal(&terminal);
    medium.SetTerminalUsage(c.usage);
    medium.SetTerminalEcho(c.echo);
    QTest::keyClicks(&terminal, "ok");
    QTest::keyClick(&terminal, Qt::Key_Return);
    EXPECT_EQ(medium.sent, c.sent ? "ok\r" : "") << int(c.usage) << c.echo;
    EXPECT_EQ(Text(terminal), c.shown ? "ok\n" : "") << int(c.usage) << c.echo;
    if (c.sent) {
      EXPECT_EQ(pty.Read(3, 2000), "ok\r");
    }
  }
}

TEST(BaseIONotify, HandlersAreListedOnceAndCalledInOrder) {
  TvxPtyMedium medium;
  struct H {
    void Got(TvxBaseIO*, int code) { log->push_back(tag * 10 + code); }
    std::vector<int>* log;
    int tag;
  };
  std::vector<int> calls;
  H a{&calls, 1}, b{&calls, 2};
  auto ha = TvxIONotifyEvent::Of<&H::Got>(&a);
  auto hb = TvxIONotifyEvent::Of<&H::Got>(&b);
  EXPECT_EQ(medium.AddNotifyHandler(ha), 0);
  EXPECT_EQ(medium.AddNotifyHandler(hb), 1);
  EXPECT_EQ(medium.AddNotifyHandler(ha), 0);
  medium.RefreshDevices();
  EXPECT_EQ(calls, (std::vector<int>{13, 23}));
  medium.RemoveNotifyHandler(ha);
  medium.RemoveNotifyHandler(ha);
  medium.Notify(2);
  EXPECT_EQ(calls, (std::vector<int>{13, 23, 22}));
  EXPECT_TRUE(medium.HandleDeviceChange({TvxDeviceChange::NodesChanged, false}));
  EXPECT_TRUE(medium.HandleDeviceChange({TvxDeviceChange::Arrival, true}));
  EXPECT_FALSE(medium.HandleDeviceChange({TvxDeviceChange::Arrival, false}));
  EXPECT_FALSE(medium.HandleDeviceChange({TvxDeviceChange::Other, true}));
  EXPECT_EQ(calls.size(), 5u);
}

namespace {
class ListingMedium : public TvxPtyMedium {
 public:
  ~ListingMedium() override { Destroying(); }
  void EnumDevices() override {
    ++enumerations;
    for (int n : {5, 1, 7, 2}) {
      auto* d = new TvxDevice;
      d->PortNumber = n;
      d->DisplayName = "COM" + std::to_string(n);
      if (InsertDevice(d) < 0) delete d;
    }
  }
  int enumerations = 0;
};
}  // namespace

TEST(BaseIODevices, InsertKeepsPortOrderAndIndicesAndRefusesDuplicates) {
  ListingMedium medium;
  TStringList list;
  medium.GetDeviceList(&list);
  EXPECT_EQ(medium.enumerations, 1);
  medium.GetDeviceList(&list);  // a filled list is not enumerated again
  EXPECT_EQ(medium.enumerations, 1);
  ASSERT_EQ(list.Count(), 4);
  auto* three = new TvxDevice;
  three->PortNumber = 3;
  three->DisplayName = "COM3";
  EXPECT_EQ(medium.InsertDevice(three), 2);
  auto* dup = new TvxDevice;
  dup->PortNumber = 5;
  EXPECT_EQ(medium.InsertDevice(dup), -1);
  delete dup;
  medium.GetDeviceList(&list);
  std::vector<std::string> names;
  for (int i = 0; i < medium.DeviceCount(); ++i) {
    EXPECT_EQ(medium.GetDevice(i)->Index, i);
    EXPECT_EQ(medium.GetDevice(i)->Owner, &medium);
    names.push_back(list.Strings(i));
  }
  EXPECT_EQ(names, (std::vector<std::string>{"COM1", "COM2", "COM3", "COM5", "COM7"}));
  EXPECT_EQ(medium.IndexOfDevice(7), 4);
  EXPECT_EQ(medium.IndexOfDevice(4), -1);
  EXPECT_EQ(medium.GetDevice(-1), nullptr);
  EXPECT_EQ(medium.GetDevice(5), nullptr);
  medium.ClearDevices();
  EXPECT_EQ(medium.DeviceCount(), 0);
}

TEST(BaseIOFatalError, HandlerDecidesLogAlwaysWritten) {
  TvxTestUIServices ui;
  TvxTestLog log;
  TvxPtyMedium medium;
  medium.SetLog(&log);
  bool clear = true;
  int calls = 0;
  medium.OnFatalError = [&](TObject* s, Cardinal c, Cardinal d, const std::string& m, bool& raise) {
    EXPECT_EQ(s, &medium);
    EXPECT_EQ(m, "boom");
    EXPECT_TRUE(raise);
    ++calls;
    if (clear) raise = false;
    (void)c, (void)d;
  };
  EXPECT_NO_THROW(medium.RaiseFatalError(1, 0, "boom"));
  clear = false;
  try {
    medium.RaiseFatalError(1, 5, "boom");
    ADD_FAILURE() << "not raised";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "boom");
  }
  EXPECT_NO_THROW(medium.RaiseFatalError(1, 6, "boom", true));
  EXPECT_EQ(ui.exceptions, std::vector<std::string>{"boom"});
  medium.BeginLoading();
  EXPECT_NO_THROW(medium.RaiseFatalError(1, 7, "boom"));
  EXPECT_EQ(calls, 4);
  auto entries = log.Entries();
  EXPECT_EQ(entries,
            (std::vector<std::string>{"Fatal Error: 1, 0, boom", "Fatal Error: 1, 5, boom",
                                      "Fatal Error: 1, 6, boom", "Fatal Error: 1, 7, boom"}));
  medium.Loaded();
}

TEST(BaseIOFatalError, AbstractOperationsRaiseTheAbstractError) {
  TvxBaseIO io;
  EXPECT_THROW(io.SendChar('a'), EAbstractError);
  EXPECT_THROW(io.SendData("a", 1), EAbstractError);
  EXPECT_THROW(io.PurgeAll(), EAbstractError);
  EXPECT_THROW(io.EnumDevices(), EAbstractError);
  EXPECT_THROW(io.GetDeviceIndex(), EAbstractError);
  TvxCustomLogFile sink;
  EXPECT_THROW(sink.AddEntry("x"), EAbstractError);
}

TEST(BaseIOLog, PrefixHeaderAndRemovedLog) {
  TvxTestLog* log = new TvxTestLog;
  TvxPtyMedium medium;
  medium.SetLog(log);
  medium.LogMsg(dlSimple, "");
  medium.LogMsg(dlDetail, "text");
  medium.LogFmt(dlSimple, "%d%%", {5});
  EXPECT_EQ(log->Entries(),
            (std::vector<std::string>{"<header>", "TvxPtyMediumtext", "TvxPtyMedium5%"}));
  delete log;
  EXPECT_EQ(medium.Log(), nullptr);
  medium.LogMsg(dlSimple, "after");  // must not reach the freed log
}

// Every order of destroying the log, the processor, the terminal and the I/O component:
// none may call into another that is already gone (ASan watches).
TEST(BaseIOFreeNotification, AnyDestructionOrderIsSafe) {
  TvxTestUIServices ui;
  std::vector<int> order{0, 1, 2, 3};
  int permutations = 0;
  do {
    PtyPair pty;
    auto* log = new TvxTestLog;
    auto* proc = new RecordingProcessor;
    auto* terminal = new QPlainTextEdit;
    auto* io = new TvxPtyMedium;
    proc->SetLog(log);
    io->SetLog(log);
    io->SetDataProcessor(proc);
    io->SetTerminal(terminal);
    io->SetTerminalUsage(tuBoth);
    io->SetDevicePath(pty.slavePath());
    io->SetActive(true);
    for (int which : order) {
      if (which == 0) {
        delete log;
        log = nullptr;
      } else if (which == 1) {
        delete proc;
        proc = nullptr;
      } else if (which == 2) {
        delete terminal;
        terminal = nullptr;
      } else {
        delete io;
        io = nullptr;
      }
      // The survivors keep working without the links they lost.
      if (io) {
        io->TerminalWrite("ab", 2);
        io->DeliverData("xy", 2);
        io->LogMsg(dlSimple, "still here");
        EXPECT_EQ(io->Log(), log);
        EXPECT_EQ(io->DataProcessor(), proc);
      }
      if (proc) {
        proc->DoDataSend("z", 1);
        proc->LogMsg(dlSimple, "still here");
        EXPECT_EQ(proc->IOComponent(), io);
      }
    }
    ++permutations;
  } while (std::next_permutation(order.begin(), order.end()));
  EXPECT_EQ(permutations, 24);
}

// The worker hands every block to the main thread and waits; closing and destroying the
// component while data still arrives must neither deadlock nor run a hand-over afterwards.
TEST(BaseIOWorker, CloseAndDestroyWhileDataArrives) {
  PtyPair pty;
  std::string chunk(512, 'q');
  for (int cycle = 0; cycle < 200; ++cycle) {
    auto medium = std::make_unique<TvxPtyMedium>();
    medium->SetUseMainThread(true);
    int delivered = 0;
    medium->OnAfterReceive = [&](TObject*, const void*, Cardinal len) {
      delivered += static_cast<int>(len);
    };
    medium->SetDevicePath(pty.slavePath());
    medium->SetActive(true);
    ASSERT_TRUE(medium->IsOpen());
    pty.Write(chunk);
    if (cycle % 2) WaitUntil([&] { return delivered > 0; }, 2000);
    if (cycle % 3 == 0) medium->SetActive(false);
    medium.reset();
    QCoreApplication::processEvents();  // hand-overs still queued must run nothing
  }
}
