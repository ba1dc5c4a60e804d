// Handlers of the serial component that throw, close the port, deleteLater the component or
// delete it, from each event it delivers (received data, output run empty, a trace state,
// a communication error, a fatal error, the close of a device that went away), with the
// events on the main thread and on the port thread. Whatever the handler does, the
// component keeps its word: a throw is reported and delivery goes on, a close closes once
// and releases the device, a deletion closes the port and the object goes.
#include <gtest/gtest.h>

#include <QPointer>
#include <algorithm>
#include <mutex>
#include <stdexcept>
#include <tuple>

#include "support/ptypair.h"
#include "support/serialfixture.h"
#include "support/testlog.h"
#include "support/testui.h"

namespace {

enum class Road { Main, Port };
enum class Event { Receive, AfterSend, TraceState, CommError, FatalError, Close };
enum class Action { Throw, Close, DeleteLater, Delete };

const char* const kThrown = "the handler failed";

// What the handlers saw; it outlives the component. Written on the delivering thread (and
// the main thread), read by the test.
struct Seen {
  void Acted() {
    std::lock_guard lock(mutex);
    ++acted;
  }
  int Acts() {
    std::lock_guard lock(mutex);
    return acted;
  }
  void Received(const void* data, Cardinal len) {
    std::lock_guard lock(mutex);
    received.append(static_cast<const char*>(data), len);
  }
  std::string Bytes() {
    std::lock_guard lock(mutex);
    return received;
  }
  void Fatal(const std::string& message) {
    std::lock_guard lock(mutex);
    fatal.push_back(message);
  }
  bool FatalSaid(const std::string& message) {
    std::lock_guard lock(mutex);
    return std::find(fatal.begin(), fatal.end(), message) != fatal.end();
  }
  std::mutex mutex;
  int acted = 0;
  std::string received;
  std::vector<std::string> fatal;
};

using Case = std::tuple<Road, Event, Action>;

class Handlers : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    std::tie(road_, event_, action_) = GetParam();
    comm_ = new TvxComm;
    alive_ = comm_;
    comm_->SetDeviceName(pty_.slavePath());
    comm_->SetUseMainThread(road_ == Road::Main);
    comm_->SetStreamProtocol(spNone);
    comm_->SetReportDeviceLoss(true);
    comm_->AddNotifyHandler(notified_.Handler());
    comm_->SetLog(&log_);
    comm_->OnAfterReceive = [this](TObject*, const void* data, Cardinal len) {
      seen_.Received(data, len);
      if (event_ == Event::Receive) Act();
      if (event_ == Event::FatalError && !receive_failed_) {
        receive_failed_ = true;
        throw std::runtime_error("the receive failed");
      }
    };
    // The fatal errors stay raised: shown (to the UI services here) once the handler is done.
    comm_->OnFatalError = [this](TObject*, Cardinal, Cardinal, const std::string& message, bool&) {
      seen_.Fatal(message);
      if (event_ == Event::FatalError) Act();
    };
    switch (event_) {
      case Event::AfterSend:
        comm_->SetTraceStates({tsTxEmpty});
        comm_->OnAfterSend = [this](TObject*) { Act(); };
        break;
      case Event::TraceState:
        comm_->SetEventChar('!');
        comm_->SetTraceStates({tsRxFlag});
        comm_->OnTraceState = [this](TObject*, TTraceStates states) {
          if (states.Contains(tsRxFlag)) Act();
        };
        break;
      case Event::CommError:
        comm_->OnCommError = [this](TObject*, Cardinal, Cardinal, TComStateFlags, bool&) { Act(); };
        break;
      case Event::Close:
        comm_->OnClose = [this](TObject*) { Act(); };
        break;
      default:
        break;
    }
  }
  void TearDown() override { delete alive_.data(); }

  // The action under test, once.
  void Act() {
    if (acting_.exchange(true)) return;
    seen_.Acted();
    switch (action_) {
      case Action::Throw:
        throw std::runtime_error(kThrown);
      case Action::Close:
        comm_->Close();
        break;
      case Action::DeleteLater:
        comm_->deleteLater();
        break;
      case Action::Delete:
        delete comm_;
        break;
    }
  }

  // Makes the event under test happen.
  void Trigger() {
    switch (event_) {
      case Event::Receive:
      case Event::FatalError:
        pty_.Write("ping");
        break;
      case Event::AfterSend:
        comm_->SendString("out");
        ASSERT_EQ(pty_.Read(3, 5000), "out");
        break;
      case Event::TraceState:
        pty_.Write("hey!");
        break;
      case Event::CommError:
      case Event::Close:
        pty_.CloseMaster();
        break;
    }
  }

  // The device went away with the event: the close is the library's own.
  bool Lost() const { return event_ == Event::CommError || event_ == Event::Close; }

  // True when another component can open the device: the first one released it.
  bool DeviceReleased() {
    TvxComm other;
    other.SetDeviceName(pty_.slavePath());
    other.SetStreamProtocol(spNone);
    return other.TryOpen();
  }

  bool Shown(const std::string& message) const {
    return std::find(ui_.exceptions.begin(), ui_.exceptions.end(), message) != ui_.exceptions.end();
  }

  int Closes() {
    const std::vector<int> codes = notified_.Codes();
    return static_cast<int>(std::count(codes.begin(), codes.end(), 1));
  }

  Road road_;
  Event event_;
  Action action_;
  PtyPair pty_;
  TvxTestUIServices ui_;
  TvxTestLog log_;
  TvxNotifyRecorder notified_;
  Seen seen_;
  TvxComm* comm_ = nullptr;
  QPointer<QObject> alive_;
  std::atomic<bool> acting_{false};
  std::atomic<bool> receive_failed_{false};
};

TEST_P(Handlers, TheComponentKeepsItsWord) {
  ASSERT_TRUE(comm_->TryOpen());
  Trigger();
  ASSERT_TRUE(WaitUntil([&] { return seen_.Acts() == 1; }, 10000));

  if (event_ == Event::FatalError && action_ != Action::Throw) {
    // The report goes on after the handler, whatever it did: the message is shown whole.
    EXPECT_TRUE(WaitUntil([&] { return Shown("the receive failed"); }, 5000));
  }
  switch (action_) {
    case Action::Throw:
      if (event_ == Event::Close) {
        // What OnClose throws is dropped: the close stands.
        EXPECT_TRUE(WaitUntil([&] { return !comm_->Active(); }, 5000));
      } else if (event_ != Event::FatalError) {
        // Reported as fatal error 1, shown (here: to OnFatalError).
        EXPECT_TRUE(WaitUntil([&] { return seen_.FatalSaid(kThrown); }, 5000));
      }
      if (Lost()) {
        EXPECT_TRUE(WaitUntil([&] { return !comm_->Active(); }, 5000));
        EXPECT_EQ(Closes(), 1);
      } else {
        // Delivery goes on after the throw.
        pty_.Write("again");
        EXPECT_TRUE(
            WaitUntil([&] { return seen_.Bytes().find("again") != std::string::npos; }, 5000));
        EXPECT_TRUE(comm_->Active());
      }
      break;
    case Action::Close:
      EXPECT_TRUE(WaitUntil([&] { return !comm_->Active(); }, 5000));
      EXPECT_EQ(Closes(), 1);
      if (!Lost()) {
        EXPECT_TRUE(DeviceReleased());
      }
      break;
    case Action::DeleteLater:
    case Action::Delete:
      EXPECT_TRUE(WaitUntilDeleted(alive_, 5000));
      EXPECT_EQ(Closes(), 1);
      if (!Lost()) {
        EXPECT_TRUE(DeviceReleased());
      }
      break;
  }
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  static const char* const roads[] = {"MainThread", "PortThread"};
  static const char* const events[] = {"Receive",   "AfterSend",  "TraceState",
                                       "CommError", "FatalError", "Close"};
  static const char* const actions[] = {"Throws", "Closes", "DeletesLater", "Deletes"};
  const auto [road, event, action] = info.param;
  return std::string(roads[static_cast<int>(road)]) + events[static_cast<int>(event)] +
         actions[static_cast<int>(action)];
}

INSTANTIATE_TEST_SUITE_P(EveryEvent, Handlers,
                         ::testing::Combine(::testing::Values(Road::Main, Road::Port),
                                            ::testing::Values(Event::Receive, Event::AfterSend,
                                                              Event::TraceState, Event::CommError,
                                                              Event::FatalError, Event::Close),
                                            ::testing::Values(Action::Throw, Action::Close,
                                                              Action::DeleteLater, Action::Delete)),
                         CaseName);

}  // namespace
