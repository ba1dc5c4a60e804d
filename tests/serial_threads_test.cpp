// No port thread outlives its component: repeated open, traffic, close and destroy with
// delivery on either thread, closes from inside a handler and under a pending delivery.
#include <gtest/gtest.h>

#include <dirent.h>
#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <memory>

#include "support/ptypair.h"
#include "support/serialfixture.h"

namespace {
int ThreadCount() {
  int n = 0;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(dir))
      if (entry->d_name[0] != '.') ++n;
    closedir(dir);
  }
  return n;
}

class PortThreads : public ::testing::TestWithParam<bool> {};
}  // namespace

TEST_P(PortThreads, TwoHundredCyclesOfOpenTrafficCloseDestroy) {
  PtyPair pty;
  const auto port = static_cast<std::uint16_t>(MapPort(70, pty.slavePath()));
  const int threads_before = ThreadCount();
  for (int cycle = 0; cycle < 200; ++cycle) {
    auto comm = std::make_unique<TvxComm>();
    comm->SetUseMainThread(GetParam());
    comm->SetStreamProtocol(spNone);
    std::atomic<std::size_t> received{0};
    comm->OnAfterReceive = [&](TObject*, const void*, Cardinal n) { received += n; };
    comm->SetComPortNo(port);
    comm->SetActive(true);
    ASSERT_TRUE(comm->Active());
    pty.Write("ping" + std::to_string(cycle));
    comm->SendString("pong");
    if (cycle % 3 == 0) {
      ASSERT_TRUE(WaitUntil([&] { return received > 0; }, 5000)) << cycle;
    }
    if (cycle % 2 == 0) comm->SetActive(false);  // otherwise the destructor closes
    comm.reset();
    // What the far end got is drained so the line never fills.
    pty.Read(1 << 16, 0);
  }
  // Threads are joined by Close, not left to end on their own.
  EXPECT_LE(ThreadCount(), threads_before);
}

TEST_P(PortThreads, AHandlerMayCloseThePortFromInsideAnEvent) {
  PtyPair pty;
  TvxComm comm;
  comm.SetUseMainThread(GetParam());
  comm.SetComPortNo(static_cast<std::uint16_t>(MapPort(71, pty.slavePath())));
  std::string seen;
  comm.OnAfterReceive = [&](TObject*, const void* b, Cardinal n) {
    comm.Close();
    // The block stays readable after the close inside the handler.
    seen.assign(static_cast<const char*>(b), n);
  };
  comm.SetActive(true);
  pty.Write("last words");
  ASSERT_TRUE(WaitUntil([&] { return !comm.Active(); }, 5000));
  EXPECT_EQ(seen.substr(0, 4), "last");
  comm.SetActive(true);  // and it opens again
  EXPECT_TRUE(comm.Active());
  comm.SetActive(false);
  comm.OnAfterReceive = nullptr;
}

TEST(PortThreadsMain, CloseUnderAPendingMainThreadDeliveryNeitherWaitsNorDelivers) {
  PtyPair pty;
  TvxComm comm;
  comm.SetComPortNo(static_cast<std::uint16_t>(MapPort(72, pty.slavePath())));
  std::atomic<int> deliveries{0};
  comm.OnAfterReceive = [&](TObject*, const void*, Cardinal) { ++deliveries; };
  comm.SetActive(true);
  pty.Write("queued");
  // The main thread does not run its events: the message thread waits for it.
  QThread::msleep(100);
  comm.SetActive(false);
  EXPECT_FALSE(comm.Active());
  WaitUntil([] { return false; }, 100);
  EXPECT_EQ(deliveries, 0);
}

TEST(PortThreadsMain, MainThreadDeliveryOnATerminalWatchesInTheLoopAndNeverNests) {
  PtyPair pty;
  TvxComm comm;
  comm.SetStreamProtocol(spNone);
  comm.SetComPortNo(static_cast<std::uint16_t>(MapPort(73, pty.slavePath())));
  int depth = 0, deepest = 0;
  std::string seen;
  comm.OnAfterReceive = [&](TObject*, const void* b, Cardinal n) {
    deepest = std::max(deepest, ++depth);
    const bool first = seen.empty();
    seen.append(static_cast<const char*>(b), n);
    if (first) {
      // More input while the handler runs the event loop: it waits for this event.
      pty.Write("second");
      WaitUntil([] { return false; }, 100);
    }
    --depth;
  };
  comm.SetActive(true);
  ASSERT_TRUE(comm.Active());
  EXPECT_EQ(comm.CommThread(), nullptr);
  EXPECT_EQ(comm.MsgThread(), nullptr);
  pty.Write("first");
  ASSERT_TRUE(WaitUntil([&] { return seen.size() >= 11; }, 5000)) << seen;
  EXPECT_EQ(seen, "firstsecond");
  EXPECT_EQ(deepest, 1);
  // The far end hangs up: the port closes itself on the main thread.
  pty.CloseMaster();
  EXPECT_TRUE(WaitUntil([&] { return !comm.Active(); }, 5000));
  comm.OnAfterReceive = nullptr;
}

INSTANTIATE_TEST_SUITE_P(Delivery, PortThreads, ::testing::Values(true, false),
                         [](const auto& info) {
                           return info.param ? "MainThread" : "MessageThread";
                         });
