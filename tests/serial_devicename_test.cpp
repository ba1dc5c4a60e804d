// Opening a serial device by its name with TvxComm as it is: a device path, a COM name
// mapped to a device, an open that answers instead of throwing, a component that writes
// nothing on standard error (its open line goes to the log at debug level), and a descendant
// deleted while the port thread delivers.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QPointer>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>

#include "support/ptypair.h"
#include "support/receivedbytes.h"
#include "support/serialfixture.h"
#include "support/testlog.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Bytes go both ways through Comm, opened on Pty.
void ExpectTraffic(TvxComm& comm, PtyPair& pty) {
  Bytes received;
  comm.OnAfterReceive = [&](TObject*, const void* data, Cardinal len) { received.Add(data, len); };
  pty.Write("from the line");
  EXPECT_TRUE(WaitUntil([&] { return received.Text() == "from the line"; }, 5000));
  comm.SendString("to the line");
  EXPECT_EQ(pty.Read(11, 5000), "to the line");
  comm.OnAfterReceive = nullptr;
}

TEST(DeviceName, ADevicePathOpensWithoutASubclass) {
  PtyPair pty;
  TvxComm comm;
  comm.SetStreamProtocol(spNone);
  comm.SetDeviceName(pty.slavePath());
  EXPECT_EQ(comm.GetDeviceName(), pty.slavePath());
  ASSERT_TRUE(comm.TryOpen());
  ExpectTraffic(comm, pty);
}

// "./line" and "dir/line" are paths from the working directory, as a shell user means them.
TEST(DeviceName, ARelativePathOpensFromTheWorkingDirectory) {
  PtyPair pty;
  const std::string dir = MakeTempDir("devname-rel");
  ASSERT_EQ(::symlink(pty.slavePath().c_str(), (dir + "/line").c_str()), 0);
  const std::string parent = dir.substr(0, dir.rfind('/'));
  const std::string leaf = dir.substr(dir.rfind('/') + 1);
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(::chdir(parent.c_str()), 0);
  for (const std::string& name : {leaf + "/line", "./" + leaf + "/line"}) {
    SCOPED_TRACE(name);
    TvxComm comm;
    comm.SetStreamProtocol(spNone);
    comm.SetDeviceName(name);
    std::string why;
    EXPECT_TRUE(comm.TryOpen(&why)) << why;
    if (comm.Active()) ExpectTraffic(comm, pty);
  }
  ASSERT_EQ(::chdir(cwd), 0);
}

TEST(DeviceName, AMappedComNameOpensItsDevice) {
  PtyPair pty;
  TvxComm comm;
  comm.SetStreamProtocol(spNone);
  comm.SetDeviceName("COM" + std::to_string(MapPort(61, pty.slavePath())));
  EXPECT_EQ(comm.GetDeviceName(), "COM61");
  ASSERT_TRUE(comm.TryOpen());
  ExpectTraffic(comm, pty);
}

TEST(DeviceName, ANewNameReopensAnOpenPortOnThatDeviceAndNotifies) {
  PtyPair first, second;
  TvxNotifyRecorder notified;  // outlives the component, which notifies as it closes
  TvxComm comm;
  comm.AddNotifyHandler(notified.Handler());
  comm.SetStreamProtocol(spNone);
  comm.SetDeviceName(first.slavePath());
  ASSERT_TRUE(comm.TryOpen());
  comm.SetDeviceName(second.slavePath());
  EXPECT_TRUE(comm.Active());
  // 3 for each new name; the second closes the port (1) and opens it on the new device (2).
  EXPECT_EQ(notified.Codes(), (std::vector<int>{3, 2, 1, 2, 3}));
  ExpectTraffic(comm, second);
}

TEST(DeviceName, AnEmptyNameGoesBackToThePortNumber) {
  TvxComm comm;
  comm.SetComPortNo(7);
  comm.SetDeviceName("/dev/vx-no-such-port");
  EXPECT_EQ(comm.GetDeviceName(), "/dev/vx-no-such-port");
  comm.SetDeviceName("");
  EXPECT_EQ(comm.GetDeviceName(), "COM7");
}

TEST(DeviceName, TryOpenAnswersWithTheReasonAndOpenStillThrows) {
  TvxComm comm;
  comm.SetDeviceName("/dev/vx-no-such-port");
  int fatal_errors = 0;
  comm.OnFatalError = [&](TObject*, Cardinal code, Cardinal, const std::string&, bool&) {
    EXPECT_EQ(code, 1u);
    ++fatal_errors;
  };
  std::string why;
  EXPECT_FALSE(comm.TryOpen(&why));
  EXPECT_EQ(why, comm.LastErrorText());
  EXPECT_EQ(why.rfind("Device \"/dev/vx-no-such-port\" Open Error !!!\r", 0), 0u) << why;
  EXPECT_EQ(comm.FailureText(), why.substr(why.find('\r') + 1));
  EXPECT_FALSE(comm.Active());
  EXPECT_EQ(OpenErrorOf(comm), why);
  EXPECT_EQ(fatal_errors, 2);
}

TEST(Quiet, NothingReachesStandardErrorUnlessAsked) {
  const std::string path = MakeTempDir("serial-quiet") + "/stderr.txt";
  std::fflush(stderr);
  const int saved = dup(2);
  const int capture = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(capture, 0);
  dup2(capture, 2);
  {
    PtyPair pty;
    TvxComm comm;
    comm.SetStreamProtocol(spNone);
    comm.SetDeviceName(pty.slavePath());
    const bool opened = comm.TryOpen();
    comm.Close();
    comm.SetDeviceName("/dev/vx-no-such-port");
    const bool refused = !comm.TryOpen();
    EXPECT_TRUE(opened && refused);
  }
  std::fflush(stderr);
  dup2(saved, 2);
  ::close(saved);
  ::close(capture);
  EXPECT_FALSE(vxDebugOutputEnabled());
  EXPECT_EQ(ReadAll(path), "");
}

// The open's own line goes to the log sink at debug level, after a refused open too (when
// OnFatalError does not raise it), and a sink that keeps less than debug gets none.
TEST(Quiet, TheOpenLineGoesToTheLogAtDebugLevel) {
  const auto openLines = [](TDetailLevel level) {
    TvxTestLog log;
    log.detailLevel = level;
    PtyPair pty;
    TvxComm comm;
    comm.SetLog(&log);
    comm.OnFatalError = [](TObject*, Cardinal, Cardinal, const std::string&, bool& raise) {
      raise = false;
    };
    comm.SetStreamProtocol(spNone);
    comm.SetDeviceName(pty.slavePath());
    EXPECT_TRUE(comm.TryOpen());
    comm.Close();
    comm.SetDeviceName("/dev/vx-no-such-port");
    EXPECT_FALSE(comm.TryOpen());
    int lines = 0;
    for (const std::string& entry : log.Entries())
      if (entry.find("TvxCustomComm.Open 2 ...") != std::string::npos) ++lines;
    return lines;
  };
  EXPECT_EQ(openLines(dlDebug), 2);
  EXPECT_EQ(openLines(dlDetail), 0);
}

// A descendant with state of its own that its override reads on the port thread, and no
// steps in its destructor.
class CountingComm : public TvxComm {
 public:
  bool DeliverData(const void* buffer, Cardinal len) override {
    blocks_.push_back(len);
    total += len;
    return TvxComm::DeliverData(buffer, len);
  }
  std::atomic<std::size_t> total{0};

 private:
  std::vector<Cardinal> blocks_;  // the delivering thread's
};

// Deletes a CountingComm on the port thread road while bytes flow, the way Remove takes
// it away (delete, deleteLater, its parent going).
void DeleteWhileDataFlows(const std::function<void(CountingComm*, QObject*)>& remove) {
  PtyPair pty;
  auto* parent = new QObject;
  QPointer<QObject> parent_alive(parent);
  auto* comm = new CountingComm;
  comm->setParent(parent);
  QPointer<QObject> alive(comm);
  comm->SetUseMainThread(false);
  comm->SetStreamProtocol(spNone);
  comm->SetDeviceName(pty.slavePath());
  Bytes received;
  comm->OnAfterReceive = [&](TObject*, const void* data, Cardinal len) { received.Add(data, len); };
  ASSERT_TRUE(comm->TryOpen());
  std::atomic<bool> stop{false};
  std::string sent;
  for (int i = 0; sent.size() < 200000; ++i) sent += std::to_string(i) + ",";
  std::thread writer([&] {
    // Writes what the line takes (the master end does not block) until told to stop.
    std::size_t at = 0;
    while (!stop && at < sent.size()) {
      const ssize_t n =
          ::write(pty.master(), sent.data() + at, std::min<std::size_t>(512, sent.size() - at));
      if (n > 0)
        at += static_cast<std::size_t>(n);
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  ASSERT_TRUE(WaitUntil([&] { return comm->total > 1000; }, 5000));
  remove(comm, parent);
  EXPECT_TRUE(WaitUntilDeleted(alive, 5000));
  stop = true;
  writer.join();
  delete parent_alive.data();
  // What was delivered before the end is the data as it was sent.
  const std::string got = received.Text();
  EXPECT_GT(got.size(), 1000u);
  EXPECT_EQ(sent.compare(0, got.size(), got), 0);
}

TEST(Destruction, ADescendantDeletedWhileThePortThreadDelivers) {
  DeleteWhileDataFlows([](CountingComm* comm, QObject*) { delete comm; });
}

TEST(Destruction, ADescendantDeletedLaterWhileThePortThreadDelivers) {
  DeleteWhileDataFlows([](CountingComm* comm, QObject*) { comm->deleteLater(); });
}

TEST(Destruction, ADescendantWhoseParentGoesWhileThePortThreadDelivers) {
  DeleteWhileDataFlows([](CountingComm*, QObject* parent) { delete parent; });
}

}  // namespace
