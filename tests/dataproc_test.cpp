// The packet detector: each kind of packet definition, collisions between definitions,
// the silence timer on a real event loop, handler failures, and the medium's open and close.
#include <gtest/gtest.h>

#include <QElapsedTimer>

#include "support/ptymedium.h"
#include "support/ptypair.h"
#include "support/testlog.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxdataproc.h"

namespace {

const std::string SOH(1, '\x01');

// A detector with one recorded list of delivered packets.
struct Detector {
  TvxDataProtocol proto;
  std::vector<std::string> packets;
  std::vector<int> indices;

  Detector() {
    proto.SetActive(true);
    proto.OnDataPacket = [this](TObject* sender, TvxDataPacket* p) {
      EXPECT_EQ(sender, &proto);
      EXPECT_LE(p->DataSize(), p->BufferSize());
      packets.emplace_back(reinterpret_cast<const char*>(p->Data()),
                           static_cast<std::size_t>(p->DataSize()));
      indices.push_back(p->Index());
    };
  }
  TvxDataPacket* Add() { return proto.Packets().Add(); }
  bool Feed(const std::string& s) {
    bool handled = false;
    proto.DoDataReceived(s.data(), static_cast<Cardinal>(s.size()), handled);
    return handled;
  }
};

// A processor behind the detector that records what reaches it.
class Recorder : public TvxCustomDataProcessor {
 public:
  using TvxCustomDataProcessor::TvxCustomDataProcessor;
  ~Recorder() override { Destroying(); }
  void DoDataReceived(const void* buffer, Cardinal len, bool& handled) override {
    received.append(static_cast<const char*>(buffer), len);
    TvxCustomDataProcessor::DoDataReceived(buffer, len, handled);
  }
  std::string received;
};

// Exposes the timer-driven operations of the detector for counting.
class CountingProtocol : public TvxDataProtocol {
 public:
  using TvxDataProtocol::TvxDataProtocol;
  ~CountingProtocol() override { Destroying(); }
  void DoTimeout() override {
    ++timeouts;
    TvxDataProtocol::DoTimeout();
  }
  void DoPacket(int index) override {
    ++doPackets;
    TvxDataProtocol::DoPacket(index);
  }
  int timeouts = 0;
  int doPackets = 0;
};

// A pty medium that tells its notify handlers of the open and the close, as a serial port does.
class NotifyingPtyMedium : public TvxPtyMedium {
 public:
  using TvxPtyMedium::TvxPtyMedium;
  ~NotifyingPtyMedium() override {
    Destroying();
    Close();
  }
  void Open() override {
    TvxPtyMedium::Open();
    if (IsOpen()) Notify(2);
  }
  void Close() override {
    bool wasOpen = IsOpen();
    TvxPtyMedium::Close();
    if (wasOpen) Notify(1);
  }
};

}  // namespace

TEST(DataProcMatcher, MatchesSequentiallyWithoutReexamining) {
  TCommEventNew m("aab");
  std::string hits;
  for (char c : std::string("aaab")) hits += m.Match(c) ? '1' : '0';
  EXPECT_EQ(hits, "0000");  // earlier characters are not reconsidered
  m.Reset();
  hits.clear();
  for (char c : std::string("aab")) hits += m.Match(c) ? '1' : '0';
  EXPECT_EQ(hits, "001");
  EXPECT_FALSE(m.InProgress());  // a match starts over
  EXPECT_TRUE(m.Match('a') == false && m.InProgress());
  m.SetPattern("xy");
  EXPECT_EQ(m.Position(), 1);
  EXPECT_EQ(m.Size(), 2);
  TCommEventNew empty;
  EXPECT_FALSE(empty.Match('\0'));
  EXPECT_FALSE(empty.InProgress());
}

TEST(DataProcDefinition, DefaultsAssignAndDisplayName) {
  TvxDataProtocol proto;
  EXPECT_EQ(proto.LogPrefix(), "vxDataProt: ");
  TvxDataPacket* a = proto.Packets().Add(100);
  EXPECT_EQ(a->BufferSize(), 512);  // raised to the minimum
  EXPECT_TRUE(a->Active());
  EXPECT_EQ(a->Phase(), TvxPacketPhase::Idle);
  EXPECT_EQ(a->DisplayName(), "TvxDataPacket");
  a->SetCaption("  \t");
  EXPECT_EQ(a->DisplayName(), "TvxDataPacket");
  a->SetCaption("Frame");
  a->SetPacketBegin("<");
  a->SetPacketEnd(">");
  a->SetPacketLength(9);
  a->SetResetOthers(true);
  a->SetActive(false);
  a->SetPacketEndByTimeout(true);
  a->SetTag(7);
  TvxDataPacket* b = proto.Packets().Add();
  b->Assign(*a);
  EXPECT_EQ(b->DisplayName(), "Frame");
  EXPECT_EQ(b->PacketBegin(), "<");
  EXPECT_EQ(b->PacketEnd(), ">");
  EXPECT_EQ(b->PacketLength(), 9);
  EXPECT_TRUE(b->ResetOthers());
  EXPECT_FALSE(b->Active());
  EXPECT_FALSE(b->PacketEndByTimeout());  // not copied
  EXPECT_EQ(b->Tag(), 0);
  EXPECT_EQ(b->Index(), 1);
  EXPECT_EQ(proto.Packets().Owner(), &proto);
  EXPECT_THROW(b->Assign(TPersistent()), EConvertError);
  EXPECT_THROW(proto.Packets().Items(2), Exception);
}

TEST(DataProcKinds, BeginAndEndMarkersIncludeBothMarkers) {
  Detector d;
  TvxDataPacket* p = d.Add();
  p->SetPacketBegin("AB");
  p->SetPacketEnd("Z");
  d.proto.ResetPackets();
  d.Feed("xxABhel");
  EXPECT_TRUE(d.proto.PacketPending());
  d.Feed("loZ");
  ASSERT_EQ(d.packets.size(), 1u);
  EXPECT_EQ(d.packets[0], "ABhelloZ");
  EXPECT_EQ(p->DataSize(), 0);  // reset after delivery
  EXPECT_EQ(p->Phase(), TvxPacketPhase::WaitBegin);
  // Only a begin marker: complete on its last character.
  Detector only;
  only.Add()->SetPacketBegin("OK");
  only.proto.ResetPackets();
  only.Feed("xOKyyOOK");
  EXPECT_EQ(only.packets, (std::vector<std::string>{"OK", "OK"}));
}

TEST(DataProcKinds, AnnouncedLengthCompletesAfterTheAnnouncedBytes) {
  Detector d;
  TvxDataPacket* p = d.Add();
  p->SetPacketBegin(SOH);
  std::vector<int> asked;
  p->OnPacketLength = [&](TvxDataPacket* packet, std::uint8_t ch, bool& handled) {
    EXPECT_FALSE(handled);
    asked.push_back(packet->DataSize());
    if (packet->DataSize() == 2) {
      packet->SetPacketLength(ch - 32 + 2);
      handled = true;
    }
  };
  d.proto.ResetPackets();
  // LEN '%' = 37: five bytes after it, seven in all.
  d.Feed("junk" + SOH + "%abcdeTAIL");
  ASSERT_EQ(d.packets.size(), 1u);
  EXPECT_EQ(d.packets[0], SOH + "%abcde");
  EXPECT_EQ(asked, std::vector<int>{2});  // asked once, at the LEN byte
  // A handler that never answers keeps the packet open.
  Detector open;
  TvxDataPacket* q = open.Add();
  q->SetPacketBegin(SOH);
  q->OnPacketLength = [](TvxDataPacket*, std::uint8_t, bool&) {};
  q->SetPacketLength(1);
  open.proto.ResetPackets();
  open.Feed(SOH + "aaaaaaa");
  EXPECT_TRUE(open.packets.empty());
  EXPECT_EQ(q->DataSize(), 8);
}

TEST(DataProcKinds, FixedLengthEveryFourBytes) {
  Detector d;
  d.Add()->SetPacketLength(4);
  d.proto.ResetPackets();
  d.Feed("abcdefg");
  d.Feed("hij");
  EXPECT_EQ(d.packets, (std::vector<std::string>{"abcd", "efgh"}));
  EXPECT_EQ(d.proto.Packets().Items(0)->DataSize(), 2);
}

TEST(DataProcKinds, EndMarkerWithLengthKeepsTheLastBytes) {
  Detector d;
  TvxDataPacket* p = d.Add();
  p->SetPacketEnd("\r");
  p->SetPacketLength(3);
  d.proto.ResetPackets();
  d.Feed("hello\rab\r\r");
  EXPECT_EQ(d.packets, (std::vector<std::string>{"lo\r", "ab\r", "\r"}));
}

TEST(DataProcKinds, NothingButAnIdleDefinitionDetectsNothing) {
  Detector d;
  TvxDataPacket* p = d.Add();
  d.Feed("abc");  // never reset: Idle
  EXPECT_EQ(p->Phase(), TvxPacketPhase::Idle);
  d.proto.ResetPackets();
  EXPECT_EQ(p->Phase(), TvxPacketPhase::Idle);  // no marker, length or timeout
  d.Feed("abc");
  EXPECT_TRUE(d.packets.empty());
  EXPECT_FALSE(d.proto.PacketPending());
}

TEST(DataProcCollection, FirstOfSameByteCompletionsWinsAndSecondMissesTheByte) {
  Detector d;
  d.Add()->SetPacketEnd("X");
  TvxDataPacket* second = d.Add();
  second->SetPacketEnd("X");
  d.proto.ResetPackets();
  d.Feed("abX");
  EXPECT_EQ(d.packets, std::vector<std::string>{"abX"});
  EXPECT_EQ(d.indices, std::vector<int>{0});
  EXPECT_EQ(second->DataSize(), 2);  // "ab": the completing byte never reached it
  // Markers changed mid-detection apply from the next reset only.
  second->SetPacketEnd("Y");
  d.Feed("cY");
  EXPECT_TRUE(d.packets.size() == 1);
  d.proto.ResetPackets();
  d.Feed("Y");
  EXPECT_EQ(d.indices, (std::vector<int>{0, 1}));
}

TEST(DataProcCollection, ResetOthersStartsEveryOtherDefinitionOver) {
  for (bool resetOthers : {false, true}) {
    Detector d;
    TvxDataPacket* shortOne = d.Add();
    shortOne->SetPacketBegin("[");
    shortOne->SetPacketEnd("]");
    shortOne->SetResetOthers(resetOthers);
    TvxDataPacket* longOne = d.Add();
    longOne->SetPacketLength(6);
    d.proto.ResetPackets();
    d.Feed("ab[c]def");
    if (resetOthers) {
      EXPECT_EQ(d.packets, std::vector<std::string>{"[c]"});
      EXPECT_EQ(longOne->DataSize(), 3);  // "def" after the reset
    } else {
      // The long one missed "]" (the short one took it) but kept counting.
      EXPECT_EQ(d.packets, (std::vector<std::string>{"[c]", "ab[cde"}));
    }
  }
}

TEST(DataProcCollection, InactiveDefinitionIgnoresBytes) {
  Detector d;
  TvxDataPacket* a = d.Add();
  a->SetPacketLength(2);
  d.Add()->SetPacketLength(3);
  d.proto.ResetPackets();
  a->SetActive(false);
  d.Feed("abcdef");
  EXPECT_EQ(d.indices, (std::vector<int>{1, 1}));
  EXPECT_EQ(a->DataSize(), 0);
}

TEST(DataProcBounds, OverLongPacketRestartsWithinTheBuffer) {
  Detector d;
  TvxDataPacket* p = d.Add();
  p->SetPacketBegin("A");
  p->SetPacketEnd("Z");
  d.proto.ResetPackets();
  const int size = p->BufferSize();
  d.Feed("A" + std::string(static_cast<std::size_t>(size) + 99, 'x') + "Z");
  ASSERT_EQ(d.packets.size(), 1u);
  // The full buffer dropped one byte and restarted: what followed, and the end marker.
  EXPECT_EQ(d.packets[0], std::string(99, 'x') + "Z");
  // A length beyond the buffer never completes by length, and never writes past it.
  TvxDataPacket* q = d.proto.Packets().Items(0);
  q->SetPacketEnd("");
  q->SetPacketLength(size + 10);
  d.proto.ResetPackets();
  d.Feed("A" + std::string(static_cast<std::size_t>(size) * 3, 'y'));
  EXPECT_EQ(d.packets.size(), 1u);
  EXPECT_LE(q->DataSize(), size);
}

TEST(DataProcBounds, BeginMarkerLongerThanTheBufferIsCut) {
  Detector d;
  TvxDataPacket* p = d.proto.Packets().Add(512);
  std::string marker(700, 'M');
  p->SetPacketBegin(marker);
  d.proto.ResetPackets();
  d.Feed(marker);
  ASSERT_EQ(d.packets.size(), 1u);
  EXPECT_EQ(d.packets[0], std::string(512, 'M'));
}

TEST(DataProcProcessor, InactiveOrEmptyOnlyPassesBlocksOn) {
  Detector d;
  Recorder next;
  d.proto.SetDataProcessor(&next);
  d.proto.SetConsumeData(true);
  EXPECT_FALSE(d.Feed("no definitions"));  // nothing examined: not handled
  d.Add()->SetPacketLength(2);
  d.proto.ResetPackets();
  d.proto.SetTimeout(50);
  d.proto.SetActive(false);
  EXPECT_FALSE(d.Feed("abcd"));
  EXPECT_TRUE(d.packets.empty());
  EXPECT_FALSE(d.proto.Timer().Enabled());
  d.proto.SetActive(true);
  EXPECT_TRUE(d.Feed("efgh"));
  EXPECT_EQ(d.packets, (std::vector<std::string>{"ef", "gh"}));
  EXPECT_TRUE(d.proto.Timer().Enabled());
  EXPECT_EQ(d.proto.Timer().Interval(), 50u);
  d.proto.SetConsumeData(false);
  EXPECT_FALSE(d.Feed("ij"));
  EXPECT_EQ(next.received, "no definitionsabcdefghij");
}

TEST(DataProcProcessor, HandlerThatDeactivatesStopsTheBlockAndTheTimer) {
  Detector d;
  d.Add()->SetPacketLength(2);
  d.proto.ResetPackets();
  d.proto.SetTimeout(1000);
  Recorder next;
  d.proto.SetDataProcessor(&next);
  d.proto.OnDataPacket = [&](TObject*, TvxDataPacket* p) {
    d.packets.emplace_back(reinterpret_cast<const char*>(p->Data()), 2);
    d.proto.SetActive(false);
  };
  d.Feed("abcdef");
  EXPECT_EQ(d.packets, std::vector<std::string>{"ab"});
  EXPECT_FALSE(d.proto.Timer().Enabled());
  EXPECT_EQ(next.received, "abcdef");  // the whole block is still passed on
}

TEST(DataProcProcessor, ProcessByteDeliversWithoutTouchingTheTimer) {
  Detector d;
  d.Add()->SetPacketEnd(";");
  d.proto.ResetPackets();
  std::vector<int> results;
  for (char c : std::string("a;b"))
    results.push_back(d.proto.ProcessByte(static_cast<std::uint8_t>(c)));
  EXPECT_EQ(results, (std::vector<int>{-1, 0, -1}));
  EXPECT_EQ(d.packets, std::vector<std::string>{"a;"});
  EXPECT_FALSE(d.proto.Timer().Enabled());
}

TEST(DataProcFailures, HandlerExceptionBecomesFatal15_1AndDetectionGoesOn) {
  TvxTestLog log;
  Detector d;
  d.proto.SetLog(&log);
  TvxDataPacket* p = d.Add();
  p->SetCaption("Frame");
  p->SetPacketEnd(";");
  d.proto.ResetPackets();
  int calls = 0;
  d.proto.OnDataPacket = [&](TObject*, TvxDataPacket* packet) {
    ++calls;
    if (packet->DataSize() == 2) throw Exception("bad");
    d.packets.emplace_back(reinterpret_cast<const char*>(packet->Data()),
                           static_cast<std::size_t>(packet->DataSize()));
  };
  std::vector<std::string> fatal;
  d.proto.OnFatalError = [&](TObject*, Cardinal code, Cardinal detail, const std::string& msg,
                             bool& raise) {
    fatal.push_back(std::to_string(code) + "/" + std::to_string(detail) + " " + msg);
    raise = false;
  };
  d.Feed("x;yy;");
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(fatal, std::vector<std::string>{"15/1 EXCEPTION in DataPacket handler [Frame]bad"});
  EXPECT_TRUE(log.Has("Fatal Error: 15, 1, EXCEPTION in DataPacket handler [Frame]bad"));
  EXPECT_TRUE(log.Has("vxDataProt: DataPacket is detected: Frame"));
  EXPECT_EQ(d.packets, std::vector<std::string>{"yy;"});

  // Without the handler's consent the exception leaves DoDataReceived, and the definition
  // is reset before it does: the next packet is whole and bounded.
  d.proto.OnFatalError = nullptr;
  d.proto.SetTimeout(500);
  d.proto.Timer().SetEnabled(false);
  EXPECT_THROW(d.Feed("z;tail"), Exception);
  EXPECT_FALSE(d.proto.Timer().Enabled());  // neither stopped nor re-armed: still off
  EXPECT_EQ(p->DataSize(), 0);
  d.Feed("ok;");
  EXPECT_EQ(d.packets.back(), "ok;");
  // An exception that is not of the library's class is not reported.
  d.proto.OnDataPacket = [](TObject*, TvxDataPacket*) { throw std::logic_error("other"); };
  EXPECT_THROW(d.Feed("q;"), std::logic_error);
  EXPECT_EQ(p->DataSize(), 0);
}

TEST(DataProcFailures, LengthHandlerExceptionPropagates) {
  Detector d;
  TvxDataPacket* p = d.Add();
  p->SetPacketBegin(SOH);
  p->OnPacketLength = [](TvxDataPacket*, std::uint8_t, bool&) { throw Exception("length"); };
  d.proto.ResetPackets();
  EXPECT_THROW(d.Feed(SOH + "a"), Exception);
  EXPECT_LE(p->DataSize(), p->BufferSize());
}

TEST(DataProcSilence, PacketEndingBySilenceDeliveredOnceWithAHandler) {
  CountingProtocol proto;
  proto.SetActive(true);
  TvxDataPacket* p = proto.Packets().Add();
  p->SetPacketEndByTimeout(true);
  proto.SetTimeout(100);
  proto.ResetPackets();
  EXPECT_EQ(p->Phase(), TvxPacketPhase::WaitTimeout);
  std::vector<std::string> got;
  proto.OnDataPacket = [&](TObject*, TvxDataPacket* packet) {
    got.emplace_back(reinterpret_cast<const char*>(packet->Data()),
                     static_cast<std::size_t>(packet->DataSize()));
  };
  int timeouts = 0;
  proto.OnTimeout = [&](TObject*) { ++timeouts; };
  proto.DataReceived("burst", 5);
  proto.DataReceived(" more", 5);
  QElapsedTimer clock;
  clock.start();
  ASSERT_TRUE(WaitUntil([&] { return !got.empty(); }, 3000));
  EXPECT_GE(clock.elapsed(), 90);
  WaitUntil([] { return false; }, 250);
  EXPECT_EQ(got, std::vector<std::string>{"burst more"});
  EXPECT_EQ(proto.timeouts, 0);
  EXPECT_EQ(timeouts, 0);
  EXPECT_EQ(p->DataSize(), 0);
}

TEST(DataProcSilence, PacketEndingBySilenceDiscardedWithoutAHandler) {
  CountingProtocol proto;
  proto.SetActive(true);
  TvxDataPacket* p = proto.Packets().Add();
  p->SetPacketEndByTimeout(true);
  proto.SetTimeout(100);
  proto.ResetPackets();
  proto.DataReceived("burst", 5);
  ASSERT_TRUE(WaitUntil([&] { return p->DataSize() == 0; }, 3000));
  WaitUntil([] { return false; }, 200);
  EXPECT_EQ(proto.timeouts, 0);
  EXPECT_EQ(proto.doPackets, 0);
  EXPECT_FALSE(proto.Timer().Enabled());
}

TEST(DataProcSilence, TimeoutComesOnceAfterTheLastBlockAndZeroNeverComes) {
  CountingProtocol proto;
  proto.SetActive(true);
  proto.Packets().Add()->SetPacketEnd("\n");
  proto.ResetPackets();
  proto.SetTimeout(150);
  int timeouts = 0;
  proto.OnTimeout = [&](TObject* sender) {
    EXPECT_EQ(sender, &proto);
    ++timeouts;
  };
  QElapsedTimer clock;
  clock.start();
  proto.DataReceived("a", 1);
  WaitUntil([] { return false; }, 80);
  proto.DataReceived("b", 1);  // re-arms the full interval
  qint64 lastBlock = clock.elapsed();
  ASSERT_TRUE(WaitUntil([&] { return timeouts > 0; }, 3000));
  EXPECT_GE(clock.elapsed() - lastBlock, 140);
  WaitUntil([] { return false; }, 400);
  EXPECT_EQ(timeouts, 1);
  EXPECT_EQ(proto.timeouts, 1);
  EXPECT_EQ(proto.Packets().Items(0)->DataSize(), 2);  // kept its state

  proto.SetTimeout(0);
  proto.DataReceived("c", 1);
  EXPECT_FALSE(proto.Timer().Enabled());
  WaitUntil([] { return false; }, 300);
  EXPECT_EQ(proto.timeouts, 1);
}

TEST(DataProcSilence, TimeoutHandlerExceptionBecomesFatal15_1) {
  TvxTestLog log;
  TvxDataProtocol proto;
  proto.SetLog(&log);
  proto.SetActive(true);
  proto.Packets().Add()->SetPacketEnd("\n");
  proto.ResetPackets();
  proto.SetTimeout(30);
  proto.OnTimeout = [](TObject*) { throw Exception("late"); };
  int fatal = 0;
  proto.OnFatalError = [&](TObject*, Cardinal code, Cardinal detail, const std::string&,
                           bool& raise) {
    EXPECT_EQ(code, 15u);
    EXPECT_EQ(detail, 1u);
    ++fatal;
    raise = fatal > 1;  // the second time the raise is left to the timer, which drops it
  };
  proto.DataReceived("a", 1);
  ASSERT_TRUE(WaitUntil([&] { return fatal == 1; }, 3000));
  EXPECT_TRUE(log.Has("Fatal Error: 15, 1, EXCEPTION in OnTimout handler.late"));
  proto.DataReceived("b", 1);
  ASSERT_TRUE(WaitUntil([&] { return fatal == 2; }, 3000));
  proto.DataReceived("\n", 1);  // still detecting after a tick's exception was dropped
  EXPECT_EQ(proto.Packets().Items(0)->DataSize(), 0);
}

TEST(DataProcMedium, OpenAndCloseResetDefinitionsAndClearConsumeData) {
  TvxTestLog log;
  PtyPair pty;
  NotifyingPtyMedium medium;
  medium.SetUseMainThread(true);
  Detector d;
  d.proto.SetLog(&log);
  TvxDataPacket* p = d.Add();  // Idle until the medium opens
  p->SetPacketBegin("<");
  p->SetPacketEnd(">");
  d.proto.SetConsumeData(true);
  medium.SetDataProcessor(&d.proto);
  std::string after;
  medium.OnAfterReceive = [&](TObject*, const void* buf, Cardinal len) {
    after.append(static_cast<const char*>(buf), len);
  };
  medium.SetDevicePath(pty.slavePath());
  medium.SetActive(true);
  ASSERT_TRUE(medium.IsOpen());
  EXPECT_FALSE(d.proto.ConsumeData());
  EXPECT_EQ(p->Phase(), TvxPacketPhase::WaitBegin);
  EXPECT_TRUE(log.Has("vxDataProt: Medium Opened"));
  pty.Write("noise<one><tw");
  ASSERT_TRUE(WaitUntil([&] { return after.size() == 13; }, 5000));
  EXPECT_EQ(d.packets, std::vector<std::string>{"<one>"});
  EXPECT_TRUE(d.proto.PacketPending());
  d.proto.SetConsumeData(true);
  medium.SetActive(false);
  EXPECT_FALSE(d.proto.ConsumeData());
  EXPECT_EQ(p->DataSize(), 0);  // the partial "<tw" was dropped
  EXPECT_TRUE(log.Has("vxDataProt: Medium Closed"));
}
