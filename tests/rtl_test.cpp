// The framework equivalents: formatter, component model, free notification, threads.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <atomic>

#include "support/ptypair.h"
#include "vxcomm/rtl/component.h"
#include "vxcomm/rtl/delegate.h"
#include "vxcomm/rtl/format.h"
#include "vxcomm/rtl/formloader.h"
#include "vxcomm/rtl/thread.h"
#include "vxcomm/unqualified.h"

TEST(Format, RendersPrintfSpecifiers) {
  EXPECT_EQ(Format("Fatal Error: %u, %u, %s", {17u, 6u, std::string("x")}),
            "Fatal Error: 17, 6, x");
  EXPECT_EQ(Format("%d|%5d|%-5d|%05d|%.3d", {-7, 42, 42, -42, 7}), "-7|   42|42   |-0042|007");
  EXPECT_EQ(Format("%x %X %o %c %%", {255, 255, 8, 'A'}), "ff FF 10 A %");
  EXPECT_EQ(Format("%.2f %s %.2s", {1.005 + 1, "abc", std::string("abc")}), "2.00 abc ab");
  EXPECT_EQ(Format("no args", {}), "no args");
}

TEST(Format, EveryMismatchIsAnError) {
  EXPECT_THROW(Format("%d", {}), EConvertError);
  EXPECT_THROW(Format("%d", {"text"}), EConvertError);
  EXPECT_THROW(Format("%s", {12}), EConvertError);
  EXPECT_THROW(Format("%f", {"x"}), EConvertError);
  EXPECT_THROW(Format("%p", {1}), EConvertError);
  EXPECT_THROW(Format("%q", {1}), EConvertError);
  EXPECT_THROW(Format("trailing %", {1}), EConvertError);
  EXPECT_THROW(Format("%99999d", {1}), EConvertError);
}

namespace {
class Watcher : public TComponent {
 public:
  using TComponent::TComponent;
  ~Watcher() override { Destroying(); }
  void Notification(TComponent* c, TOperation op) override {
    if (op == opRemove && c == watched) {
      watched = nullptr;
      ++removals;
    }
  }
  void Loaded() override {
    loadedWhileLoading = IsLoading();
    TComponent::Loaded();
    ++loadedCount;
  }
  TComponent* watched = nullptr;
  int removals = 0;
  int loadedCount = 0;
  bool loadedWhileLoading = false;
};
}  // namespace

TEST(Component, FreeNotificationReachesEachSideWhicheverGoesFirst) {
  for (int order = 0; order < 2; ++order) {
    auto* a = new Watcher;
    auto* b = new Watcher;
    a->watched = b;
    b->watched = a;
    a->FreeNotification(b);
    a->FreeNotification(b);  // registering twice notifies once
    Watcher* first = order == 0 ? a : b;
    Watcher* second = order == 0 ? b : a;
    delete first;
    EXPECT_EQ(second->watched, nullptr);
    EXPECT_EQ(second->removals, 1);
    delete second;  // must not call into the freed first one (ASan would tell)
  }
}

TEST(Component, OwnerDestroysItsComponentsAndFormLoaderCallsLoadedOnce) {
  QObject owner;
  TFormLoader form;
  auto* a = form.Create<Watcher>(&owner);
  auto* b = form.Create<Watcher>(&owner);
  EXPECT_TRUE(a->IsLoading());
  EXPECT_TRUE(b->IsLoading());
  form.Finish();
  EXPECT_FALSE(a->IsLoading());
  EXPECT_EQ(a->loadedCount, 1);
  EXPECT_EQ(b->loadedCount, 1);
  EXPECT_TRUE(a->loadedWhileLoading);
  EXPECT_EQ(a->Owner(), &owner);
}

namespace {
struct Target {
  void F(int v) { sum += v; }
  void G(int v) { sum -= v; }
  int sum = 0;
};
}  // namespace

TEST(Delegate, ComparesByObjectAndMethod) {
  Target t1, t2;
  using M = TMethod<void(int)>;
  EXPECT_TRUE((M::Of<&Target::F>(&t1) == M::Of<&Target::F>(&t1)));
  EXPECT_FALSE((M::Of<&Target::F>(&t1) == M::Of<&Target::G>(&t1)));
  EXPECT_FALSE((M::Of<&Target::F>(&t1) == M::Of<&Target::F>(&t2)));
  M::Of<&Target::F> (&t1)(5);
  EXPECT_EQ(t1.sum, 5);
}

namespace {
class SyncThread : public TThread {
 public:
  ~SyncThread() override { Stop(); }
  std::atomic<int> ran{0};
  std::atomic<int> refused{0};

 protected:
  void Execute() override {
    while (!Terminated()) {
      if (Synchronize([this] { ++ran; }) == false) ++refused;
    }
  }
};
}  // namespace

TEST(Thread, SynchronizeRunsOnMainThreadAndStopNeverDeadlocks) {
  for (int i = 0; i < 50; ++i) {
    SyncThread t;
    t.Start();
    // Let some calls through, then stop while the main thread does not serve the queue.
    WaitUntil([&] { return t.ran > 2; }, 5000);
    t.Stop();
    EXPECT_GT(t.ran.load(), 2);
    QCoreApplication::processEvents();  // cancelled calls left in the queue run nothing
  }
}
