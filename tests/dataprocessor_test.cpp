// The processor chain: linking, sending through the medium, the one-shot timer, fatal
// errors and lost links.
#include <gtest/gtest.h>

#include <QElapsedTimer>

#include "support/ptymedium.h"
#include "support/ptypair.h"
#include "support/testlog.h"

namespace {
class TickingProcessor : public TvxCustomDataProcessor {
 public:
  using TvxCustomDataProcessor::TvxCustomDataProcessor;
  ~TickingProcessor() override { Destroying(); }
  void DoAfterSend(bool& handled) override {
    ++ticks;
    TvxCustomDataProcessor::DoAfterSend(handled);
  }
  int ticks = 0;
};
}  // namespace

TEST(DataProcessorChain, LinkingAttachesOnceAndRefusesSelf) {
  PtyPair pty;
  TvxTestLog log;
  TvxPtyMedium medium;
  TvxCustomDataProcessor first, second;
  first.SetLog(&log);
  second.SetLog(&log);
  medium.SetDataProcessor(&first);
  medium.SetDataProcessor(&first);
  first.SetIOComponent(&medium);
  EXPECT_EQ(medium.NotifyList().Count(), 1);  // one registration however often attached
  first.SetDataProcessor(&first);
  EXPECT_EQ(first.DataProcessor(), nullptr);
  first.SetDataProcessor(&second);
  EXPECT_EQ(second.IOComponent(), &medium);
  EXPECT_EQ(medium.NotifyList().Count(), 2);
  medium.SetDevicePath(pty.slavePath());
  medium.SetActive(true);
  medium.Notify(2);
  medium.SetActive(false);
  medium.Notify(1);
  medium.Notify(3);  // ignored
  EXPECT_EQ(log.Entries(), (std::vector<std::string>{"Medium Opened", "Medium Opened",
                                                     "Medium Closed", "Medium Closed"}));
  first.SetDataProcessor(nullptr);  // unlinking keeps the former next one attached
  EXPECT_EQ(second.IOComponent(), &medium);
  medium.SetDataProcessor(nullptr);
  EXPECT_EQ(first.IOComponent(), nullptr);
  EXPECT_EQ(medium.NotifyList().Count(), 1);
}

TEST(DataProcessorSend, SendsThroughTheMediumOrTheHook) {
  PtyPair pty;
  TvxTestLog log;
  TvxPtyMedium medium;
  TickingProcessor proc;
  proc.SetLog(&log);
  medium.SetDataProcessor(&proc);
  medium.SetDevicePath(pty.slavePath());
  medium.SetActive(true);
  proc.DoDataSend("abc", 3);
  proc.DoDataSend("abc", 0);
  proc.DoDataSend(nullptr, 3);
  proc.DoStringSend("");
  proc.DoStringSend("de");
  EXPECT_EQ(pty.Read(5, 2000), "abcde");
  EXPECT_EQ(log.Entries(), std::vector<std::string>{"DoDataSend: 3 bytes"});

  std::string hooked;
  proc.OnDataSend = [&](TObject*, const void* d, Cardinal n, bool isString, bool& handled) {
    hooked += (isString ? "s:" : "b:") + std::string(static_cast<const char*>(d), n) + ";";
    handled = true;
  };
  proc.DoDataSend("xy", 2);
  proc.DoStringSend("zz");
  EXPECT_EQ(hooked, "b:xy;s:zz;");
  EXPECT_EQ(medium.sent, "abcde");
  EXPECT_EQ(log.Entries().back(), "DoDataSend: 2 bytes");
  // The hook took the data: the restarted timer gives DoAfterSend one tick.
  proc.StartTimer(0);
  proc.Timer().SetInterval(30);
  proc.DoDataSend("q", 1);
  EXPECT_TRUE(WaitUntil([&] { return proc.ticks == 1; }, 2000));

  proc.OnDataSend = [](TObject*, const void*, Cardinal, bool, bool&) { throw Exception("hook"); };
  EXPECT_NO_THROW(proc.DoDataSend("q", 1));
  EXPECT_NO_THROW(proc.DoStringSend("q"));
}

TEST(DataProcessorTimer, EachArmingGivesExactlyOneTick) {
  TickingProcessor proc;
  proc.StartTimer(40);
  EXPECT_TRUE(WaitUntil([&] { return proc.ticks == 1; }, 2000));
  WaitUntil([] { return false; }, 150);
  EXPECT_EQ(proc.ticks, 1);
  EXPECT_FALSE(proc.Timer().Enabled());

  // Re-arming before the tick restarts the interval; still one tick.
  QElapsedTimer clock;
  clock.start();
  proc.StartTimer(80);
  WaitUntil([] { return false; }, 40);
  proc.StartTimer(80);
  EXPECT_TRUE(WaitUntil([&] { return proc.ticks == 2; }, 2000));
  EXPECT_GE(clock.elapsed(), 110);
  WaitUntil([] { return false; }, 150);
  EXPECT_EQ(proc.ticks, 2);

  // Stopped before its tick: none, and the interval is kept.
  proc.StartTimer(40);
  proc.StartTimer(0);
  WaitUntil([] { return false; }, 120);
  EXPECT_EQ(proc.ticks, 2);
  EXPECT_EQ(proc.Timer().Interval(), 40u);

  // A raising tick handler is contained.
  TvxTimer timer;
  int raised = 0;
  timer.SetInterval(10);
  timer.SetOnTimer([&](TObject*) {
    ++raised;
    throw Exception("tick");
  });
  EXPECT_TRUE(WaitUntil([&] { return raised >= 2; }, 2000));
}

TEST(DataProcessorTimer, ArmedFromAnotherThreadTicksOnItsOwn) {
  TickingProcessor proc;
  std::thread other([&] { proc.StartTimer(20); });
  other.join();
  EXPECT_TRUE(WaitUntil([&] { return proc.ticks == 1; }, 2000));
}

TEST(DataProcessorFatalError, LoggedWithoutPrefixRaisedUnlessCleared) {
  TvxTestLog log;
  TvxCustomDataProcessor proc;
  proc.SetLog(&log);
  proc.OnFatalError = [](TObject*, Cardinal, Cardinal, const std::string&, bool& raise) {
    raise = false;
  };
  EXPECT_NO_THROW(proc.RaiseFatalError(17, 6, "There are no files for transmission."));
  proc.OnFatalError = nullptr;
  try {
    proc.RaiseFatalError(17, 6, "There are no files for transmission.");
    ADD_FAILURE() << "not raised";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "There are no files for transmission.");
  }
  EXPECT_EQ(log.Entries(), std::vector<std::string>(
                               2, "Fatal Error: 17, 6, There are no files for transmission."));
}

TEST(DataProcessorLinks, LostLinksLeaveAWorkingProcessor) {
  auto* log = new TvxTestLog;
  auto* medium = new TvxPtyMedium;
  auto* next = new TvxCustomDataProcessor;
  TvxCustomDataProcessor proc;
  proc.SetLog(log);
  medium->SetDataProcessor(&proc);
  proc.SetDataProcessor(next);
  delete log;
  EXPECT_EQ(proc.Log(), nullptr);
  proc.LogMsg(dlSimple, "nothing");
  delete next;
  EXPECT_EQ(proc.DataProcessor(), nullptr);
  bool handled = false;
  proc.DoDataReceived("a", 1, handled);
  delete medium;
  EXPECT_EQ(proc.IOComponent(), nullptr);
  EXPECT_NO_THROW(proc.DoDataSend("a", 1));
}
