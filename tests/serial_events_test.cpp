// Port events as the application sees them, over a pseudo-terminal and over the virtual
// null-modem, with delivery on the main thread and on the message thread: every trace state
// the line can produce, the event character, and handlers that throw (whatever they throw:
// the port reports it and goes on delivering).
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <memory>

#include "support/nullmodem.h"
#include "support/ptypair.h"
#include "support/serialfixture.h"
#include "support/testlog.h"
#include "support/testui.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxclasses/dataprocessor.h"

namespace {
enum class Line { Pty, NullModem };

struct Params {
  Line line;
  bool mainThread;
};

std::string NameOf(const ::testing::TestParamInfo<Params>& info) {
  return std::string(info.param.line == Line::Pty ? "Pty" : "NullModem") +
         (info.param.mainThread ? "MainThread" : "MessageThread");
}

// What the handlers saw, from whichever thread delivers.
struct Seen {
  void Bytes(const void* b, Cardinal n) {
    std::lock_guard lock(mutex);
    bytes.append(static_cast<const char*>(b), n);
  }
  void Trace(TTraceStates s) {
    std::lock_guard lock(mutex);
    traces.push_back({s, bytes.size()});
  }
  std::size_t Size() {
    std::lock_guard lock(mutex);
    return bytes.size();
  }
  // How many reports held State, and the bytes delivered before the last of them.
  int Count(TTraceState state, std::size_t* before = nullptr) {
    std::lock_guard lock(mutex);
    int n = 0;
    for (const auto& [s, at] : traces)
      if (s.Contains(state)) {
        ++n;
        if (before) *before = at;
      }
    return n;
  }
  std::mutex mutex;
  std::string bytes;
  std::vector<std::pair<TTraceStates, std::size_t>> traces;
};

// The component under test on one end of a line; the test drives the other end.
class PortEvents : public ::testing::TestWithParam<Params> {
 protected:
  void SetUp() override {
    const std::string path = GetParam().line == Line::Pty ? pty.slavePath() : modem.Name(0);
    comm.SetComPortNo(static_cast<std::uint16_t>(MapPort(90, path)));
    comm.SetUseMainThread(GetParam().mainThread);
    comm.SetStreamProtocol(spNone);
    comm.SetLog(&log);
    comm.OnAfterReceive = [this](TObject*, const void* b, Cardinal n) { seen.Bytes(b, n); };
    comm.OnTraceState = [this](TObject*, TTraceStates s) { seen.Trace(s); };
  }
  void TearDown() override {
    comm.SetActive(false);
    comm.OnTraceState = nullptr;
    comm.OnAfterReceive = nullptr;
  }
  // Bytes the far end sends.
  void FarSends(const std::string& bytes) {
    if (GetParam().line == Line::Pty)
      pty.Write(bytes);
    else
      modem.Feed(0, bytes);
  }
  bool Received(std::size_t n) {
    return WaitUntil([&] { return seen.Size() >= n; }, 5000);
  }

  PtyPair pty;
  TvxNullModem modem{"/virtual/events-A", "/virtual/events-B"};
  TvxTestLog log;
  Seen seen;
  TvxComm comm;
};
}  // namespace

TEST_P(PortEvents, ABlockHoldingTheEventCharacterRaisesRxFlagAfterItsData) {
  comm.SetEventChar('\n');
  comm.SetTraceStates({tsRxFlag});
  comm.SetActive(true);
  FarSends("no end yet ");
  ASSERT_TRUE(Received(11));
  FarSends("a line\n");
  ASSERT_TRUE(WaitUntil([&] { return seen.Count(tsRxFlag) > 0; }, 5000));
  std::size_t before = 0;
  EXPECT_EQ(seen.Count(tsRxFlag, &before), 1) << "only the block with the character";
  EXPECT_EQ(before, 18u) << "the block is delivered before its trace";

  // A new character takes effect on the open port.
  comm.SetEventChar('#');
  FarSends("x\ny#");
  ASSERT_TRUE(WaitUntil([&] { return seen.Count(tsRxFlag) == 2; }, 5000));
  EXPECT_EQ(seen.Count(tsRxFlag, &before), 2);
  EXPECT_EQ(before, 22u);
  EXPECT_EQ(seen.bytes, "no end yet a line\nx\ny#");

  // Not followed: nothing reported, the data still delivered.
  comm.SetTraceStates({});
  FarSends("more#");
  ASSERT_TRUE(Received(27));
  comm.SetTraceStates({tsRxFlag});
  FarSends("#");
  ASSERT_TRUE(WaitUntil([&] { return seen.Count(tsRxFlag) == 3; }, 5000));
  EXPECT_EQ(seen.Count(tsRxFlag, &before), 3);
  EXPECT_EQ(before, 28u);
}

TEST_P(PortEvents, TheNulCharacterIsAnEventCharacterToo) {
  comm.SetTraceStates({tsRxFlag});
  comm.SetActive(true);
  FarSends(std::string("a\0b", 3));
  ASSERT_TRUE(WaitUntil([&] { return seen.Count(tsRxFlag) == 1; }, 5000));
  EXPECT_EQ(seen.bytes, std::string("a\0b", 3));
}

namespace {
const std::string kUnknown = "An exception of an unknown type left a port event handler";

// A processor of the receive chain that throws what it is told to for the next block.
class ThrowingProcessor : public TvxCustomDataProcessor {
 public:
  ~ThrowingProcessor() override { Destroying(); }
  void DoDataReceived(const void* buffer, Cardinal len, bool& handled) override {
    if (throw_int_) {
      throw_int_ = false;
      throw 7;
    }
    TvxCustomDataProcessor::DoDataReceived(buffer, len, handled);
  }
  std::atomic<bool> throw_int_{false};
};
}  // namespace

TEST_P(PortEvents, WhateverAReceiveHandlerThrowsIsReportedAndDeliveryGoesOn) {
  TvxTestUIServices ui;
  std::vector<std::string> fatal;  // main thread: reports are made there
  comm.OnFatalError = [&](TObject*, Cardinal code, Cardinal, const std::string& msg, bool&) {
    EXPECT_EQ(code, 1u);
    EXPECT_TRUE(TThread::IsMainThread());
    fatal.push_back(msg);
  };
  ThrowingProcessor processor;
  comm.SetDataProcessor(&processor);
  std::atomic<int> blocks{0};
  comm.OnAfterReceive = [&](TObject*, const void* b, Cardinal n) {
    seen.Bytes(b, n);
    switch (++blocks) {
      case 1:
        throw 42;
      case 2:
        throw std::string("a string");
      case 3:
        throw Exception("the framework's exception");
      case 4:
        throw std::runtime_error("a standard exception");
      default:
        break;
    }
  };
  comm.SetActive(true);
  const std::vector<std::string> expected = {kUnknown, kUnknown, "the framework's exception",
                                             "a standard exception", kUnknown};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (i == 4) processor.throw_int_ = true;
    FarSends(std::string(1, static_cast<char>('a' + i)));
    ASSERT_TRUE(WaitUntil([&] { return ui.exceptions.size() == i + 1; }, 5000)) << i;
  }
  EXPECT_EQ(ui.exceptions, expected);
  EXPECT_EQ(fatal, expected);
  bool logged = false;  // without the component's prefix
  for (const std::string& e : log.Entries())
    logged |= e.rfind("Fatal Error: 1, ", 0) == 0 && e.ends_with(", " + kUnknown);
  EXPECT_TRUE(logged);
  // The processor threw before OnAfterReceive saw the fifth block; the port goes on.
  FarSends("f");
  ASSERT_TRUE(Received(5));
  EXPECT_EQ(seen.bytes, "abcdf");
  EXPECT_TRUE(comm.Active());
  EXPECT_EQ(ui.exceptions.size(), 5u);
  comm.SetActive(false);
  comm.SetDataProcessor(nullptr);
  comm.OnFatalError = nullptr;
}

TEST_P(PortEvents, TraceSendAndFatalErrorHandlersThatThrowLeaveThePortDelivering) {
  TvxTestUIServices ui;
  int fatal_calls = 0;
  comm.OnFatalError = [&](TObject*, Cardinal, Cardinal, const std::string&, bool&) {
    if (++fatal_calls == 1) throw 3;  // the report itself fails: dropped
  };
  std::atomic<int> sent{0};
  comm.OnAfterSend = [&](TObject*) {
    ++sent;
    throw 2.5;
  };
  // Armed once open: Open and Close report transmit-empty to it on the caller's call, and
  // what it throws there reaches the caller.
  std::atomic<bool> armed{false};
  comm.OnTraceState = [&](TObject*, TTraceStates s) {
    seen.Trace(s);
    if (armed) throw 1;
  };
  comm.SetTraceStates({tsRxFlag, tsTxEmpty});
  comm.SetActive(true);
  armed = true;
  FarSends(std::string(1, '\0'));
  ASSERT_TRUE(WaitUntil([&] { return fatal_calls == 1; }, 5000));
  EXPECT_TRUE(ui.exceptions.empty()) << "the failed report shows nothing";
  comm.SendString("out");
  ASSERT_TRUE(WaitUntil([&] { return sent == 1 && ui.exceptions.size() == 1; }, 5000));
  FarSends(std::string(1, '\0'));
  ASSERT_TRUE(WaitUntil([&] { return ui.exceptions.size() == 2; }, 5000));
  EXPECT_EQ(ui.exceptions, (std::vector<std::string>{kUnknown, kUnknown}));
  FarSends("end");
  ASSERT_TRUE(Received(5));
  EXPECT_TRUE(comm.Active());
  armed = false;
  comm.SetActive(false);
  comm.OnTraceState = nullptr;  // it refers to this test's locals
  comm.OnAfterSend = nullptr;
  comm.OnFatalError = nullptr;
}

TEST_P(PortEvents, HandlersOfAClosingPortThatThrowAreReportedAndTheCloseStands) {
  TvxTestUIServices ui;
  std::atomic<int> closes{0};
  comm.OnClose = [&](TObject*) {
    ++closes;
    throw 5;
  };
  TvxNotifyRecorder notes;
  auto throwing_note = [&](TvxBaseIO* sender, int code) {
    notes.Notified(sender, code);
    if (code == 1) throw std::string("closed");
  };
  struct Note {
    std::function<void(TvxBaseIO*, int)> fn;
    void Call(TvxBaseIO* s, int c) { fn(s, c); }
  } note{throwing_note};
  comm.AddNotifyHandler(TvxIONotifyEvent::Of<&Note::Call>(&note));
  comm.SetActive(true);
  FarSends("x");
  ASSERT_TRUE(Received(1));
  // The far end goes away: the port closes itself from its event loop.
  if (GetParam().line == Line::Pty)
    pty.CloseMaster();
  else
    modem.Vanish(0);
  ASSERT_TRUE(WaitUntil([&] { return !comm.Active() && !ui.exceptions.empty(); }, 5000));
  EXPECT_EQ(closes, 1);
  EXPECT_EQ(notes.Codes().back(), 1);
  EXPECT_EQ(ui.exceptions, std::vector<std::string>{kUnknown}) << "OnClose's is dropped";
  comm.RemoveNotifyHandler(TvxIONotifyEvent::Of<&Note::Call>(&note));
  comm.OnClose = nullptr;
  if (GetParam().line == Line::Pty) return;
  // The port opens again and delivers.
  comm.SetActive(true);
  FarSends("again");
  EXPECT_TRUE(Received(6));
}

TEST_P(PortEvents, UseMainThreadChangedWhileOpenTakesEffectAtTheNextOpen) {
  std::vector<bool> on_main;  // per block: delivered on the main thread
  std::mutex mutex;
  comm.OnAfterReceive = [&](TObject*, const void* b, Cardinal n) {
    seen.Bytes(b, n);
    std::lock_guard lock(mutex);
    on_main.push_back(QThread::currentThread() == QCoreApplication::instance()->thread());
  };
  const bool opened_with = GetParam().mainThread;
  comm.SetActive(true);
  comm.SetUseMainThread(!opened_with);
  EXPECT_EQ(comm.UseMainThread(), !opened_with);
  FarSends("a");
  ASSERT_TRUE(Received(1));
  FarSends("b");
  ASSERT_TRUE(Received(2));
  comm.SetActive(false);
  comm.SetActive(true);
  FarSends("c");
  ASSERT_TRUE(Received(3));
  comm.SetActive(false);
  comm.OnAfterReceive = nullptr;
  std::lock_guard lock(mutex);
  EXPECT_EQ(on_main, (std::vector<bool>{opened_with, opened_with, !opened_with}));
  EXPECT_EQ(seen.bytes, "abc");
}

TEST_P(PortEvents, OnOpenAndOnCloseThatThrowLeaveTheOpenAndTheCloseStanding) {
  TvxNotifyRecorder notes;
  comm.AddNotifyHandler(notes.Handler());
  int opens = 0, closes = 0;
  comm.OnOpen = [&](TObject* sender) {
    EXPECT_EQ(sender, &comm);
    if (++opens == 1) throw 1;
    throw Exception("open handler");
  };
  comm.OnClose = [&](TObject*) {
    if (++closes == 1) throw std::string("close handler");
    throw std::runtime_error("close handler");
  };
  for (int round = 1; round <= 2; ++round) {
    EXPECT_NO_THROW(comm.SetActive(true));
    ASSERT_TRUE(comm.Active());
    FarSends("x");
    ASSERT_TRUE(Received(static_cast<std::size_t>(round)));
    EXPECT_NO_THROW(comm.SetActive(false));
    EXPECT_FALSE(comm.Active());
  }
  EXPECT_EQ(opens, 2);
  EXPECT_EQ(closes, 2);
  EXPECT_EQ(notes.Codes(), (std::vector<int>{2, 1, 2, 1}));
  comm.RemoveNotifyHandler(notes.Handler());
  comm.OnOpen = nullptr;
  comm.OnClose = nullptr;
}

INSTANTIATE_TEST_SUITE_P(Lines, PortEvents,
                         ::testing::Values(Params{Line::Pty, true}, Params{Line::Pty, false},
                                           Params{Line::NullModem, true},
                                           Params{Line::NullModem, false}),
                         NameOf);

namespace {
// The component on end A of a null-modem and a second one on end B as the far side.
class NullModemEvents : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    comm.SetComPortNo(static_cast<std::uint16_t>(MapPort(91, modem.Name(0))));
    comm.SetUseMainThread(GetParam());
    comm.SetStreamProtocol(spNone);
    comm.OnAfterReceive = [this](TObject*, const void* b, Cardinal n) { seen.Bytes(b, n); };
    comm.OnTraceState = [this](TObject*, TTraceStates s) { seen.Trace(s); };
    far.SetComPortNo(static_cast<std::uint16_t>(MapPort(92, modem.Name(1))));
    far.SetStreamProtocol(spNone);
  }
  void TearDown() override {
    comm.SetActive(false);
    comm.OnTraceState = nullptr;
    comm.OnCommError = nullptr;
    comm.OnAfterReceive = nullptr;
  }
  TvxNullModem modem{"/virtual/trace-A", "/virtual/trace-B"};
  Seen seen;
  TvxComm comm;
  TvxComm far;
};
}  // namespace

TEST_P(NullModemEvents, ModemLineChangesAndRingsAreTracedWhenFollowed) {
  comm.SetTraceStates({tsCTS, tsDSR, tsRLSD, tsRing});
  comm.SetActive(true);
  far.SetActive(true);  // raises DTR and RTS: DSR, carrier and CTS change at our end
  ASSERT_TRUE(WaitUntil(
      [&] { return seen.Count(tsDSR) && seen.Count(tsRLSD) && seen.Count(tsCTS); }, 5000));
  EXPECT_TRUE(comm.ModemSignals() == (TModemSignals{msCTS, msDSR, msRLSD}));
  far.SetRTS(false);
  ASSERT_TRUE(WaitUntil([&] { return seen.Count(tsCTS) == 2; }, 5000));
  EXPECT_FALSE(comm.ModemSignals().Contains(msCTS));
  modem.Ring(0, 20);
  ASSERT_TRUE(WaitUntil([&] { return seen.Count(tsRing) == 1; }, 5000));

  // Not followed: the changes are not reported (the DTR drop below comes after the RTS
  // change that is followed, so its report would come first).
  comm.SetTraceStates({tsCTS});
  far.SetDTR(false);
  far.SetRTS(true);
  ASSERT_TRUE(WaitUntil([&] { return seen.Count(tsCTS) == 3; }, 5000));
  EXPECT_EQ(seen.Count(tsDSR), 1);
  EXPECT_EQ(seen.Count(tsRLSD), 1);
}

TEST_P(NullModemEvents, LineErrorsAndBreaksGoToOnCommErrorAndEndTheirEvent) {
  std::atomic<int> errors{0};
  std::atomic<Cardinal> last{0};
  comm.OnCommError = [&](TObject*, Cardinal code, Cardinal, TComStateFlags, bool&) {
    last = code;
    ++errors;
  };
  comm.SetTraceStates({tsErr, tsBreak, tsRxFlag});
  comm.SetActive(true);
  modem.InjectLineError(0, CE_FRAME);
  ASSERT_TRUE(WaitUntil([&] { return errors == 1; }, 5000));
  EXPECT_EQ(last, CE_FRAME);
  far.SetActive(true);
  far.SendString(std::string(1, '\0'));  // a received NUL: the event character
  ASSERT_TRUE(WaitUntil([&] { return seen.Count(tsRxFlag) == 1; }, 5000));
  modem.InjectBreak(0);
  ASSERT_TRUE(WaitUntil([&] { return errors == 2; }, 5000));
  EXPECT_EQ(last, CE_BREAK);
  // The error query comes first in each event, and an error ends the event: a line error
  // is never reported as a trace state as well.
  far.SendString(std::string(1, '\0'));
  ASSERT_TRUE(WaitUntil([&] { return seen.Count(tsRxFlag) == 2; }, 5000));
  EXPECT_EQ(seen.Count(tsErr), 0);
  EXPECT_EQ(seen.Count(tsBreak), 0);
  comm.SetActive(false);
  comm.OnCommError = nullptr;  // it refers to this test's locals
}

INSTANTIATE_TEST_SUITE_P(Delivery, NullModemEvents, ::testing::Values(true, false),
                         [](const auto& info) {
                           return info.param ? "MainThread" : "MessageThread";
                         });
